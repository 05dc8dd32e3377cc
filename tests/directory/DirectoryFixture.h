#pragma once
// A whole application on the fake platform with a settings file written by
// the test; every port points at a path that does not exist.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/Application.h"
#include "directory/Directory.h"
#include "support/FakePlatform.h"
#include "support/TempDir.h"
#include "video/Camera.h"
#include "video/VideoInput.h"

namespace zv::test {

class DirectoryFixture : public ::testing::Test {
 protected:
  static std::string Ports() {
    std::string s = "[Ports]\n";
    for (int i = 1; i <= 8; ++i)
      s += "COM" + std::to_string(i) + "=/nonexistent/zv-tty" + std::to_string(i) + "\n";
    for (int i = 1; i <= 3; ++i)
      s += "LPT" + std::to_string(i) + "=/nonexistent/zv-lp" + std::to_string(i) + "\n";
    return s;
  }
  void WriteIni(const std::string& text) { WriteFile(dir.file("Zorvenix.ini"), text + Ports()); }
  std::string Ini() { return ReadFile(dir.file("Zorvenix.ini")); }

  // Builds the program without starting it (a window may be attached first).
  Application& Make() {
    app = std::make_unique<Application>(loop.services,
                                        AppPaths{dir.path().string(), dir.path().string()});
    return *app;
  }
  Application& Start() {
    if (!app) Make();
    app->FormCreate();
    return *app;
  }
  Application& Start(const std::string& ini) {
    WriteIni(ini);
    return Start();
  }
  // Shuts the program down (saving the settings) and starts it again.
  Application& Restart() {
    app->FormClose();
    app.reset();
    return Start();
  }
  void TearDown() override {
    if (app) app->FormClose();
    app.reset();
  }

  Directory& directory() { return *app->directory; }
  TFormModel& form() { return app->form; }
  Settings& settings() { return app->settings; }
  TObjectRecord& object(int n) { return app->settings.Objects[static_cast<std::size_t>(n)]; }
  TAbonentRecord& abonent(int n) { return app->settings.Abonents[static_cast<std::size_t>(n)]; }
  TCamera* cam(int k) { return app->video->Camera(k); }
  static std::vector<std::string> Texts(const TCheckListBox& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i) out.push_back(list.Text(i));
    return out;
  }
  const std::string& LastBox() {
    static const std::string none;
    return loop.dialogs.boxes.empty() ? none : loop.dialogs.boxes.back().text;
  }

  // Every reference to a camera (table, Objects, camera list) leads to a
  // live camera of the table, and the numbers run 1..CameraCount.
  void ExpectCameraReferencesValid() {
    const CameraTable& t = app->cameras;
    auto inTable = [&t](const void* p) {
      for (int k = 1; k <= t.CameraCount(); ++k)
        if (static_cast<const void*>(t.Get(k)) == p) return true;
      return false;
    };
    for (int k = 1; k <= t.CameraCount(); ++k) {
      ASSERT_NE(t.Get(k), nullptr) << "camera " << k;
      EXPECT_EQ(t.Get(k)->Number, k);
    }
    EXPECT_EQ(t.Get(t.CameraCount() + 1), nullptr);
    int owned = 0;
    for (int n = 0; n <= kMaxObjects; ++n) {
      const TObjectRecord& o = object(n);
      for (int i = 1; i <= kMaxCamsPerObject; ++i) {
        const TCameraInfo* c = o.Cameras[static_cast<std::size_t>(i)];
        if (!c) continue;
        EXPECT_TRUE(n >= 1 && n <= settings().ObjectsCount && i <= o.Cams)
            << "Object " << n << " keeps camera " << i;
        EXPECT_TRUE(inTable(c)) << "Object " << n << " camera " << i;
        if (inTable(c)) {
          EXPECT_EQ(c->CamIndex, i);
          EXPECT_EQ(c->ObjID, o.ID);
        }
        ++owned;
      }
      if (n >= 1 && n <= settings().ObjectsCount && o.Cams > 0 && o.Cameras[1]) {
        EXPECT_EQ(o.FirstCamera, o.Cameras[1]->Number);
      }
    }
    EXPECT_EQ(owned, t.CameraCount());
    const TCheckListBox& list = form().CamViewListBox;
    for (int i = 0; i < list.Count(); ++i)
      EXPECT_TRUE(inTable(list.Object(i))) << "camera list entry " << i;
  }

  FakeLoop loop;
  TempDir dir;
  std::unique_ptr<Application> app;
};

}  // namespace zv::test
