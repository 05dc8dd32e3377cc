// A site that mixes switcher inputs and network cameras, as a whole program
// linked to a station over loopback TCP: an RTSP H.264 camera (GStreamer's
// server) and an HTTP MJPEG camera (the test's server) beside two emulated
// switcher inputs.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <map>

#include "NetcamSupport.h"
#include "detect/RecordPanel.h"
#include "detect/RecordingFiles.h"
#include "link/LinkFixture.h"
#include "link/Protocol.h"

namespace zv::test {
namespace {

// The HTTP camera's pictures: red top left, green top right, and a bottom
// half of three greys in turn (60 apart: the detector's differences are
// bytes), a motion seen whichever two pictures are compared.
std::vector<std::vector<std::uint8_t>> FlashingPictures(int w, int h, int count) {
  JpegCodec codec;
  std::vector<std::vector<std::uint8_t>> out;
  for (int i = 0; i < count; ++i) {
    TPicture p = QuarterPicture(w, h, i);
    for (int y = h / 2; y < h; ++y)
      std::fill_n(p.ScreenRow(y), w * 3, std::uint8_t(40 + 60 * (i % 3)));
    auto span = codec.EncodePicture(p, 85, true);
    out.emplace_back(span.begin(), span.end());
  }
  return out;
}

class NetworkSiteTest : public LinkFixture {
 protected:
  // Zones all watched, so that any motion counts.
  static std::string CameraSection(int k, const std::string& extra) {
    return "[Camera" + std::to_string(k) + "]\r\nDescription=Камера " + std::to_string(k) +
           "\r\nZones=" + std::string(320, '1') + "\r\n" + extra;
  }

  std::unique_ptr<Program> NetSite(const std::string& rtsp, const std::string& http) {
    auto p = std::make_unique<Program>();
    const std::string d = p->dir.path().string();
    WriteFile(p->dir.file("Zorvenix.ini"),
              "[Main]\r\nServerMode=0\r\n[MainForm]\r\nClientCommType.ItemIndex=2\r\n"
              "ServerAddresses.Text=127.0.0.1\r\nObjNum.Value=1\r\nCamerasAmount.Value=4\r\n"
              "VideoEmulation.Checked=1\r\nUseSwitcher.Checked=1\r\nSwitchDelay.Value=0\r\n"
              "RecFreq.Value=1000\r\nRecordingOn.ItemIndex=0\r\nRecFileName.FileName=" +
                  d + "/site.dsc\r\n" + CameraSection(1, "") +
                  CameraSection(2, "NetSource=1\r\nNetUrl=" + rtsp + "\r\nNetFps=0\r\n") +
                  CameraSection(3, "") +
                  CameraSection(4, "NetSource=1\r\nNetUrl=" + http +
                                       "\r\nNetUser=site\r\nNetPassword=k0t\r\nNetFps=0\r\n") +
                  PortsSection(d));
    Devices devices = LinuxDevices(loop.clock, loop.dispatcher);
    devices.netCameras = &factory;
    p->app = std::make_unique<Application>(loop.services, AppPaths{d, d}, std::move(devices));
    p->app->link->SetNet(&net);
    p->app->FormCreate();
    return p;
  }

  // Real time for the cameras and sockets, and the fake clock moved on with
  // it for the program's timers (grabs, the processing tick, the heartbeat).
  bool Run(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
      if (t.elapsed() > timeoutMs) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      loop.dispatcher.Drain();
      loop.RunFor(10);
    }
    return true;
  }

  int SiteLines(Program& p, const std::string& part) {
    int n = 0;
    for (const auto& l : p.Logged())
      if (l.find(part) != std::string::npos) ++n;
    return n;
  }

