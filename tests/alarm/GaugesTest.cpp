#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "AlarmFixture.h"
#include "platform/LinuxModemLines.h"
#include "platform/LinuxParallelPort.h"
#include "platform/LinuxSerialDevice.h"

namespace zv::test {
namespace {

using Lines = std::vector<std::string>;

class GaugesTest : public AlarmFixture {};

TEST_F(GaugesTest, ParallelGaugeGivesOneStartAndOneEndLineWhateverThePollCount) {
  form().UseGaugesOnLpt.SetChecked(true);
  form().EventLPTPort.SetValue(2);
  form().NotAck.SetChecked(true);
  loop.ports.Set("LPT2", "/dev/fake-lpt");
  const std::size_t start = JournalSize();

  EXPECT_TRUE(Poll());
  EXPECT_EQ(lpt->lastPath, "/dev/fake-lpt");
  EXPECT_EQ(form().NotAck.FontColor(), Gauges::kNormalColor);
  EXPECT_TRUE(form().NotAck.FontStyle() & fsUnderline);
  EXPECT_FALSE(form().Busy.FontStyle() & fsUnderline);

  lpt->status = 0x80 | 0x40;  // Ack pin high
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(Poll());
  EXPECT_EQ(form().NotAck.FontColor(), Gauges::kAlarmColor);
  EXPECT_EQ(site().GaugeAlarmMask, 0x10);
  EXPECT_EQ(site().GaugeEnabledMask, 0x10);
  EXPECT_EQ(app->journal.Status()[0].text, "Сработка - \"Большая комн.\" !");

  lpt->status = 0x80;
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(Poll());
  EXPECT_EQ(form().NotAck.FontColor(), Gauges::kNormalColor);
  EXPECT_EQ(site().GaugeAlarmMask, 0);
  EXPECT_EQ(Logged(start),
            (Lines{"Сработка - \"Большая комн.\" !", "Завершение сработки - \"Большая комн.\" !"}));
  EXPECT_EQ(lpt->reads, 11);
}

TEST_F(GaugesTest, ParallelBitsEachInputHighIsAlarmAndBusyComesInverted) {
  form().UseGaugesOnLpt.SetChecked(true);
  TCheckBox* boxes[5] = {&form().NotAck, &form().Busy, &form().PaperOut, &form().SelectIn,
                         &form().NotError};
  for (TCheckBox* b : boxes) b->SetChecked(true);
  struct Case {
    std::uint8_t reg;
    int alarmed;  // index into boxes, -1: none
  } cases[] = {{0x80, -1}, {0xC0, 0}, {0x00, 1}, {0xA0, 2}, {0x90, 3}, {0x88, 4}};
  const std::uint8_t bits[5] = {0x10, 0x08, 0x04, 0x02, 0x01};
  for (const Case& c : cases) {
    lpt->status = c.reg;
    EXPECT_EQ(Poll(), c.alarmed < 0) << int(c.reg);
    for (int i = 0; i < 5; ++i)
      EXPECT_EQ(boxes[i]->FontColor(), i == c.alarmed ? Gauges::kAlarmColor : Gauges::kNormalColor)
          << int(c.reg) << " " << i;
    EXPECT_EQ(site().GaugeAlarmMask, c.alarmed < 0 ? 0 : bits[c.alarmed]);
    EXPECT_EQ(site().GaugeEnabledMask, 0x1F);
  }
  // Every pin high at once: all five in alarm; names go with their inputs.
  lpt->status = 0x80;
  EXPECT_TRUE(Poll());
  lpt->status = 0x78;
  const std::size_t before = JournalSize();
  EXPECT_FALSE(Poll());
  EXPECT_EQ(site().GaugeAlarmMask, 0x1F);
  EXPECT_EQ(Logged(before), (Lines{"Сработка - \"Большая комн.\" !", "Сработка - \"Спальня\" !",
                                   "Сработка - \"Прихожая\" !", "Сработка - \"Кухня\" !",
                                   "Сработка - \"Сейф\" !"}));
}

TEST_F(GaugesTest, SwitchingGaugesOffAndOn) {
  form().UseGaugesOnLpt.SetChecked(true);
  form().Busy.SetChecked(true);
  lpt->status = 0x00;  // Busy pin high
  EXPECT_FALSE(Poll());
  EXPECT_TRUE(alarm().gauges.Latched(3));

  // Switched off while red: one line, then nothing however often polled.
  std::size_t before = JournalSize();
  form().Busy.SetChecked(false);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(Poll());
  EXPECT_EQ(Logged(before), (Lines{"Отключение датчика \"Спальня\" в состоянии сработки !"}));
  // Off but red: alarm bit only, the verdict is untouched.
  EXPECT_EQ(form().Busy.FontColor(), Gauges::kAlarmColor);
  EXPECT_FALSE(form().Busy.FontStyle() & fsUnderline);
  EXPECT_EQ(site().GaugeAlarmMask, 0x08);
  EXPECT_EQ(site().GaugeEnabledMask, 0x00);

  // Switched on again while still in alarm: a new start line.
  before = JournalSize();
  form().Busy.SetChecked(true);
  EXPECT_FALSE(Poll());
  EXPECT_EQ(Logged(before), (Lines{"Сработка - \"Спальня\" !"}));
}

TEST_F(GaugesTest, UnreadableBusyOrUnusedParallelPort) {
  loop.ports.Set("LPT1", "/dev/parport0");
  form().UseGaugesOnLpt.SetChecked(true);
  form().NotError.SetChecked(true);
  form().ClientComPort.SetValue(1);
  form().UseGaugesOnCom.SetChecked(true);
  form().CTS.SetChecked(true);
  com->lines.cts = false;
  lpt->status = 0x88;
  EXPECT_FALSE(Poll());
  EXPECT_EQ(site().GaugeAlarmMask, 0x21);
  EXPECT_EQ(site().GaugeEnabledMask, 0x21);

  // Held by a print job: the parallel gauges stay as they were, quietly.
  lpt->busy = true;
  std::size_t before = JournalSize();
  EXPECT_FALSE(Poll());
  EXPECT_EQ(site().GaugeAlarmMask, 0x21);
  EXPECT_EQ(site().GaugeEnabledMask, 0x21);
  EXPECT_EQ(Logged(before), Lines{});
  lpt->busy = false;

  // Not accessible: its bits are cleared (colours and latches stay), and
  // the reason is journaled once, however often the poll runs.
  lpt->present = false;
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(Poll());  // the serial gauge is still in alarm
  EXPECT_EQ(site().GaugeAlarmMask, 0x20);
  EXPECT_EQ(site().GaugeEnabledMask, 0x20);
  EXPECT_EQ(form().NotError.FontColor(), Gauges::kAlarmColor);
  EXPECT_TRUE(alarm().gauges.Latched(0));
  EXPECT_EQ(Logged(before), (Lines{"Ошибка открытия порта LPT1 для получения сигналов с датчиков "
                                   "(/dev/parport0: Permission denied) !"}));
  EXPECT_NE(app->journal.Status()[0].text.find("Permission denied"), std::string::npos);
  // Readable again: said once; a later failure is told again.
  lpt->present = true;
  before = JournalSize();
  Poll();
  Poll();
  lpt->present = false;
  lpt->error = "No such file or directory";
  Poll();
  EXPECT_EQ(Logged(before), (Lines{"Порт LPT1 для получения сигналов с датчиков открыт",
                                   "Ошибка открытия порта LPT1 для получения сигналов с датчиков "
                                   "(/dev/parport0: No such file or directory) !"}));

  lpt->present = true;
  form().UseGaugesOnLpt.SetChecked(false);
  form().UseGaugesOnCom.SetChecked(false);
  EXPECT_TRUE(Poll());
  EXPECT_EQ(site().GaugeAlarmMask, 0);
  EXPECT_EQ(site().GaugeEnabledMask, 0);
  EXPECT_EQ(lpt->reads, 3);
}

TEST_F(GaugesTest, SerialGaugesReadCarrierDsrCtsAndOpenThePortOnEveryPoll) {
  form().UseGaugesOnCom.SetChecked(true);
  form().EventComPort.SetValue(3);
  loop.ports.Set("COM3", "/dev/fake-com");
  form().CD.SetChecked(true);
  form().DSR.SetChecked(true);
  form().CTS.SetChecked(true);
  EXPECT_TRUE(Poll());
  EXPECT_EQ(com->lastPath, "/dev/fake-com");
  EXPECT_EQ(site().GaugeEnabledMask, 0xE0);

  // The "CD" gauge follows carrier detect; the ring line plays no part.
  com->lines.ring = true;
  EXPECT_TRUE(Poll());
  com->lines = {true, true, false, false};
  const std::size_t before = JournalSize();
  EXPECT_FALSE(Poll());
  EXPECT_EQ(form().CD.FontColor(), Gauges::kAlarmColor);
  EXPECT_EQ(site().GaugeAlarmMask, 0x80);
  com->lines = {false, false, true, false};
  EXPECT_FALSE(Poll());
  EXPECT_EQ(site().GaugeAlarmMask, 0x60);
  EXPECT_EQ(Logged(before), (Lines{"Сработка - \"Двери\" !", "Завершение сработки - \"Двери\" !",
                                   "Сработка - \"Окна\" !", "Сработка - \"Балкон\" !"}));
  EXPECT_EQ(com->opens, 4);
  EXPECT_EQ(com->closes, 4);
  EXPECT_FALSE(com->open);
}

TEST_F(GaugesTest, SerialGaugesFreezeWhenThePortIsTheLinksBusyOrWithoutLines) {
  form().ClientComPort.SetValue(1);
  form().UseGaugesOnCom.SetChecked(true);
  form().DSR.SetChecked(true);
  com->lines.dsr = false;
  EXPECT_FALSE(Poll());
  ASSERT_EQ(site().GaugeAlarmMask, 0x40);
  com->lines.dsr = true;

  // Frozen: the masks and the colour stay; only the gauges actually read
  // take part in the verdict.
  const std::size_t before = JournalSize();
  form().ClientComPort.SetValue(form().EventComPort.Value());  // the link's port
  EXPECT_TRUE(Poll());
  form().ClientComPort.SetValue(1);
  EXPECT_EQ(Logged(before), Lines{});
  // Busy or missing (an adapter pulled out): told once, however many polls
  // find it so, and its return told once.
  com->present = false;
  EXPECT_TRUE(Poll());
  EXPECT_TRUE(Poll());
  com->present = true;
  com->hasLines = false;  // cannot report its lines
  EXPECT_TRUE(Poll());
  EXPECT_EQ(site().GaugeAlarmMask, 0x40);
  EXPECT_EQ(site().GaugeEnabledMask, 0x40);
  EXPECT_EQ(form().DSR.FontColor(), Gauges::kAlarmColor);
  EXPECT_EQ(com->opens, 2);
  EXPECT_EQ(com->closes, 2);
  const Lines gone{
      "Ошибка открытия порта Com2: для получения сигналов с датчиков "
      "(/nonexistent-zorvenix-ports/COM2: No such file or directory) !",
      "Порт Com2: для получения сигналов с датчиков открыт"};
  EXPECT_EQ(Logged(before), gone);

  com->hasLines = true;
  EXPECT_TRUE(Poll());
  EXPECT_EQ(Logged(before + 2), (Lines{"Завершение сработки - \"Окна\" !"}));
}

TEST_F(GaugesTest, CameraMotionAlarms) {
  app->cameras.SetFactory([](int n) { return std::make_unique<TCameraInfo>(n); });
  app->cameras.CreateNext().Description = "Вход";
  app->cameras.CreateNext().Description = "Двор";
  app->cameras.CreateNext().Description = "Гараж";
  // Reaction on at the default threshold, nothing changing: quiet.
  for (int k = 1; k <= 3; ++k) feed.cams[static_cast<std::size_t>(k)] = {true, 0.10, 0};
  feed.cams[3].reactionEnabled = false;
  feed.cams[3].changeValue = 90;  // reaction off: never an alarm
  const std::size_t start = JournalSize();
  EXPECT_TRUE(Poll());
  EXPECT_EQ(site().CameraAlarmMask, 0);

  // Motion while disarmed: mask and verdict, but no line.
  feed.cams[2].changeValue = 1;
  EXPECT_FALSE(Poll());
  EXPECT_EQ(site().CameraAlarmMask, 0x02);
  EXPECT_FALSE(alarm().gauges.CameraQuiet(2));
  EXPECT_EQ(Logged(start), Lines{});

  // Armed: entering and leaving motion are journaled; a motion that began
  // before arming was absorbed and is not reported again.
  site().Armed = true;
  feed.cams[1].eventPercent = 2.5;  // rounds to 2
  feed.cams[1].changeValue = 2;
  EXPECT_FALSE(Poll());
  EXPECT_EQ(site().CameraAlarmMask, 0x03);
  feed.cams[1].changeValue = 1;
  feed.cams[2].changeValue = 0;
  EXPECT_TRUE(Poll());
  EXPECT_EQ(Logged(start), (Lines{"Сработка по видеокамере \"Вход\" !",
                                  "Завершение движения по видеокамере \"Вход\"",
                                  "Завершение движения по видеокамере \"Двор\""}));
}

TEST(CameraMotion, LevelZeroIsNeverMotionAndThresholdsRoundHalfToEven) {
  EXPECT_FALSE(IsCameraMotion({true, 0.10, 0}));
  EXPECT_FALSE(IsCameraMotion({true, 0.0, 0}));
  EXPECT_TRUE(IsCameraMotion({true, 0.10, 1}));
  EXPECT_FALSE(IsCameraMotion({false, 0.10, 50}));
  EXPECT_FALSE(IsCameraMotion({true, 3.5, 3}));  // rounds to 4
  EXPECT_TRUE(IsCameraMotion({true, 2.5, 2}));   // rounds to 2
  EXPECT_TRUE(IsCameraMotion({true, 3.0, 3}));
}

TEST_F(GaugesTest, PortCheckReportsConflictsAndOpenFailures) {
  form().UseSwitcher.SetChecked(true);
  form().SwitcherComPort.SetValue(4);
  form().ClientComPort.SetValue(2);
  // Not before the settings are loaded, not with the COM gauges unused.
  form().UseGaugesOnCom.SetChecked(true);
  EXPECT_EQ(JournalSize(), 0u);
  app->settings.SettingsLoaded = true;
  form().UseGaugesOnCom.SetChecked(false);
  form().EventComPort.SetValue(3);
  EXPECT_EQ(JournalSize(), 0u);

  form().UseGaugesOnCom.SetChecked(true);  // port 3 is free
  form().EventComPort.SetValue(2);         // the link's
  form().EventComPort.SetValue(4);         // the switcher's
  com->present = false;
  form().EventComPort.SetValue(5);
  // A port that does not open says why, in the same line.
  const std::string failed = "Ошибка открытия порта Com5: для получения сигналов с датчиков (" +
                             loop.ports.ComDevice(5) + ": " + std::strerror(ENOENT) + ") !";
  EXPECT_EQ(Logged(),
            (Lines{"Порт Com3: для получения сигналов с датчиков открыт",
                   "Порт Com2: зарезервирован для связи с сервером !",
                   "Порт Com4: зарезервирован для управления видеокоммутатором !", failed}));
  EXPECT_EQ(app->journal.Status()[0].text, failed);
  EXPECT_EQ(app->journal.Status()[0].color, colors::clRed);
  EXPECT_EQ(com->opens, com->closes);
  // The error codes go to the journal file.
  const std::string log = ReadFile(app->journal.LogPath());
  for (const char* code : {"      13 Порт", "      14 Порт", "      15 Ошибка"})
    EXPECT_NE(log.find(code), std::string::npos) << code;

  // A station has no gauges.
  app->settings.ServerMode = true;
  const std::size_t before = JournalSize();
  form().EventComPort.SetValue(2);
  EXPECT_EQ(JournalSize(), before);
}

// A pseudo-terminal opens like a serial port but has no modem lines: the
// poll skips the serial gauges without a word, the port check passes.
TEST_F(GaugesTest, RealDeviceLayerOnAPseudoTerminal) {
  int master = -1, slave = -1;
  char name[256] = {};
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  ::close(slave);
  alarm().gauges.SetModemLines(MakeLinuxModemLines());
  loop.ports.Set("COM3", name);
  form().EventComPort.SetValue(3);
  form().UseGaugesOnCom.SetChecked(true);
  form().CD.SetChecked(true);
  app->settings.SettingsLoaded = true;

  alarm().gauges.EventComPortChange();
  const auto fds = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                         std::filesystem::directory_iterator());
  };
  const auto open = fds();
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(Poll());
  EXPECT_EQ(fds(), open);  // closed again after every poll
  EXPECT_EQ(site().GaugeEnabledMask, 0);
  EXPECT_EQ(form().CD.FontColor(), colors::clBlack);  // never read
  EXPECT_EQ(Logged(), (Lines{"Порт Com3: для получения сигналов с датчиков открыт"}));

