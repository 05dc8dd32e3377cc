// The camera view as drawn: the zone set-up overlay, alarm outlines, the
// frame; the views placed in the panel; frames saved in picture formats.
#include <QApplication>
#include <QFileInfo>
#include <QPainter>

#include "../video/VideoFixture.h"
#include "ui/CameraView.h"

namespace zv::test {
namespace {

const QRgb kLime = qRgb(0, 255, 0), kFuchsia = qRgb(255, 0, 255), kRed = qRgb(255, 0, 0),
           kBlack = qRgb(0, 0, 0), kGrey = qRgb(128, 128, 128);

int Count(const QImage& img, QRect r, QRgb c) {
  int n = 0;
  r = r.intersected(img.rect());
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) n += img.pixel(x, y) == c ? 1 : 0;
  return n;
}

// Pixels near a colour (text is drawn smoothed).
int CountNear(const QImage& img, QRect r, QRgb c) {
  int n = 0;
  r = r.intersected(img.rect());
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) {
      const QRgb p = img.pixel(x, y);
      n += std::abs(qRed(p) - qRed(c)) < 90 && std::abs(qGreen(p) - qGreen(c)) < 90 &&
                   std::abs(qBlue(p) - qBlue(c)) < 90
               ? 1
               : 0;
    }
  return n;
}

class CameraViewTest : public VideoAppTest {
 protected:
  TCamera& Grey() {
    Start();
    TCamera& c = *cam(1);
    std::fill(c.CurrentPicture.Bytes().begin(), c.CurrentPicture.Bytes().end(), 128);
    return c;
  }
  QImage Render(const TCamera& c, int w = 400, int h = 320) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    ui::PaintCamera(p, c, w, h);
    return img;
  }
};

TEST_F(CameraViewTest, ZoneSetupOverlayDrawsHatchedRectanglesOutlinesAndCrosses) {
  TCamera& c = Grey();
  c.IgnoreChangesPercent = 1;  // s1 = Round(sqrt(1 * 640)) = 25
  c.ChangesEventPercent = 2;   // s2 = Round(sqrt(2 * 640)) = 36
  c.Zones.on[5][4] = c.Zones.on[10][8] = true;
  c.ZoneSetupClick();
  const QImage img = Render(c);
  if (qEnvironmentVariableIsSet("ZV_SAVE_OVERLAY"))
    img.save(qEnvironmentVariable("ZV_SAVE_OVERLAY"));

  // The three-pixel frame, black at a site, then the picture.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(img.pixel(i, 150), kBlack) << i;
  EXPECT_EQ(img.pixel(3, 150), kGrey);
  EXPECT_EQ(img.pixel(399, 150), kBlack);
  EXPECT_EQ(img.pixel(200, 317), kBlack);
  EXPECT_EQ(img.pixel(200, 316), kGrey);

  // Lime: (0,0)-(25,50), outline and backward-diagonal hatching.
  EXPECT_EQ(img.pixel(24, 30), kLime);
  EXPECT_EQ(img.pixel(25, 30), kGrey);
  EXPECT_EQ(img.pixel(10, 49), kLime);
  EXPECT_EQ(img.pixel(10, 50), kGrey);
  const QRect limeInside(4, 4, 19, 44);
  EXPECT_GT(Count(img, limeInside, kLime), 40);
  EXPECT_GT(Count(img, limeInside, kGrey), 300);
  // Its text, lime on black, to the right.
  EXPECT_GT(CountNear(img, QRect(30, 5, 250, 16), kLime), 50);
  EXPECT_GT(Count(img, QRect(30, 5, 250, 16), kBlack), 200);

  // Fuchsia: (0,248)-(36,320).
  EXPECT_EQ(img.pixel(35, 280), kFuchsia);
  EXPECT_EQ(img.pixel(36, 280), kGrey);
  EXPECT_EQ(img.pixel(20, 248), kFuchsia);
  EXPECT_EQ(img.pixel(20, 247), kGrey);
  EXPECT_GT(Count(img, QRect(4, 252, 30, 60), kFuchsia), 60);
  EXPECT_GT(CountNear(img, QRect(40, 290, 250, 25), kFuchsia), 50);

  // Zone (5, 4): (100,80)-(120,100), dotted outline and a cross at (109,89).
  const int top = Count(img, QRect(100, 80, 21, 1), kRed);
  EXPECT_GE(top, 5);
  EXPECT_LE(top, 16);  // dotted, not solid
  EXPECT_GE(Count(img, QRect(100, 80, 1, 21), kRed), 5);
  EXPECT_EQ(img.pixel(109, 89), kRed);
  EXPECT_EQ(img.pixel(107, 87), kRed);
  EXPECT_EQ(img.pixel(111, 87), kRed);
  EXPECT_EQ(img.pixel(107, 91), kRed);
  EXPECT_EQ(img.pixel(104, 84), kGrey);
  // Zone (10, 8) too; an inactive zone stays clean.
  EXPECT_EQ(img.pixel((200 + 220 - 1) / 2, (160 + 180 - 1) / 2), kRed);
  EXPECT_EQ(Count(img, QRect(300, 200, 21, 21), kRed), 0);
}

