// The real program, started as a process in a fresh folder and stopped with
// SIGTERM, as a service manager would.
#include <gtest/gtest.h>

#include <filesystem>

#include "Programs.h"
#include "app/IniFile.h"

namespace zv {
namespace {

using namespace std::chrono_literals;

using namespace test;

TEST(Program, StartsInAnEmptyFolderAndStopsCleanlyOnSigterm) {
  test::TempDir dir;
  const std::string log = dir.file("Zorvenix.log");
  // Nothing else is configured, but no real port may be touched: every port
  // name points at a path that does not exist.
  std::string ports = "[Ports]\r\n";
  for (int i = 1; i <= 8; ++i)
    ports += "COM" + std::to_string(i) + "=/nonexistent/tty" + std::to_string(i) + "\r\n";
  for (int i = 1; i <= 3; ++i)
    ports += "LPT" + std::to_string(i) + "=/nonexistent/lp" + std::to_string(i) + "\r\n";
  test::WriteFile(dir.file("Zorvenix.ini"), ports);
  const pid_t first = Launch(dir.path().string());
  ASSERT_GT(first, 0);
  Reaper reapFirst{first};
  ASSERT_TRUE(WaitForText(log, "Программа запущена", 60s));
  EXPECT_EQ(Stop(first), 0);
  // A fresh site looks for its modem on Com2, which is not there.
  EXPECT_EQ(Texts(test::ReadFile(log)),
            (std::vector<std::string>{
                "Старт программы...", "Ошибка открытия порта Com2: для связи с сервером !",
                "Com2: /nonexistent/tty2: No such file or directory", "Программа запущена",
                "Завершение программы...", "Программа завершена"}));
  EXPECT_EQ(test::ReadFile(log).substr(0, 5), "    1");
  // The modem's log and trace lie beside the journal from the start.
  EXPECT_TRUE(std::filesystem::exists(dir.file("Debug.log")));
  EXPECT_TRUE(std::filesystem::exists(dir.file("Trace.log")));

  IniFile ini(dir.file("Zorvenix.ini"));
  ASSERT_TRUE(ini.Load());
  EXPECT_EQ(ini.ReadString("MainForm", "UseSwitcher.Checked", "?"), "0");
  EXPECT_EQ(ini.ReadString("MainForm", "AllCams.Checked", "?"), "1");
  // The recording page shows camera 1's own rate.
  EXPECT_EQ(ini.ReadString("MainForm", "RecFreq.Value", "?"), "160");
  EXPECT_EQ(ini.ReadInteger("Main", "ObjectsCount", -1), 0);
  EXPECT_EQ(ini.ReadInteger("Main", "AbonentsCount", -1), 0);

  // A second start continues the numbering.
  const pid_t second = Launch(dir.path().string());
  Reaper reapSecond{second};
  ASSERT_TRUE(WaitForText(log, "    9  ", 60s));
  EXPECT_EQ(Stop(second), 0);
  const auto texts = Texts(test::ReadFile(log));
  ASSERT_EQ(texts.size(), 12u);
  EXPECT_EQ(texts[6], "Старт программы...");
}

}  // namespace
}  // namespace zv
