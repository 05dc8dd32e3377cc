#pragma once
// Sites and a station as whole programs on the fake platform, linked by real
// loopback TCP through the Qt sockets.  Every program writes its own
// settings file and journal in its own temporary folder; no serial port of
// the machine is ever opened (every COM name points at a missing path).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "alarm/AlarmInputs.h"
#include "app/Application.h"
#include "link/Link.h"
#include "support/FakePlatform.h"
#include "support/TempDir.h"
#include "ui/QtNet.h"
#include "video/Camera.h"
#include "video/VideoInput.h"

namespace zv::test {

struct Program {
  TempDir dir;
  std::unique_ptr<Application> app;
  LinkSubsystem& link() { return *app->link; }
  SiteStatus& site() { return app->alarm->Status; }
  TCamera* camera(int k) { return app->cameras.GetAs<TCamera>(k); }
  // Journal texts after the first `from` lines, without number and time.
  std::vector<std::string> Logged(std::size_t from = 0) const {
    std::vector<std::string> out;
    const auto& v = app->journal.View();
    for (std::size_t i = from; i < v.size(); ++i)
      out.push_back(v[i].text.substr(v[i].text.find("  ", 7) + 2));
    return out;
  }
  std::size_t Lines() const { return app->journal.View().size(); }
  bool HasLine(const std::string& text) const {
    for (const auto& l : Logged())
      if (l == text) return true;
    return false;
  }
  // Journal lines that contain part.
  int Count(const std::string& part) const {
    int n = 0;
    for (const auto& l : Logged())
      if (l.find(part) != std::string::npos) ++n;
    return n;
  }
};

class LinkFixture : public ::testing::Test {
 protected:
  // COM3 may be a simulated modem (com3Path), any port a path of comPaths;
  // every other port is missing.
  std::string PortsSection(const std::string& dir) const {
    std::string s = "[Ports]\r\n";
    for (int i = 1; i <= 8; ++i) {
      std::string path = dir + "/missing-com" + std::to_string(i);
      if (i == 3 && !com3Path.empty()) path = com3Path;
      if (auto it = comPaths.find(i); it != comPaths.end()) path = it->second;
      s += "COM" + std::to_string(i) + "=" + path + "\r\n";
    }
    for (int i = 1; i <= 3; ++i)
      s += "LPT" + std::to_string(i) + "=" + dir + "/missing-lpt" + std::to_string(i) + "\r\n";
    return s;
  }

  // A station with Objects 1 ("Склад", 2 cameras) and 2 ("Офис", 1 camera).
  std::unique_ptr<Program> Station(const std::string& extraForm = {}, int commType = 2) {
    return StationOf(2,
                     "[Object1]\r\nName=Склад\r\nID=1\r\nCams=2\r\nCameras=\"Ворота\",\"Двор\"\r\n"
                     "Gauges=\"Дверь\",\"Окно\",\"Подвал\",\"4\",\"5\",\"6\",\"7\",\"8\"\r\n"
                     "TestCallPeriod=30\r\n"
                     "[Object2]\r\nName=Офис\r\nID=2\r\nCams=1\r\nCameras=\"Холл\"\r\n",
                     extraForm, commType);
  }
  // A station with the given [Object<n>] sections.
  std::unique_ptr<Program> StationOf(int count, const std::string& objects,
                                     const std::string& extraForm = {}, int commType = 2,
                                     int linkPort = 1, const std::string& extraMain = {}) {
    auto p = std::make_unique<Program>();
    const std::string d = p->dir.path().string();
    WriteFile(p->dir.file("Zorvenix.ini"),
              "[Main]\r\nServerMode=1\r\nObjectsCount=" + std::to_string(count) +
                  "\r\nLinkPort=" + std::to_string(linkPort) + "\r\n" + extraMain +
                  "[MainForm]\r\nServerCommType.ItemIndex=" + std::to_string(commType) + "\r\n" +
                  extraForm + objects + PortsSection(d));
    Start(*p);
    // An ephemeral port instead of the configured one.
    if (p->link().Listener() && linkPort == 1) {
      EXPECT_TRUE(p->link().Listener()->Listen(0));
    }
    return p;
  }

  // A site with Object ID objNum and `cams` emulated cameras, linked by the
  // network to 127.0.0.1 (the port is set once the station listens).
  std::unique_ptr<Program> Site(int objNum, int cams = 2, const std::string& extra = {},
                                int commType = 2, const std::function<void(Program&)>& before = {},
                                const std::string& formExtra = {}) {
    auto p = std::make_unique<Program>();
    const std::string d = p->dir.path().string();
    WriteFile(p->dir.file("Zorvenix.ini"),
              "[Main]\r\nServerMode=0\r\n" + extra +
                  "[MainForm]\r\nClientCommType.ItemIndex=" + std::to_string(commType) +
                  "\r\nServerAddresses.Text=127.0.0.1; 10.0.0.9\r\nObjNum.Value=" +
                  std::to_string(objNum) + "\r\nCamerasAmount.Value=" + std::to_string(cams) +
                  "\r\nVideoEmulation.Checked=1\r\nDefenceOnDelay.Value=0\r\n" + formExtra +
                  PortsSection(d));
    Start(*p, before);
    return p;
  }

  void Start(Program& p, const std::function<void(Program&)>& before = {}) {
    p.app = std::make_unique<Application>(loop.services,
                                          AppPaths{p.dir.path().string(), p.dir.path().string()});
    p.app->link->SetNet(&net);
    if (before) before(p);
    // Recording is the record button's pressed state here.
    p.app->form.RecordBtn.OnClick = [&p] {
      p.app->form.RecordBtn.SetDown(!p.app->form.RecordBtn.Down());
    };
    p.app->FormCreate();
  }

  void LinkTo(Program& site, Program& station) {
    site.app->settings.LinkPort = station.link().Listener()->Port();
  }

  // Lets Qt deliver socket events (and the fake loop its work) until done.
  bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
      if (t.elapsed() > timeoutMs) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      loop.dispatcher.Drain();
    }
    return true;
  }
  void PumpFor(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      loop.dispatcher.Drain();
    }
  }

  void TearDown() override {
    for (auto* p : {&a_, &b_})
      if (*p) (*p)->app->FormClose();
    for (auto& p : more_) p->app->FormClose();
  }

  std::string com3Path;
  std::map<int, std::string> comPaths;
  FakeLoop loop;
  ui::QtNetFactory net;
  std::unique_ptr<Program> a_, b_;
  std::vector<std::unique_ptr<Program>> more_;
};

}  // namespace zv::test
