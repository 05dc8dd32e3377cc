#pragma once
// The camera area on screen: one CameraView per camera, drawn from the
// camera's state (its shown picture, the zone set-up overlay, alarm zones
// and the frame in the Object's colour), with the camera's context menu and
// zone painting; and the live panel that shows grabbed frames while live
// video is on.
#include <QImage>
#include <QLabel>
#include <QWidget>
#include <vector>

#include "app/Application.h"
#include "video/VideoInput.h"

class QPainter;

namespace zv::ui {

// A 24-bit picture as a QImage (a copy, top row first).
QImage PictureToImage(const TPicture& pic);
// Draws camera's view of width x height, as the view shows it.
void PaintCamera(QPainter& p, const TCamera& camera, int width, int height);
// Writes pic to path; the format follows the name's suffix (PNG, JPEG,
// BMP), BMP when the suffix names none.
bool SavePicture(const TPicture& pic, const QString& path);

class CameraView : public QWidget {
  Q_OBJECT
 public:
  CameraView(TCamera& camera, Journal& journal, QWidget* parent);
  ~CameraView() override;
  TCamera* camera() const { return camera_; }

 protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;

 private:
  void Release();
  void SaveFrameAs();
  TCamera* camera_;
  Journal& journal_;
  std::vector<std::pair<Signal<>*, int>> plain_;
  int zoneConn_ = 0;
};

// Keeps one view per camera inside viewPanel, placed as the core tiles
// them, and the live picture in livePanel.  Owned by viewPanel.
class CameraViews : public QObject {
  Q_OBJECT
 public:
  CameraViews(QWidget* viewPanel, QWidget* livePanel, Application& app);
  ~CameraViews() override;
  CameraView* View(int k) const;
  void Sync();

 protected:
  bool eventFilter(QObject* obj, QEvent* e) override;

 private:
  QWidget* viewPanel_;
  QWidget* livePanel_;
  QLabel* live_ = nullptr;
  Application& app_;
  std::vector<CameraView*> views_;
  int layoutConn_ = 0, liveConn_ = 0;
};

// Sets the camera area up in the main window: call once, after the window
// is built and before FormCreate.  Also installs the capture device's
// settings dialogs.
CameraViews* AttachCameraViews(QWidget* viewPanel, QWidget* livePanel, Application& app);

// Waits until every camera view shows a picture, then writes a picture of
// window to path and closes the window (which runs the normal shutdown).
// Gives up waiting after timeoutMs and writes what is shown then.
void ScreenshotWhenLive(QWidget* window, Application& app, const QString& path,
                        int timeoutMs = 30000);

}  // namespace zv::ui
