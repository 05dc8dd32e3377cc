#pragma once
// The foundation's objects on the fake platform, for the tests of an
// engine without the program around it: the journal, the control state,
// the camera table, the settings and the window's frame, with the data
// folder (settings file, journal) in a temporary folder.
#include <string>
#include <vector>

#include "app/Cameras.h"
#include "app/FormModel.h"
#include "app/Journal.h"
#include "app/MainFrame.h"
#include "app/Settings.h"
#include "support/FakePlatform.h"
#include "support/TempDir.h"

namespace zv::test {

struct Foundation {
  TempDir dir;
  FakeLoop loop;
  Journal journal{loop.clock, dir.path().string()};
  TFormModel form;
  CameraTable cameras;
  Settings settings{loop.services, journal, form, cameras, dir.path().string()};
  MainFrame frame{loop.services, form, settings};

  // The cameras go first: they save themselves into the settings.
  ~Foundation() { cameras.FreeAll(); }

  // Journal texts from line `from` on, without number and time.
  std::vector<std::string> Logged(std::size_t from = 0) const {
    std::vector<std::string> out;
    const auto& v = journal.View();
    for (std::size_t i = from; i < v.size(); ++i)
      out.push_back(v[i].text.substr(v[i].text.find("  ", 7) + 2));
    return out;
  }
  std::size_t Lines() const { return journal.View().size(); }
};

}  // namespace zv::test
