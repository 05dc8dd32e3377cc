// Editing a full station directory: 100 Objects, 20 cameras.  One cycle
// deletes the first Object (its two cameras go, the other 18 move down),
// adds a new one and gives it two cameras again.  Also the cost of one
// keystroke in an Abonent's name at a site with a full call list.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "app/Application.h"
#include "directory/Directory.h"
#include "support/FakePlatform.h"
#include "support/TempDir.h"
#include "video/VideoInput.h"

namespace {

std::string Ports() {
  std::string s = "[Ports]\n";
  for (int i = 1; i <= 8; ++i) s += "COM" + std::to_string(i) + "=/nonexistent/zv-tty\n";
  for (int i = 1; i <= 3; ++i) s += "LPT" + std::to_string(i) + "=/nonexistent/zv-lp\n";
  return s;
}

struct Program {
  explicit Program(const std::string& ini) {
    zv::test::WriteFile(dir.file("Zorvenix.ini"), ini + Ports());
    app = std::make_unique<zv::Application>(loop.services,
                                            zv::AppPaths{dir.path().string(), dir.path().string()});
    app->FormCreate();
    app->video->SetViewPanelSize(1024, 560);
  }
  ~Program() { app->FormClose(); }
  zv::test::FakeLoop loop;
  zv::test::TempDir dir;
  std::unique_ptr<zv::Application> app;
};

void BM_DeleteAndAddObjectOfAFullStation(benchmark::State& state) {
  std::string ini = "[Main]\nServerMode=1\nObjectsCount=100\n";
  for (int n = 1; n <= 100; ++n)
    ini += "[Object" + std::to_string(n) + "]\nCams=" + (n <= 10 ? "2" : "0") + "\n";
  Program p(ini);
  zv::TFormModel& f = p.app->form;
  for (auto _ : state) {
    f.ObjectListBox.UserSelect(0);
    f.DelObject.Click();
    f.AddObject.Click();
    f.ObjCamerasAmount.SetValue(2);
  }
  if (p.app->cameras.CameraCount() != 20) state.SkipWithError("camera count drifted");
}
BENCHMARK(BM_DeleteAndAddObjectOfAFullStation)->Unit(benchmark::kMicrosecond);

void BM_KeystrokeInAbonentName(benchmark::State& state) {
  std::string ini = "[Main]\nAbonentsCount=20\n";
  Program p(ini);
  zv::TFormModel& f = p.app->form;
  f.AbonentListBox.UserSelect(10);
  std::string name = "Абонент";
  int i = 0;
  for (auto _ : state) {
    f.AbonName.SetText(name + std::to_string(i++ & 1023));
  }
  if (f.AbonentListBox.Text(10) != f.AbonName.Text()) state.SkipWithError("entry not renamed");
}
BENCHMARK(BM_KeystrokeInAbonentName);

}  // namespace

BENCHMARK_MAIN();