  // A port held exclusively by another user (the switcher, the link) is
  // busy, and its holder keeps its claim.
  LinuxSerialDevice holder;
  ASSERT_TRUE(holder.Open(name));
  const std::size_t before = JournalSize();
  alarm().gauges.EventComPortChange();
  EXPECT_TRUE(Poll());  // the poll does not repeat what the check said
  EXPECT_EQ(Logged(before),
            (Lines{"Ошибка открытия порта Com3: для получения сигналов с датчиков (" +
                   std::string(name) + ": " + std::strerror(EBUSY) + ") !"}));
  int held = 0;
  ASSERT_EQ(::ioctl(holder.fd(), TIOCGEXCL, &held), 0);
  EXPECT_EQ(held, 1);
  holder.Close();

  // A device that is not there; a file that is not a terminal.
  LinuxModemLines lines;
  EXPECT_EQ(lines.Open(dir.file("missing")).reason,
            dir.file("missing") + ": " + std::strerror(ENOENT));
  WriteFile(dir.file("plain"), "x");
  EXPECT_EQ(lines.Open(dir.file("plain")).error, ENOTTY);
  EXPECT_FALSE(lines.IsOpen());
  ::close(master);
}

TEST(ParallelDevice, AbsentOrNonPortDevicesCannotBeReadAndSayWhy) {
  TempDir d;
  ParallelRead r = ReadParallelStatusNow(d.file("parport9"));
  EXPECT_EQ(r.status, ParallelRead::Failed);
  EXPECT_EQ(r.error, std::strerror(ENOENT));
  WriteFile(d.file("plain"), "x");
  r = ReadParallelStatusNow(d.file("plain"));
  EXPECT_EQ(r.status, ParallelRead::Failed);
  EXPECT_FALSE(r.error.empty());
  EXPECT_EQ(ReadParallelStatusNow("/dev/null").status, ParallelRead::Failed);
  EXPECT_EQ(ReadParallelStatusNow("").status, ParallelRead::Failed);
  // The program's reader answers the same, from its own thread.
  AsyncParallelStatus lpt(ReadParallelStatusNow);
  EXPECT_EQ(lpt.Read(d.file("parport9")).error, std::strerror(ENOENT));
}

