#pragma once
// "Источник видео" of a camera: the switcher, or the camera's own network
// source (address, RTSP transport, user and password, frame rate).
#include <QDialog>

#include "video/NetworkVideo.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLineEdit;

namespace zv::ui {

class SourceDialog : public QDialog {
  Q_OBJECT
 public:
  SourceDialog(const QString& cameraName, const NetworkCameraSettings& current, QWidget* parent);
  // What the fields say now.
  NetworkCameraSettings Settings() const;

 private:
  void UpdateEnabled();
  QCheckBox* network_;
  QLineEdit* url_;
  QComboBox* transport_;
  QLineEdit* user_;
  QLineEdit* password_;
  QDoubleSpinBox* fps_;
};

}  // namespace zv::ui
