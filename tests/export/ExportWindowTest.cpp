// Clip export beside the window: the job on its worker, and "Экспорт..." on
// the playback page driven as a user does, the clip read back with FFmpeg.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "ClipProbe.h"
#include "detect/ClipExportJob.h"
#include "detect/PictureCodec.h"
#include "detect/RecordingFiles.h"
#include "detect/ViewerPanel.h"
#include "platform/FfmpegClipWriter.h"
#include "support/WindowFixture.h"
#include "ui/ExportDialog.h"

namespace zv::test {
namespace {

namespace fs = std::filesystem;

const TDateTime kStart = EncodeDateTime(DateTimeParts{2024, 3, 1, 10, 0, 0, 0});
constexpr double kSec = 1.0 / 86400.0;

// JPEG records of cameras 1 and 2 at the given seconds after kStart.
void MakePair(const std::string& name, const std::vector<std::pair<int, double>>& recs) {
  RecordingPair pair;
  ASSERT_TRUE(pair.OpenOrCreate(name));
  JpegCodec codec;
  int n = 0;
  for (const auto& [camera, second] : recs) {
    TPicture pic(160, 120);
    for (int y = 0; y < 120; ++y)
      std::fill_n(pic.ScreenRow(y), 160 * 3, static_cast<std::uint8_t>(40 + 10 * (n++ % 16)));
    auto span = codec.EncodePicture(pic, 80, true);
    FrameDescriptor d;
    d.captureTime = kStart + second * kSec;
    d.width = 160;
    d.height = 120;
    d.colored = true;
    d.camera = static_cast<std::uint8_t>(camera);
    d.format = kFormatJpeg;
    ASSERT_TRUE(pair.Append(d, span.data(), span.size()).ok());
  }
}

std::set<std::string> Listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// A writer that waits at every picture until the test lets it go on, so
// that a cancel lands in the middle of an export.
class GatedWriters final : public IClipWriterFactory {
 public:
  std::unique_ptr<IClipWriter> Create() override {
    return std::make_unique<Gated>(*this, real_.Create());
  }
  void Allow(int pictures) {
    std::lock_guard lock(mu_);
    allowed_ += pictures;
    cv_.notify_all();
  }
  int Written() {
    std::lock_guard lock(mu_);
    return written_;
  }
  // Closes the gate: nothing allowed beyond what was written.
  void Close() {
    std::lock_guard lock(mu_);
    allowed_ = written_;
  }

 private:
  struct Gated final : IClipWriter {
    Gated(GatedWriters& g, std::unique_ptr<IClipWriter> w) : g(g), w(std::move(w)) {}
    bool Open(const std::string& p, const ClipWriterConfig& c) override { return w->Open(p, c); }
    bool WriteJpeg(const std::uint8_t* d, std::size_t n, std::int64_t pts,
                   std::int64_t dur) override {
      Wait();
      return w->WriteJpeg(d, n, pts, dur);
    }
    bool WritePicture(const ClipPicture& p, std::int64_t pts, std::int64_t dur) override {
      Wait();
      return w->WritePicture(p, pts, dur);
    }
    bool WriteText(const std::string& t, std::int64_t pts, std::int64_t dur) override {
      return w->WriteText(t, pts, dur);
    }
    bool Finish() override { return w->Finish(); }
    void Abort() override { w->Abort(); }
    std::string LastError() const override { return w->LastError(); }
    void Wait() {
      std::unique_lock lock(g.mu_);
      g.cv_.wait(lock, [&] { return g.allowed_ > g.written_; });
      ++g.written_;
    }
    GatedWriters& g;
    std::unique_ptr<IClipWriter> w;
  };
  FfmpegClipWriterFactory real_;
  std::mutex mu_;
  std::condition_variable cv_;
  int allowed_ = 0, written_ = 0;
};

bool Drain(QueueDispatcher& d, const std::function<bool()>& done, int ms = 10000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    d.Drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Progress and the result come on the main thread, the progress at most
// one update waiting at a time; a cancel in the middle, or the job
// destroyed in the middle, leaves no file behind.
TEST(ClipExportJob, ReportsOnTheMainThreadAndCancelLeavesNothing) {
  TempDir dir;
  std::vector<std::pair<int, double>> recs;
  for (int i = 0; i < 20; ++i) recs.push_back({1, i * 0.5});
  MakePair(dir.file("rec.dsc"), recs);
  QueueDispatcher d;
  GatedWriters writers;
  ClipExportRequest r;
  r.pairName = dir.file("rec.dsc");
  r.output = dir.file("out.mkv");
  {
    ClipExportJob job(writers, d);
    // A failed assertion must not leave the worker waiting at the gate.
    struct Open {
      GatedWriters& w;
      ~Open() { w.Allow(1000); }
    } open{writers};
    std::vector<int> seen;
    std::optional<ClipExportResult> result;
    job.OnProgress = [&](const ClipExportProgress& p) {
      EXPECT_TRUE(d.IsMainThread());
      seen.push_back(p.done);
    };
    job.OnDone = [&](const ClipExportResult& res) { result = res; };
    ASSERT_TRUE(job.Start(r));
    EXPECT_FALSE(job.Start(r));  // one at a time
    writers.Allow(5);
    // Five records done while the loop did not run: one update waits, the newest.
    for (int i = 0; i < 500 && writers.Written() < 5; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(d.Drain(), 1);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], 6);  // a picture is written once the next record's time is known
    job.Cancel();
    writers.Allow(1);
    ASSERT_TRUE(Drain(d, [&] { return result.has_value(); }));
    EXPECT_EQ(result->status, ClipExportResult::Status::Cancelled);
    EXPECT_FALSE(job.Running());
    EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"rec.dsc", "rec.bin"}));

