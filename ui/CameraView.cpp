#include "ui/CameraView.h"

#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "ui/CaptureDialogs.h"
#include "ui/Guard.h"

namespace zv::ui {

namespace {

QColor Rgb(TColor c) {
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

// The rectangle (x1, y1)-(x2, y2) as the window system fills it: right and
// bottom edges excluded.
QRect Span(int x1, int y1, int x2, int y2) {
  return QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1);
}

void HatchedRect(QPainter& p, const QRect& r, const QColor& c, Qt::BrushStyle style) {
  if (r.width() < 0 || r.height() < 0) return;
  p.setPen(QPen(c, 1));
  p.setBrush(QBrush(c, style));
  p.drawRect(r);
}

void TextOnBlack(QPainter& p, int x, int y, const QString& text, const QColor& c) {
  p.setBackgroundMode(Qt::OpaqueMode);
  p.setBackground(Qt::black);
  p.setPen(c);
  p.drawText(x, y + p.fontMetrics().ascent(), text);
  p.setBackgroundMode(Qt::TransparentMode);
}

void DottedOutline(QPainter& p, const ZoneRect& z) {
  QPolygon poly;
  poly << QPoint(z.left, z.top) << QPoint(z.right, z.top) << QPoint(z.right, z.bottom)
       << QPoint(z.left, z.bottom) << QPoint(z.left, z.top);
  p.setPen(QPen(Qt::red, 1, Qt::DotLine));
  p.drawPolyline(poly);
}

}  // namespace

QImage PictureToImage(const TPicture& pic) {
  if (pic.Empty()) return QImage();
  QImage img(pic.Width(), pic.Height(), QImage::Format_RGB888);
  for (int y = 0; y < pic.Height(); ++y) {
    const std::uint8_t* s = pic.ScreenRow(y);
    uchar* d = img.scanLine(y);
    for (int x = 0; x < pic.Width(); ++x) {
      d[3 * x] = s[3 * x + 2];
      d[3 * x + 1] = s[3 * x + 1];
      d[3 * x + 2] = s[3 * x];
    }
  }
  return img;
}

void PaintCamera(QPainter& p, const TCamera& cam, int w, int h) {
  const QImage img = PictureToImage(cam.ShownPicture());
  if (img.isNull())
    p.fillRect(0, 0, w, h, Qt::black);
  else if (img.width() == w && img.height() == h)
    p.drawImage(0, 0, img);
  else
    p.drawImage(QRect(0, 0, w, h), img);

  const CameraOverlay o = cam.Overlay(w, h);
  if (o.zoneSetup) {
    const QColor lime(0, 255, 0), fuchsia(255, 0, 255);
    HatchedRect(p, Span(0, 0, o.s1, 2 * o.s1), lime, Qt::BDiagPattern);
    TextOnBlack(p, o.s1 + 5, 5, "Минимальный размер записывающихся изменений", lime);
    HatchedRect(p, Span(0, h - 2 * o.s2, o.s2, h), fuchsia, Qt::FDiagPattern);
    TextOnBlack(p, o.s2 + 5, h - p.fontMetrics().height() - 5,
                "Минимальный размер объекта для сработки", fuchsia);
  }
  p.setBrush(Qt::NoBrush);
  const QRect clip = p.hasClipping() ? p.clipBoundingRect().toAlignedRect() : QRect(0, 0, w, h);
  for (const ZoneRect& z : o.outlines) {
    if (!clip.intersects(QRect(z.left, z.top, z.right - z.left + 1, z.bottom - z.top + 1)))
      continue;
    DottedOutline(p, z);
    if (o.crosses) {
      const CrossLines x = ZoneCross(z);
      p.setPen(QPen(Qt::red, 1));
      p.drawLine(x.ax1, x.ay1, x.ax2 - 1, x.ay2 - 1);
      p.drawLine(x.bx1, x.by1, x.bx2 + 1, x.by2 - 1);
    }
  }
  p.setPen(QPen(Rgb(o.frameColor), 1));
  for (int i = 0; i < 3; ++i) p.drawRect(Span(i, i, w - i, h - i));
}

bool SavePicture(const TPicture& pic, const QString& path) {
  const QImage img = PictureToImage(pic);
  if (img.isNull()) return false;
  const QString suffix = QFileInfo(path).suffix().toLower();
  const char* format = "BMP";
  if (suffix == "png")
    format = "PNG";
  else if (suffix == "jpg" || suffix == "jpeg")
    format = "JPEG";
  return img.save(path, format);
}

// --- CameraView

CameraView::CameraView(TCamera& camera, Journal& journal, QWidget* parent)
    : QWidget(parent), camera_(&camera), journal_(journal) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setToolTip(QString::fromStdString(camera.Hint));
  plain_.emplace_back(&camera.RepaintRequested,
                      camera.RepaintRequested.Connect([this] { update(); }));
  plain_.emplace_back(&camera.TextChanged, camera.TextChanged.Connect([this] {
    if (camera_) setToolTip(QString::fromStdString(camera_->Hint));
  }));
  plain_.emplace_back(&camera.Destroying, camera.Destroying.Connect([this] { Release(); }));
  zoneConn_ = camera.ZoneRepaintRequested.Connect([this](const ZoneRect& z) {
    update(QRect(z.left, z.top, z.right - z.left + 1, z.bottom - z.top + 1));
  });
}

