// The real program, started as a process in a fresh folder and stopped with
// SIGTERM, as a service manager would.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/IniFile.h"
#include "support/Locale.h"
#include "support/TempDir.h"

namespace zv {
namespace {

using namespace std::chrono_literals;

// locale: the child's LC_ALL (empty: inherited).
pid_t Launch(const std::string& dir, const std::string& locale = {}) {
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!locale.empty()) {
      setenv("LC_ALL", locale.c_str(), 1);
      setenv("LANG", locale.c_str(), 1);
    }
    execl(ZORVENIX_BIN, ZORVENIX_BIN, "--dir", dir.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

bool WaitForText(const std::string& path, const std::string& text, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (test::ReadFile(path).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

// Kills a child the test left running (an assertion failed before Stop).
struct Reaper {
  pid_t pid;
  ~Reaper() {
    if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
};

int Stop(pid_t pid) {
  kill(pid, SIGTERM);
  int status = 0;
  for (int i = 0; i < 600; ++i) {
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(50ms);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -2;
}

std::vector<std::string> Texts(const std::string& log) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos < log.size()) {
    std::size_t nl = log.find("\r\n", pos);
    if (nl == std::string::npos) nl = log.size();
    const std::string line = log.substr(pos, nl - pos);
    if (line.size() > 50) out.push_back(line.substr(49));
    pos = nl + 2;
  }
  return out;
}

// No real port may be touched: every port name points at a path that does
// not exist.
std::string NoPorts() {
  std::string ports = "[Ports]\r\n";
  for (int i = 1; i <= 8; ++i)
    ports += "COM" + std::to_string(i) + "=/nonexistent/tty" + std::to_string(i) + "\r\n";
  for (int i = 1; i <= 3; ++i)
    ports += "LPT" + std::to_string(i) + "=/nonexistent/lp" + std::to_string(i) + "\r\n";
  return ports;
}

TEST(Program, StartsInAnEmptyFolderAndStopsCleanlyOnSigterm) {
  test::TempDir dir;
  const std::string log = dir.file("Zorvenix.log");
  // Nothing else is configured.
  test::WriteFile(dir.file("Zorvenix.ini"), NoPorts());
  const pid_t first = Launch(dir.path().string());
  ASSERT_GT(first, 0);
  Reaper reapFirst{first};
  ASSERT_TRUE(WaitForText(log, "Программа запущена", 60s));
  EXPECT_EQ(Stop(first), 0);
  // A fresh site looks for its modem on Com2, which is not there.
  EXPECT_EQ(Texts(test::ReadFile(log)),
            (std::vector<std::string>{
                "Старт программы...", "Ошибка открытия порта Com2: для связи с сервером !",
                "Программа запущена", "Завершение программы...", "Программа завершена"}));
  EXPECT_EQ(test::ReadFile(log).substr(0, 5), "    1");

  IniFile ini(dir.file("Zorvenix.ini"));
  ASSERT_TRUE(ini.Load());
  EXPECT_EQ(ini.ReadString("MainForm", "UseSwitcher.Checked", "?"), "0");
  EXPECT_EQ(ini.ReadString("MainForm", "AllCams.Checked", "?"), "1");
  EXPECT_EQ(ini.ReadString("MainForm", "RecordSound.Checked", "?"), "1");
  // The recording page shows camera 1's own rate.
  EXPECT_EQ(ini.ReadString("MainForm", "RecFreq.Value", "?"), "160");
  EXPECT_EQ(ini.ReadInteger("Main", "ObjectsCount", -1), 0);
  EXPECT_EQ(ini.ReadInteger("Main", "AbonentsCount", -1), 0);

  // A second start continues the numbering.
  const pid_t second = Launch(dir.path().string());
  Reaper reapSecond{second};
  ASSERT_TRUE(WaitForText(log, "    8  ", 60s));
  EXPECT_EQ(Stop(second), 0);
  const auto texts = Texts(test::ReadFile(log));
  ASSERT_EQ(texts.size(), 10u);
  EXPECT_EQ(texts[5], "Старт программы...");
}

// A machine set to Russian: Qt switches the C library to the decimal comma.
// Every decimal and the zone grid must come back from the file unchanged,
// and nothing may be reported.
TEST(Program, KeepsDecimalsAndZonesUnderADecimalCommaLocale) {
  std::string why;
  const auto locale = test::DecimalCommaLocale(&why);
  if (!locale) GTEST_SKIP() << "no decimal-comma locale: " << why;
  test::TempDir dir;
  const std::string log = dir.file("Zorvenix.log");
  std::string zones(320, '0');
  for (int i = 0; i < 40; ++i) zones[static_cast<std::size_t>(i * 7)] = '1';
  const std::string ini =
      NoPorts() +
      "[MainForm]\r\nCamerasAmount.Value=2\r\nRecFreq.Value=12.5\r\nChangeLimit.Value=0.35\r\n"
      "ViewFreq.Value=2.5\r\nClientCommType.ItemIndex=2\r\nServerAddresses.Text=127.0.0.1\r\n"
      "[Camera1]\r\nIgnoreChangesPercent=0.35\r\nChangesEventPercent=1.25\r\n"
      "FramesPerMinute=12.5\r\nZones=" +
      zones +
      "\r\n"
      "[Camera2]\r\nIgnoreChangesPercent=0.001\r\nChangesEventPercent=7.5\r\n"
      "FramesPerMinute=0.333333333333333\r\nZones=" +
      std::string(320, '1') + "\r\n";
  test::WriteFile(dir.file("Zorvenix.ini"), ini);
  IniFile before;
  before.LoadFromText(ini);

  const pid_t pid = Launch(dir.path().string(), *locale);
  ASSERT_GT(pid, 0);
  Reaper reap{pid};
  ASSERT_TRUE(WaitForText(log, "Программа запущена", 60s));
  EXPECT_EQ(Stop(pid), 0);

  IniFile after(dir.file("Zorvenix.ini"));
  ASSERT_TRUE(after.Load());
  for (const char* key : {"RecFreq.Value", "ChangeLimit.Value", "ViewFreq.Value"})
    EXPECT_EQ(after.ReadString("MainForm", key, "?"), before.ReadString("MainForm", key, ""))
        << key;
  for (const char* sec : {"Camera1", "Camera2"})
    for (const char* key :
         {"IgnoreChangesPercent", "ChangesEventPercent", "FramesPerMinute", "Zones"})
      EXPECT_EQ(after.ReadString(sec, key, "?"), before.ReadString(sec, key, "")) << sec << key;
  EXPECT_EQ(Texts(test::ReadFile(log)),
            (std::vector<std::string>{"Старт программы...", "Программа запущена",
                                      "Завершение программы...", "Программа завершена"}));
}

// Runs the program through the shell with the given environment and
// arguments; its output lands in out.  Returns the exit status.
int RunShell(const std::string& env, const std::string& args, const std::string& out) {
  const std::string cmd = "env -u DISPLAY -u WAYLAND_DISPLAY " + env + " " ZORVENIX_BIN " " + args +
                          " >" + out + " 2>&1";
  const int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Program, AnswersHelpWithoutADisplayAndRefusesAWrongCommandLine) {
  test::TempDir dir;
  const std::string out = dir.file("out.txt");
  // No display and a platform that needs one: --help and --version must not
  // start the window system at all.
  EXPECT_EQ(RunShell("QT_QPA_PLATFORM=xcb", "--help", out), 0);
  EXPECT_NE(test::ReadFile(out).find("--page CAPTION"), std::string::npos) << test::ReadFile(out);
  EXPECT_EQ(RunShell("QT_QPA_PLATFORM=xcb", "--version", out), 0);
  EXPECT_EQ(test::ReadFile(out).rfind("zorvenix ", 0), 0u) << test::ReadFile(out);

  EXPECT_EQ(RunShell("QT_QPA_PLATFORM=offscreen", "--dir " + dir.file("a") + " --seconds 5s", out),
            2);
  EXPECT_NE(test::ReadFile(out).find("5s"), std::string::npos) << test::ReadFile(out);
  EXPECT_FALSE(std::filesystem::exists(dir.file("a/Zorvenix.log")));

  // A page the site does not have: refused, through the normal shutdown.
  std::string ports = "[Ports]\r\n";
  for (int i = 1; i <= 8; ++i)
    ports += "COM" + std::to_string(i) + "=/nonexistent/tty" + std::to_string(i) + "\r\n";
  std::filesystem::create_directories(dir.file("site"));
  test::WriteFile(dir.file("site/Zorvenix.ini"), ports);
  EXPECT_EQ(
      RunShell("QT_QPA_PLATFORM=offscreen", "--dir " + dir.file("site") + " --page Объекты", out),
      2);
  EXPECT_NE(test::ReadFile(out).find("no page \"Объекты\""), std::string::npos)
      << test::ReadFile(out);
  const auto texts = Texts(test::ReadFile(dir.file("site/Zorvenix.log")));
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), "Программа завершена");
}

}  // namespace
}  // namespace zv