TEST_F(CameraViewTest, AlarmZonesAreOutlinedOnlyWhileRecordingAboveTheEventLevel) {
  TCamera& c = Grey();
  bool recording = false;
  video().IsRecording = [&] { return recording; };
  c.Zones.alarm[3][3] = true;
  c.ChangesEventPercent = 2;
  c.ChangeValue = 5;
  const QRect zone(60, 60, 21, 21);  // (3,3) in a 400 x 320 view
  EXPECT_EQ(Count(Render(c), zone, kRed), 0);
  recording = true;
  QImage img = Render(c);
  EXPECT_GE(Count(img, zone, kRed), 10);
  EXPECT_EQ(img.pixel(69, 69), kGrey);  // no cross
  c.ChangeValue = 1;
  EXPECT_EQ(Count(Render(c), zone, kRed), 0);
  // The threshold is rounded halves to even, as for the motion alarm.
  c.ChangesEventPercent = 2.5;  // rounds to 2
  c.ChangeValue = 2;
  EXPECT_GE(Count(Render(c), zone, kRed), 10);
  c.ChangesEventPercent = 3.5;  // rounds to 4
  c.ChangeValue = 3;
  EXPECT_EQ(Count(Render(c), zone, kRed), 0);
  c.ChangesEventPercent = 0.4;  // rounds to 0, but no change is no motion
  c.ChangeValue = 0;
  EXPECT_EQ(Count(Render(c), zone, kRed), 0);
}

TEST_F(CameraViewTest, ViewsArePlacedInThePanelAndShowTheEmulatedPictures) {
  WriteIni("[MainForm]\nVideoEmulation.Checked=1\nCamerasAmount.Value=4\n");
  Make();
  QWidget panel;
  QWidget* live = new QWidget(&panel);
  panel.resize(700, 400);
  ui::CameraViews* views = ui::AttachCameraViews(&panel, live, *app);
  panel.show();
  QApplication::processEvents();
  Start();
  loop.RunFor(1000);
  QApplication::processEvents();
  ASSERT_NE(views->View(4), nullptr);
  EXPECT_EQ(views->View(1)->geometry(), QRect(2, 2, 242, 197));
  EXPECT_EQ(views->View(4)->geometry(), QRect(246, 201, 242, 197));
  EXPECT_TRUE(views->View(4)->isVisible());
  const QImage shot = views->View(2)->grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(shot.pixel(1, 100), kBlack);
  EXPECT_NE(shot.pixel(120, 100), kBlack);

  // Fewer cameras: their views go away.
  app->form.CamerasAmount.SetValue(2);
  QApplication::processEvents();
  EXPECT_EQ(views->View(3), nullptr);
  EXPECT_EQ(views->View(1)->geometry().width(), 347);
  // Live video hides the views and shows the live panel.
  app->form.LiveVideo.SetChecked(true);
  EXPECT_FALSE(views->View(1)->isVisible());
  EXPECT_TRUE(live->isVisible());
  app->FormClose();
  QApplication::processEvents();
}

TEST_F(CameraViewTest, FramesAreSavedInTheFormatTheNameAsksFor) {
  TPicture pic(6, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) {
      std::uint8_t* px = pic.ScreenRow(y) + 3 * x;
      px[0] = 10;                                 // blue
      px[1] = static_cast<std::uint8_t>(40 * y);  // green grows downwards
      px[2] = 200;                                // red
    }
  for (const char* name : {"a.png", "b.bmp", "c", "d.jpg"}) {
    const QString path = QString::fromStdString(SaveFrameFileName(dir.file(name)));
    ASSERT_TRUE(ui::SavePicture(pic, path)) << name;
    const QImage back(path);
    ASSERT_FALSE(back.isNull()) << name;
    EXPECT_EQ(back.size(), QSize(6, 4));
    const QColor c = back.pixelColor(2, 3);
    EXPECT_NEAR(c.red(), 200, 12) << name;
    EXPECT_NEAR(c.green(), 120, 12) << name;
  }
  EXPECT_TRUE(QFileInfo(QString::fromStdString(dir.file("c.bmp"))).exists());
  EXPECT_FALSE(ui::SavePicture(TPicture(), QString::fromStdString(dir.file("e.png"))));
}

}  // namespace
}  // namespace zv::test