CameraView::~CameraView() {
  Release();
}

void CameraView::Release() {
  if (!camera_) return;
  for (auto& [sig, id] : plain_) sig->Disconnect(id);
  plain_.clear();
  camera_->ZoneRepaintRequested.Disconnect(zoneConn_);
  camera_ = nullptr;
  hide();
}

void CameraView::paintEvent(QPaintEvent* e) {
  QPainter p(this);
  if (!camera_) {
    p.fillRect(rect(), Qt::black);
    return;
  }
  p.setClipRect(e->rect());
  PaintCamera(p, *camera_, width(), height());
}

void CameraView::mousePressEvent(QMouseEvent* e) {
  const QPoint at = e->position().toPoint();
  const bool left = e->button() == Qt::LeftButton;
  if (camera_) Guarded([&] { camera_->MouseDown(at.x(), at.y(), left); });
}

void CameraView::mouseMoveEvent(QMouseEvent* e) {
  const QPoint at = e->position().toPoint();
  if (camera_) Guarded([&] { camera_->MouseMove(at.x(), at.y()); });
}

void CameraView::mouseReleaseEvent(QMouseEvent* e) {
  if (!camera_) return;
  // A click: the left button released over the view.
  const bool click = e->button() == Qt::LeftButton && rect().contains(e->position().toPoint());
  Guarded([&] {
    camera_->MouseUp();
    if (click && camera_) camera_->Click();
  });
}

void CameraView::contextMenuEvent(QContextMenuEvent* e) {
  if (!camera_) return;
  TCamera& c = *camera_;
  QMenu menu(this);
  const std::function<void()> actions[5] = {[&c] { c.RenameClick(); }, [&c] { c.ZoneSetupClick(); },
                                            [&c] { c.AllZonesClick(); }, [&c] { c.ColoredClick(); },
                                            [this] { SaveFrameAs(); }};
  for (int i = 0; i < 5; ++i) {
    const CameraMenuItem& m = c.Menu[static_cast<std::size_t>(i)];
    if (!m.Visible) continue;
    QAction* a = menu.addAction(QString::fromStdString(m.Caption));
    a->setEnabled(m.Enabled);
    a->setCheckable(m.CheckItem);
    a->setChecked(m.Checked);
    connect(a, &QAction::triggered, this, [fn = actions[i]] { Guarded(fn); });
  }
  menu.exec(e->globalPos());
}

void CameraView::SaveFrameAs() {
  if (!camera_) return;
  const QString chosen = QFileDialog::getSaveFileName(
      this, "Сохранить кадр как", QString(),
      "Все рисунки (*.bmp *.png *.jpg *.jpeg);;BMP (*.bmp);;PNG (*.png);;JPEG (*.jpg *.jpeg)");
  if (chosen.isEmpty() || !camera_) return;
  const QString path = QString::fromStdString(SaveFrameFileName(chosen.toStdString()));
  if (!SavePicture(camera_->ShownPicture(), path))
    journal_.AddJournal("Ошибка: Невозможно сохранить кадр в файл \"" + path.toStdString() + "\" !",
                        jkError);
}

// --- CameraViews

CameraViews::CameraViews(QWidget* viewPanel, QWidget* livePanel, Application& app)
    : QObject(viewPanel), viewPanel_(viewPanel), livePanel_(livePanel), app_(app) {
  viewPanel_->installEventFilter(this);
  if (livePanel_) {
    live_ = new QLabel(livePanel_);
    live_->setScaledContents(true);
    live_->setObjectName("Video");
  }
  VideoInput& v = *app_.video;
  layoutConn_ = v.LayoutChanged.Connect([this] { Sync(); });
  liveConn_ = v.LiveFrame.Connect([this](const TPicture& pic) {
    if (live_) live_->setPixmap(QPixmap::fromImage(PictureToImage(pic)));
  });
  Sync();
}