    // Started again, it runs to the end.
    result.reset();
    writers.Allow(100);
    ASSERT_TRUE(job.Start(r));
    ASSERT_TRUE(Drain(d, [&] { return result.has_value(); }));
    ASSERT_TRUE(result->ok()) << result->error;
    EXPECT_EQ(result->frames, 20);
    EXPECT_EQ(seen.back(), 20);
  }
  // Destroyed in the middle: it stops and removes its temporary file; the
  // finished clip of the same name stays as it was.
  const auto before = fs::file_size(dir.file("out.mkv"));
  writers.Close();
  const int at = writers.Written();
  bool done = false;
  std::thread opener;
  {
    ClipExportJob job(writers, d);
    job.OnDone = [&](const ClipExportResult&) { done = true; };
    job.Start(r);
    writers.Allow(3);
    ASSERT_TRUE(Drain(d, [&] { return writers.Written() == at + 3; }));
    // The gate opens only while the job is being destroyed.
    opener = std::thread([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      writers.Allow(100);
    });
  }
  opener.join();
  d.Drain();
  EXPECT_FALSE(done);  // nothing runs for a job that is gone
  EXPECT_LE(writers.Written(), at + 4);
  EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"rec.dsc", "rec.bin", "out.mkv"}));
  EXPECT_EQ(fs::file_size(dir.file("out.mkv")), before);
}

