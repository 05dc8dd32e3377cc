#pragma once
// A site with its alarm inputs on the fake platform: fake modem lines and a
// fake parallel port stand in for the devices, the journal goes to a real
// file in a temporary folder.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeAlarmDevices.h"
#include "alarm/AlarmInputs.h"
#include "app/Application.h"
#include "support/FakePlatform.h"
#include "support/TempDir.h"

namespace zv::test {

// Per camera number: its motion figures (absent: no such camera).
struct CameraFeed {
  std::vector<CameraMotionInput> cams = std::vector<CameraMotionInput>(21);
};

class AlarmFixture : public ::testing::Test {
 protected:
  void SetUp() override { Build(); }

  // (Re)builds the program on the fake devices; with fakeCameras the
  // cameras' motion figures come from feed instead of the cameras.
  void Build(bool fakeCameras = true) {
    app.reset();
    app = std::make_unique<Application>(loop.services,
                                        AppPaths{dir.path().string(), dir.path().string()});
    alarm().gauges.SetModemLines(std::make_unique<FakeModemLines>(com));
    alarm().gauges.SetParallelStatus(std::make_unique<FakeParallel>(lpt));
    if (fakeCameras)
      alarm().gauges.ReadCamera = [this](int k, CameraMotionInput& out) {
        out = feed.cams.at(static_cast<std::size_t>(k));
        return true;
      };
    // Recording is the record button's pressed state here.
    app->form.RecordBtn.OnClick = [this] {
      ++recordClicks;
      app->form.RecordBtn.SetDown(!app->form.RecordBtn.Down());
    };
    app->journal.StatusChanged.Connect([this] {
      const std::string& t = app->journal.Status()[0].text;
      if (statusTexts.empty() || statusTexts.back() != t) statusTexts.push_back(t);
    });
  }

  AlarmInputs& alarm() { return *app->alarm; }
  TFormModel& form() { return app->form; }
  SiteStatus& site() { return alarm().Status; }
  bool Poll() { return alarm().gauges.Poll(); }

  // Journal texts after the first `from` lines, without number and time.
  std::vector<std::string> Logged(std::size_t from = 0) const {
    std::vector<std::string> out;
    const auto& v = app->journal.View();
    for (std::size_t i = from; i < v.size(); ++i)
      out.push_back(v[i].text.substr(v[i].text.find("  ", 7) + 2));
    return out;
  }
  std::size_t JournalSize() const { return app->journal.View().size(); }

  TempDir dir;
  FakeLoop loop;
  std::shared_ptr<ModemLinesState> com = std::make_shared<ModemLinesState>();
  std::shared_ptr<ParallelState> lpt = std::make_shared<ParallelState>();
  CameraFeed feed;
  std::unique_ptr<Application> app;
  int recordClicks = 0;
  std::vector<std::string> statusTexts;
};

}  // namespace zv::test