CameraViews::~CameraViews() {
  if (app_.video) {
    app_.video->LayoutChanged.Disconnect(layoutConn_);
    app_.video->LiveFrame.Disconnect(liveConn_);
  }
}

bool CameraViews::eventFilter(QObject* obj, QEvent* e) {
  if (obj == viewPanel_ && e->type() == QEvent::Resize && app_.video)
    Guarded([&] { app_.video->SetViewPanelSize(viewPanel_->width(), viewPanel_->height()); });
  return QObject::eventFilter(obj, e);
}

CameraView* CameraViews::View(int k) const {
  TCamera* cam = app_.video->Camera(k);
  for (CameraView* v : views_)
    if (v->camera() && v->camera() == cam) return v;
  return nullptr;
}

void CameraViews::Sync() {
  VideoInput& video = *app_.video;
  // Views of cameras that are gone.
  for (auto it = views_.begin(); it != views_.end();) {
    if (!(*it)->camera()) {
      (*it)->deleteLater();
      it = views_.erase(it);
    } else {
      ++it;
    }
  }
  const bool shown = app_.form.ViewPanel.Visible();
  for (int k = 1; k <= app_.cameras.CameraCount(); ++k) {
    TCamera* cam = video.Camera(k);
    if (!cam) continue;
    CameraView* view = View(k);
    if (!view) {
      view = new CameraView(*cam, app_.journal, viewPanel_);
      view->setObjectName(QString("Camera%1").arg(k));
      views_.push_back(view);
    }
    view->setGeometry(cam->View.left, cam->View.top, cam->View.width, cam->View.height);
    view->setVisible(shown && cam->Visible());
    view->update();
  }
  if (livePanel_) {
    const bool live = app_.form.LiveVideoPanel.Visible() && !app_.settings.ServerMode;
    livePanel_->setGeometry(viewPanel_->rect());
    if (live_) live_->setGeometry(livePanel_->rect());
    livePanel_->setVisible(live);
    if (live) livePanel_->raise();
  }
}

CameraViews* AttachCameraViews(QWidget* viewPanel, QWidget* livePanel, Application& app) {
  auto* views = new CameraViews(viewPanel, livePanel, app);
  auto* dialogs = new QtCaptureDialogs(viewPanel);
  app.video->Video.SetDialogs(dialogs);
  QObject::connect(dialogs, &QObject::destroyed, [&app] {
    if (app.video) app.video->Video.SetDialogs(nullptr);
  });
  return views;
}

namespace {

// At a site every camera has had its own frames; at the station every shown
// camera has had a picture from its site.
bool AllViewsLive(Application& app) {
  const int n = app.cameras.CameraCount();
  if (n == 0 || !app.video) return false;
  const bool station = app.settings.ServerMode;
  if (!station && app.video->Intake.FramesTaken() < 2LL * n) return false;
  for (int k = 1; k <= n; ++k) {
    const TCamera* cam = app.video->Camera(k);
    if (!cam) return false;
    if (station && !cam->Visible()) continue;
    // The first four bytes carry the site's status block when the picture
    // is sent, also in a picture that has not been taken yet.
    const auto& b = cam->CurrentPicture.Bytes();
    if (b.size() <= 4 || std::all_of(b.begin() + 4, b.end(), [](std::uint8_t v) { return v == 0; }))
      return false;
  }
  return true;
}

}  // namespace

void ScreenshotWhenLive(QWidget* window, Application& app, const QString& path, int timeoutMs) {
  auto* poll = new QTimer(window);
  auto started = std::make_shared<QElapsedTimer>();
  started->start();
  QObject::connect(poll, &QTimer::timeout, window, [=, &app] {
    const bool live = AllViewsLive(app);
    if (!live && started->elapsed() < timeoutMs) return;
    poll->stop();
    if (!live) std::fprintf(stderr, "screenshot: the views show no pictures yet\n");
    const bool ok = window->grab().save(path);
    std::fprintf(stderr, "screenshot: %s %s\n", ok ? "wrote" : "could not write",
                 path.toLocal8Bit().constData());
    window->close();
  });
  poll->start(200);
}

}  // namespace zv::ui