// "Экспорт..." on the playback page: the dialog offers the open pair's
// range and the shown camera; the export runs while the window goes on,
// and the clip holds that camera's records at their capture times.
TEST_F(WindowFixture, ExportFromThePlaybackPageWritesTheCameraOfTheRange) {
  MakePair(dir.file("rec.dsc"), {{1, 0.0}, {2, 0.4}, {1, 1.25}, {1, 2.0}, {2, 2.5}, {1, 3.5}});
  Open("[MainForm]\r\nCamerasAmount.Value=2\r\n");
  FfmpegClipWriterFactory writers;
  app->ClipWriters = &writers;
  app->form.ViewFileName.SetFileName(dir.file("rec.dsc"));
  ASSERT_TRUE(app->viewer->Session.IsOpen());
  app->viewer->ShowRecord(1);

  auto* button = Find<QPushButton>("ExportBtn");
  ASSERT_TRUE(button);
  EXPECT_EQ(button->text(), "Экспорт...");
  button->click();
  QApplication::processEvents();
  auto* dialog = window->findChild<ui::ExportDialog*>("ExportDialog");
  ASSERT_TRUE(dialog);
  EXPECT_EQ(dialog->findChild<QComboBox*>("ExportCamera")->currentData().toInt(), 1);
  EXPECT_EQ(
      dialog->findChild<QDateTimeEdit*>("ExportFrom")->dateTime().toString("yyyy-MM-dd HH:mm:ss"),
      "2024-03-01 10:00:00");
  EXPECT_EQ(
      dialog->findChild<QDateTimeEdit*>("ExportTo")->dateTime().toString("yyyy-MM-dd HH:mm:ss"),
      "2024-03-01 10:00:03");
  // The suggested name lies beside the pair and follows the format.
  auto* output = dialog->findChild<QLineEdit*>("ExportOutput");
  EXPECT_EQ(output->text().toStdString(), dir.file("rec-1.mkv"));
  dialog->findChild<QComboBox*>("ExportFormat")->setCurrentIndex(1);
  EXPECT_EQ(output->text().toStdString(), dir.file("rec-1.mp4"));
  dialog->findChild<QComboBox*>("ExportFormat")->setCurrentIndex(0);
  // From 10:00:01 on: records at 1.25, 2.0 and 3.5 s.
  dialog->findChild<QDateTimeEdit*>("ExportFrom")
      ->setDateTime(ui::ToQDateTime(kStart + 1.0 * kSec));
  output->setText(QString::fromStdString(dir.file("clip.mkv")));
  dialog->findChild<QPushButton*>("ExportStart")->click();
  EXPECT_TRUE(dialog->Exporting());
  QElapsedTimer t;
  t.start();
  while (dialog->Exporting() && t.elapsed() < 10000) {
    QApplication::processEvents();
    loop.dispatcher.Drain();
  }
  ASSERT_FALSE(dialog->Exporting());
  EXPECT_EQ(dialog->findChild<QLabel*>("ExportState")->text(), "Записано кадров: 3");

  ProbedClip clip;
  std::string error;
  ASSERT_TRUE(ProbeClip(dir.file("clip.mkv"), clip, error)) << error;
  EXPECT_EQ(clip.videoMs, (std::vector<std::int64_t>{0, 750, 2250}));
  ASSERT_EQ(clip.texts.size(), 3u);
  EXPECT_EQ(clip.texts[0], "01.03.2024 10:00:01");
  bool journaled = false;
  for (const auto& l : app->journal.View())
    journaled |= l.text.find("Экспорт записей в файл \"" + dir.file("clip.mkv") +
                             "\" завершён (3 кадров)") != std::string::npos;
  EXPECT_TRUE(journaled);
  dialog->findChild<QPushButton*>("ExportCancel")->click();  // "Закрыть" now
}

// The window closed in the middle of an export: the export stops and its
// temporary file goes; nothing of the clip is left.
TEST_F(WindowFixture, ClosingTheWindowDuringAnExportLeavesNoFile) {
  std::vector<std::pair<int, double>> recs;
  for (int i = 0; i < 10; ++i) recs.push_back({1, i * 0.5});
  MakePair(dir.file("rec.dsc"), recs);
  Open("[MainForm]\r\nCamerasAmount.Value=1\r\n");
  GatedWriters writers;
  app->ClipWriters = &writers;
  app->form.ViewFileName.SetFileName(dir.file("rec.dsc"));
  Find<QPushButton>("ExportBtn")->click();
  QApplication::processEvents();
  auto* dialog = window->findChild<ui::ExportDialog*>("ExportDialog");
  ASSERT_TRUE(dialog);
  dialog->findChild<QLineEdit*>("ExportOutput")->setText(QString::fromStdString(dir.file("c.mkv")));
  writers.Allow(2);
  dialog->findChild<QPushButton*>("ExportStart")->click();
  for (int i = 0; i < 500 && writers.Written() < 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(writers.Written(), 2);
  std::thread opener([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    writers.Allow(1000);
  });
  window->close();
  window.reset();
  opener.join();
  EXPECT_LE(writers.Written(), 3);
  for (const auto& name : Listing(dir.path()))
    EXPECT_TRUE(name.find(".mkv") == std::string::npos && name.find(".part") == std::string::npos)
        << name;
}

}  // namespace
}  // namespace zv::test
