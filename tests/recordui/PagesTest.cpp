// The recording and playback pages in the real window: the record button,
// the change bar painted from the core's geometry, and the viewer's slider.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <QSlider>

#include "detect/RecordPanel.h"
#include "detect/ViewerPanel.h"
#include "support/FakePlatform.h"
#include "support/TempDir.h"
#include "support/WindowFixture.h"
#include "ui/MainWindow.h"

namespace zv {
namespace {

struct PagesFixture : test::WindowFixture {
  void Open() {
    WindowFixture::Open(
        "[MainForm]\r\nCamerasAmount.Value=1\r\n[Ports]\r\nCOM1=/nonexistent/a\r\n"
        "COM2=/nonexistent/b\r\n");
  }
};

TEST_F(PagesFixture, RecordButtonStartsAndStopsAndTheBarIsPainted) {
  Open();
  app->form.RecFileName.SetFileName(dir.file("rec.dsc"));
  auto* btn = Find<QPushButton>("RecordBtn");
  ASSERT_NE(btn, nullptr);
  btn->click();
  EXPECT_EQ(btn->text(), QString("Стоп"));
  EXPECT_TRUE(btn->isChecked());
  EXPECT_TRUE(app->record->Recording());
  btn->click();
  EXPECT_EQ(btn->text(), QString("Запись"));

  auto* bar = Find<QWidget>("RecChangeBox");
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->size(), QSize(17, 110));
  app->form.ChangeLimit.SetValue(50);  // the maroon line moves to the middle
  const QImage img = bar->grab().toImage();
  const ChangeBarGeometry& g = app->record->Bar;
  EXPECT_EQ(img.pixelColor(8, g.ignoreLineY), QColor(128, 0, 0));
  EXPECT_EQ(img.pixelColor(8, 5), QColor(Qt::white));
}

TEST_F(PagesFixture, ViewerSliderShowsTheRecordAtItsValue) {
  Open();
  {
    RecordingPair pair;
    ASSERT_TRUE(pair.OpenOrCreate(dir.file("v.dsc")));
    for (int i = 1; i <= 3; ++i) {
      TPicture p(16, 8);
      FrameDescriptor d;
      d.width = 16;
      d.height = 8;
      d.changeLevel = 40 * i;
      ASSERT_TRUE(pair.Append(d, p.Data(), p.SizeBytes()).ok());
    }
  }
  app->form.ViewFileName.SetFileName(dir.file("v.dsc"));
  auto* slider = Find<QSlider>("ViewSlider");
  ASSERT_NE(slider, nullptr);
  EXPECT_EQ(slider->maximum(), 3);
  slider->setValue(2);
  EXPECT_EQ(app->viewer->Current.recordNumber, 2);
  EXPECT_EQ(app->form.ViewSlider.Value(), 2);
  auto* next = Find<QPushButton>("NextCadr");
  ASSERT_NE(next, nullptr);
  next->click();
  EXPECT_EQ(slider->value(), 3);
  EXPECT_EQ(app->viewer->Current.recordNumber, 3);
  auto* graph = Find<QWidget>("ViewChangeBox");
  ASSERT_NE(graph, nullptr);
  EXPECT_EQ(graph->size(), QSize(484, 27));
}

}  // namespace
}  // namespace zv
