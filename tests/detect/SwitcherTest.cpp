// The switcher's line protocol and the opening of its port, on real
// pseudo-terminals and on device paths that do not exist.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "detect/Switcher.h"
#include "platform/LinuxSwitcherLines.h"

namespace zv {
namespace {

// Lines of a device that takes every change, as a switcher sees them.
class RecordedLines final : public ISwitcherLines {
 public:
  explicit RecordedLines(std::vector<std::string>& log) : log_(log) {}
  DeviceResult Open(const std::string& path) override {
    log_.push_back("open " + path);
    open_ = path.find("missing") == std::string::npos;
    return open_ ? DeviceResult::Success() : DeviceResult::FromErrno(path, ENOENT);
  }
  void Close() override {
    if (open_) log_.push_back("close");
    open_ = false;
  }
  bool IsOpen() const override { return open_; }
  bool SetDtr(bool on) override { return Note(on ? "DTR+" : "DTR-"); }
  bool SetRts(bool on) override { return Note(on ? "RTS+" : "RTS-"); }

 private:
  bool Note(const char* what) {
    log_.push_back(what);
    return true;
  }
  std::vector<std::string>& log_;
  bool open_ = false;
};

TEST(Switcher, PulsesDtrOncePerStep) {
  std::vector<std::string> log;
  PortMap ports;
  SwitcherPort sw(ports, std::make_unique<RecordedLines>(log));
  sw.SwitchCamera(3);  // no port: nothing happens
  EXPECT_TRUE(log.empty());
  ports.Set("COM2", "/dev/switcher");
  SwitcherMessage m = sw.Open({2, 1, false, 3});
  EXPECT_EQ(m.kind, SwitcherMessage::Status);
  EXPECT_EQ(m.text, "Порт Com2: для управления видеокоммутатором открыт");
  log.clear();
  sw.SwitchCamera(3);
  EXPECT_EQ(log,
            (std::vector<std::string>{"DTR-", "RTS-", "DTR+", "DTR-", "DTR+", "DTR-", "RTS+"}));
  log.clear();
  sw.SwitchCamera(1);
  EXPECT_EQ(log, (std::vector<std::string>{"DTR-", "RTS-", "RTS+"}));
}

TEST(Switcher, PortConflictsAndFailures) {
  std::vector<std::string> log;
  PortMap ports;
  ports.Set("COM4", "/dev/missing4");
  SwitcherPort sw(ports, std::make_unique<RecordedLines>(log));
  ASSERT_EQ(sw.Open({2, 1, true, 3}).kind, SwitcherMessage::Status);
  EXPECT_EQ(sw.OpenPort(), 2);
  log.clear();

  // The link's port: refused, the open port stays as it was.
  SwitcherMessage m = sw.Open({1, 1, true, 3});
  EXPECT_EQ(m.code, 16);
  EXPECT_EQ(m.text, "Порт Com1: зарезервирован для связи с сервером !");
  // The sensors' port, while sensors on COM are in use.
  m = sw.Open({3, 1, true, 3});
  EXPECT_EQ(m.code, 17);
  EXPECT_EQ(m.text, "Порт Com3: зарезервирован для получения сигналов с датчиков !");
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(sw.OpenPort(), 2);
  // Without sensors on COM that port is free.
  EXPECT_EQ(sw.Open({3, 1, false, 3}).kind, SwitcherMessage::Status);
  EXPECT_EQ(sw.OpenPort(), 3);

  // A device that cannot be opened: the old port is closed, error 18, and
  // the switcher stays still.
  log.clear();
  m = sw.Open({4, 1, false, 3});
  EXPECT_EQ(m.code, 18);
  EXPECT_EQ(m.text,
            "Ошибка открытия порта Com4: для управления видеокоммутатором (/dev/missing4: " +
                std::string(std::strerror(ENOENT)) + ") !");
  EXPECT_EQ(log, (std::vector<std::string>{"close", "open /dev/missing4"}));
  EXPECT_FALSE(sw.IsOpen());
  log.clear();
  sw.SwitchCamera(2);
  EXPECT_TRUE(log.empty());
}

TEST(Switcher, LinuxLinesOpenExistingTerminalsExclusively) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string slave = ::ptsname(master);

  LinuxSwitcherLines lines;
  // A refusal keeps the system's reason, prefixed by the device.
  EXPECT_EQ(lines.Open("/nonexistent/ttyS9").reason,
            "/nonexistent/ttyS9: " + std::string(std::strerror(ENOENT)));
  EXPECT_EQ(lines.Open("/dev/null").error, ENOTTY);  // not a terminal
  EXPECT_FALSE(lines.IsOpen());
  ASSERT_TRUE(lines.Open(slave));
  LinuxSwitcherLines second;
  const DeviceResult held = second.Open(slave);  // held by the first
  EXPECT_EQ(held.kind, DeviceResult::Kind::SystemError);
  EXPECT_EQ(held.reason, slave + ": " + std::strerror(EBUSY));
  // A pseudo-terminal has no modem lines: the change is refused, not faked.
  EXPECT_FALSE(lines.SetDtr(true));
  lines.Close();
  EXPECT_TRUE(second.Open(slave));

  // Through the port map, the whole port works on the pseudo-terminal.
  PortMap ports;
  ports.Set("COM5", slave);
  second.Close();
  SwitcherPort sw(ports, MakeLinuxSwitcherLines());
  EXPECT_EQ(sw.Open({5, 1, false, 2}).kind, SwitcherMessage::Status);
  sw.SwitchCamera(4);  // refused line changes do no harm
  EXPECT_TRUE(sw.IsOpen());
  ::close(master);
}

}  // namespace
}  // namespace zv
