#pragma once
// Sites and a station as whole programs on the fake platform, linked by the
// in-memory network: every byte and every connection event is delivered
// when the test says so, in a fixed order, without wall-clock time.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "alarm/AlarmInputs.h"
#include "app/Application.h"
#include "link/Link.h"
#include "support/FakePlatform.h"
#include "support/MemNet.h"
#include "support/TempDir.h"
#include "video/Camera.h"
#include "video/VideoInput.h"

namespace zv::test {

struct MemProgram {
  TempDir dir;
  std::unique_ptr<Application> app;
  LinkSubsystem& link() { return *app->link; }
  SiteStatus& site() { return app->alarm->Status; }
  TCamera* camera(int k) { return app->cameras.GetAs<TCamera>(k); }
  long long messages = 0;  // link messages handled
  // Journal lines (text only) that contain `part`.
  int Count(const std::string& part) const {
    int n = 0;
    for (const auto& l : app->journal.View())
      if (l.text.find(part) != std::string::npos) ++n;
    return n;
  }
};

class MemLinkFixture : public ::testing::Test {
 protected:
  static constexpr int kPort = 3000;

  std::string Ports(const std::string& dir) const {
    std::string s = "[Ports]\r\n";
    for (int i = 1; i <= 8; ++i)
      s += "COM" + std::to_string(i) + "=" + dir + "/missing-com" + std::to_string(i) + "\r\n";
    for (int i = 1; i <= 3; ++i)
      s += "LPT" + std::to_string(i) + "=" + dir + "/missing-lpt" + std::to_string(i) + "\r\n";
    return s;
  }

  // A station listening on kPort with Objects 1 ("Склад", 2 cameras) and 2
  // ("Офис", 1 camera), with the link keys given (empty: none) and more
  // lines of [Main].
  std::unique_ptr<MemProgram> Station(const std::string& key1 = {}, const std::string& key2 = {},
                                      const std::string& main = {}) {
    auto p = std::make_unique<MemProgram>();
    auto key = [](const std::string& k) { return k.empty() ? k : "LinkKey=" + k + "\r\n"; };
    WriteFile(p->dir.file("Zorvenix.ini"),
              "[Main]\r\nServerMode=1\r\nObjectsCount=2\r\nLinkPort=" + std::to_string(kPort) +
                  "\r\n" + main + "[MainForm]\r\nServerCommType.ItemIndex=2\r\n" +
                  "[Object1]\r\nName=Склад\r\nID=1\r\nCams=2\r\nCameras=\"Ворота\",\"Двор\"\r\n" +
                  key(key1) + "[Object2]\r\nName=Офис\r\nID=2\r\nCams=1\r\nCameras=\"Холл\"\r\n" +
                  key(key2) + Ports(p->dir.path().string()));
    Start(*p);
    EXPECT_TRUE(p->link().Listener() && p->link().Listener()->Active());
    return p;
  }

  // An armed site with Object ID objNum and two emulated cameras whose
  // pictures go out only when the test clicks the sender.
  std::unique_ptr<MemProgram> Site(int objNum, const std::string& key = {}) {
    auto p = std::make_unique<MemProgram>();
    WriteFile(p->dir.file("Zorvenix.ini"),
              "[Main]\r\nServerMode=0\r\nLinkPort=" + std::to_string(kPort) +
                  "\r\n[MainForm]\r\nClientCommType.ItemIndex=2\r\n"
                  "ServerAddresses.Text=127.0.0.1\r\nLinkKey.Text=" +
                  key + "\r\nObjNum.Value=" + std::to_string(objNum) +
                  "\r\nCamerasAmount.Value=2\r\nVideoEmulation.Checked=1\r\n"
                  "DefenceOnDelay.Value=0\r\n" +
                  Ports(p->dir.path().string()));
    Start(*p);
    p->app->video->Shutdown();
    p->app->alarm->RemoteSwitchMode();  // armed at once (no arming delay)
    EXPECT_TRUE(p->site().Armed);
    return p;
  }

  void Start(MemProgram& p) {
    p.app = std::make_unique<Application>(loop.services,
                                          AppPaths{p.dir.path().string(), p.dir.path().string()});
    p.app->link->SetNet(&net);
    p.app->form.RecordBtn.OnClick = [&p] {
      p.app->form.RecordBtn.SetDown(!p.app->form.RecordBtn.Down());
    };
    p.app->link->OnMessage = [&p](const LinkMessage&) { ++p.messages; };
    p.app->FormCreate();
  }

  static void Stop(std::unique_ptr<MemProgram>& p) {
    if (!p) return;
    p->app->FormClose();
    p.reset();
  }

  // Delivers everything the network and the loop have to deliver.
  void Settle() {
    for (int i = 0; i < 100000; ++i)
      if (net.Run() == 0 && loop.dispatcher.Drain() == 0) return;
    ADD_FAILURE() << "the network never settles";
  }

  // Clicks the site's sender until it is connected (one click connects).
  void Connect(MemProgram& s) {
    s.link().Button1Click();
    Settle();
    ASSERT_TRUE(s.link().Client() && s.link().Client()->Connected());
  }

  // A bare connection to the station's port: bytes go out as the test sends them.
  std::unique_ptr<INetClient> Raw() {
    auto c = net.CreateClient();
    EXPECT_TRUE(c->Open("127.0.0.1", kPort));
    Settle();
    EXPECT_TRUE(c->Connected());
    return c;
  }

  std::size_t PictureBytes(MemProgram& s, int cam) {
    const TPicture& p = s.camera(cam)->CurrentPicture;
    return p.SizeBytes();
  }

  void TearDown() override {
    for (auto* p : {&a_, &b_, &c_}) Stop(*p);
  }

  // Declared before the programs: it outlives their sockets.
  MemNet net;
  FakeLoop loop;
  std::unique_ptr<MemProgram> a_, b_, c_;
};

}  // namespace zv::test