// A claim that does not return (another driver holds the port) never holds
// the poll up: the read is busy until the claim ends, and the reader can be
// destroyed meanwhile.
TEST(ParallelDevice, AClaimThatWaitsNeverBlocksTheCaller) {
  struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    int reads = 0;
  };
  auto gate = std::make_shared<Gate>();
  auto reader = [gate](const std::string&) {
    std::unique_lock<std::mutex> lk(gate->m);
    ++gate->reads;
    gate->cv.wait(lk, [&] { return gate->open; });
    ParallelRead r;
    r.status = ParallelRead::Ok;
    r.value = 0x88;
    return r;
  };
  auto lpt = std::make_unique<AsyncParallelStatus>(reader, 5);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(lpt->Read("/dev/parport0").status, ParallelRead::Busy);
  {
    std::lock_guard<std::mutex> lk(gate->m);
    EXPECT_EQ(gate->reads, 1);  // one claim at a time
    gate->open = true;
  }
  gate->cv.notify_all();
  ParallelRead r;
  for (int i = 0; i < 1000 && r.status != ParallelRead::Ok; ++i) r = lpt->Read("/dev/parport0");
  EXPECT_EQ(r.status, ParallelRead::Ok);
  EXPECT_EQ(r.value, 0x88);

  // Stuck again, and the reader goes away: nobody waits for the claim.
  {
    std::lock_guard<std::mutex> lk(gate->m);
    gate->open = false;
  }
  while (lpt->Read("/dev/parport0").status == ParallelRead::Ok) {
  }
  lpt.reset();
  {
    std::lock_guard<std::mutex> lk(gate->m);
    gate->open = true;
  }
  gate->cv.notify_all();
}

}  // namespace
}  // namespace zv::test