  FfmpegCameraFactory factory;
};

TEST_F(NetworkSiteTest, FourCamerasOfTwoKindsAreShownDetectedRecordedAndSentAndALostOneReturns) {
  RtspServer rtsp;
  ASSERT_TRUE(rtsp.Start("h264", 0, "", "", {"--pattern", "smpte", "--speed", "8"}));
  MjpegServer http(FlashingPictures(640, 480, 9), 15);
  http.RequireAuth("site", "k0t");
  ASSERT_TRUE(http.Start());
  const int httpPort = http.Port();

  b_ = StationOf(1,
                 "[Object1]\r\nName=Склад\r\nID=1\r\nCams=4\r\n"
                 "Cameras=\"Ворота\",\"Двор\",\"Склад\",\"Офис\"\r\n");
  std::map<int, int> received;  // pictures the station got, by camera
  b_->link().OnMessage = [&](const LinkMessage& m) {
    if (m.Type == link::mtPicture) ++received[m.Arg2];
  };
  a_ = NetSite(rtsp.Url(), http.Url());
  Program& site = *a_;
  LinkTo(site, *b_);
  site.site().Armed = true;
  site.app->form.RecordBtn.Click();
  ASSERT_TRUE(site.app->record->Recording());

  // Every camera shows pictures of the processing size; the station gets
  // all four.
  ASSERT_TRUE(Run(
      [&] {
        for (int k = 1; k <= 4; ++k)
          if (received[k] < 2) return false;
        return true;
      },
      15000))
      << received[1] << " " << received[2] << " " << received[3] << " " << received[4];
  for (int k = 1; k <= 4; ++k) {
    EXPECT_EQ(site.camera(k)->CurrentPicture.Width(), 352) << k;
    EXPECT_EQ(site.camera(k)->CurrentPicture.Height(), 288) << k;
    EXPECT_EQ(b_->camera(k)->CurrentPicture.Width(), 352) << k;
  }
  // The HTTP camera's picture: red top left, green top right, upright.
  const std::uint8_t* top = b_->camera(4)->CurrentPicture.ScreenRow(10);
  EXPECT_GT(top[30 * 3 + 2], 180);
  EXPECT_LT(top[30 * 3 + 1], 80);
  EXPECT_GT(top[300 * 3 + 1], 180);
  // Motion is measured on the network cameras' moving pictures.
  ASSERT_TRUE(Run(
      [&] { return site.camera(2)->ChangeValue > 0 && site.camera(4)->ChangeValue > 0; }, 10000));
  // The switcher went round its own two inputs only.
  EXPECT_EQ(site.app->video->NetworkSource(1), nullptr);
  ASSERT_NE(site.app->video->NetworkSource(2), nullptr);
  ASSERT_NE(site.app->video->NetworkSource(4), nullptr);

  // The network source of camera 4 stops and comes back: journaled once
  // each, without its password, and its pictures flow again.
  loop.dialogs.inputs.push_back("Двор");
  site.camera(4)->RenameClick();  // journaled under its new name from now on
  http.Stop();
  ASSERT_TRUE(
      Run([&] { return SiteLines(site, "Нет видеосигнала с видеокамеры \"Двор\"") > 0; }, 8000));
  ASSERT_TRUE(http.Start(httpPort));
  ASSERT_TRUE(Run([&] { return SiteLines(site, "\"Двор\" восстановлен") > 0; }, 8000));
  const long long before = site.app->video->NetworkSource(4)->FramesDelivered();
  const int sentBefore = received[4];
  ASSERT_TRUE(Run(
      [&] {
        return site.app->video->NetworkSource(4)->FramesDelivered() > before + 3 &&
               received[4] > sentBefore;
      },
      5000));
  EXPECT_EQ(SiteLines(site, "Нет видеосигнала с видеокамеры \"Двор\""), 1);
  EXPECT_EQ(SiteLines(site, "\"Двор\" восстановлен"), 1);
  // The other source never noticed; motion was journaled on both.
  EXPECT_EQ(SiteLines(site, "Нет видеосигнала с видеокамеры \"Камера 2\""), 0);
  EXPECT_GT(SiteLines(site, "Сработка по видеокамере \"Камера 2\" !"), 0);
  EXPECT_GT(SiteLines(site, "Сработка по видеокамере \"Камера 4\" !"), 0);
  for (const auto& l : site.Logged()) EXPECT_EQ(l.find("k0t"), std::string::npos) << l;

  // A new source for camera 4 restarts that camera alone.
  const NetworkCameraStats rtspBefore = site.app->video->NetworkSource(2)->Stats();
  NetworkCameraSettings s = site.camera(4)->Net;
  s.fps = 5;
  site.camera(4)->SetSource(s);
  ASSERT_TRUE(Run([&] { return site.app->video->NetworkSource(4)->FramesDelivered() > 2; }, 5000));
  EXPECT_EQ(site.app->video->NetworkSource(2)->Stats().attempts, rtspBefore.attempts);
  EXPECT_GE(site.app->video->NetworkSource(2)->Stats().delivered, rtspBefore.delivered);
  // Saved at once, the password kept apart and the file for its owner only.
  const std::string ini = ReadFile(site.dir.file("Zorvenix.ini"));
  EXPECT_NE(ini.find("NetFps=5"), std::string::npos);
  EXPECT_NE(ini.find("NetPassword=k0t"), std::string::npos);
  EXPECT_EQ(std::filesystem::status(site.dir.file("Zorvenix.ini")).permissions() &
                std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  // The recording holds all four cameras, the network cameras' with motion.
  site.app->FormClose();
  RecordingReader reader;
  ASSERT_TRUE(reader.Open(site.dir.file("site.dsc")));
  std::map<int, int> records, moving;
  for (std::int32_t n = 1; n <= reader.RecordCount(); ++n) {
    FrameDescriptor d;
    ASSERT_TRUE(reader.ReadDescriptor(n, d));
    ++records[d.camera];
    if (d.changeLevel > 0) ++moving[d.camera];
  }
  for (int k = 1; k <= 4; ++k) EXPECT_GT(records[k], 0) << k;
  EXPECT_GT(moving[2], 0);
  EXPECT_GT(moving[4], 0);
  rtsp.Stop();
}

}  // namespace
}  // namespace zv::test
