#pragma once
// The capture device's settings screens: picture size ("Формат видео..."),
// input and video standard ("Источник видео..."), and brightness, contrast,
// saturation and hue ("Яркость/контрастность...").
#include <QObject>
#include <QWidget>

#include "platform/Capture.h"

namespace zv {
class Application;
}

namespace zv::ui {

// The capture part of the "Видео" page: live video, the three settings
// buttons, and the video-emulation group with its file name.
QWidget* BuildCaptureControls(Application& app, QWidget* parent);

class QtCaptureDialogs final : public QObject, public ICaptureDialogs {
  Q_OBJECT
 public:
  explicit QtCaptureDialogs(QWidget* parent) : QObject(parent), parent_(parent) {}
  bool FormatDialog(ICaptureDriver& driver) override;
  void SourceDialog(ICaptureDriver& driver) override;
  void DisplayDialog(ICaptureDriver& driver) override;

 private:
  QWidget* parent_;
};

}  // namespace zv::ui
