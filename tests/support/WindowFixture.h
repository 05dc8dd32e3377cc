#pragma once
// A real main window over the fake platform, for the GUI tests: Open() starts
// the core in a fresh folder (with an optional settings file), shows the
// window and lets its first events run; TearDown closes it.
#include <gtest/gtest.h>

#include <QApplication>
#include <memory>
#include <string>

#include "app/Application.h"
#include "support/FakePlatform.h"
#include "support/TempDir.h"
#include "ui/MainWindow.h"

namespace zv::test {

struct WindowFixture : ::testing::Test {
  TempDir dir;
  FakeLoop loop;
  std::unique_ptr<Application> app;
  std::unique_ptr<ui::TForm1> window;

  void Open(const std::string& ini = {}) {
    if (!ini.empty()) WriteFile(dir.file("Zorvenix.ini"), ini);
    app = std::make_unique<Application>(loop.services,
                                        AppPaths{dir.path().string(), dir.path().string()});
    window = std::make_unique<ui::TForm1>(*app);
    app->FormCreate();
    window->show();
    QApplication::processEvents();
  }
  void TearDown() override {
    if (window) window->close();
    window.reset();
    app.reset();
  }
  template <class W>
  W* Find(const char* name) {
    auto* w = window->findChild<W*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
};

}  // namespace zv::test
