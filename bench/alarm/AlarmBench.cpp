// The gauge poll as the heartbeat runs it once a second: all eight gauges
// switched on, the serial inputs on a pseudo-terminal opened and closed per
// poll through the real device layer, the parallel port absent, and eight
// cameras evaluated.  The poll must stay far below the one-second tick.
#include <benchmark/benchmark.h>
#include <pty.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "alarm/Gauges.h"
#include "platform/LinuxModemLines.h"
#include "platform/LinuxParallelPort.h"

namespace zv {
namespace {

struct NoPump final : IEventPump {
  void ProcessEvents() override {}
};
struct NoTimerBackend final : ITimerBackend {
  void Start(unsigned) override {}
  void Stop() override {}
};
struct NoTimers final : ITimerFactory {
  std::unique_ptr<ITimerBackend> CreateTimer(std::function<void()>) override {
    return std::make_unique<NoTimerBackend>();
  }
};
struct NoDialogs final : IDialogs {
  MsgResult MessageBox(const std::string&, const std::string&, MsgButtons, MsgIcon) override {
    return MsgResult::Ok;
  }
  bool InputQuery(const std::string&, const std::string&, std::string&, bool) override {
    return false;
  }
};
struct Silent final : ISpeaker {
  bool HasDirectAccess() const override { return false; }
  void SetDirectTone(unsigned) override {}
  void Beep(unsigned, unsigned) override {}
  void DefaultBeep() override {}
};
struct Screen final : IDisplayInfo {
  DisplayMetrics Query() const override { return {1280, 1024, 32}; }
};

struct Site {
  SystemClock clock;
  QueueDispatcher dispatcher;
  NoPump pump;
  NoTimers timers;
  NoDialogs dialogs;
  Silent speaker;
  Screen display;
  PortMap ports;
  Services services{clock, dispatcher, pump, timers, dialogs, speaker, display, ports};
  std::filesystem::path dir;
  Journal journal;
  TFormModel form;
  CameraTable cameras;
  Settings settings;
  SiteStatus status;
  Gauges gauges;
  int master = -1;

  static std::filesystem::path TempDir() {
    char name[] = "/tmp/zv-alarm-bench-XXXXXX";
    return ::mkdtemp(name) ? name : "/tmp";
  }

  Site()
      : dir(TempDir()),
        journal(clock, dir.string()),
        settings(services, journal, form, cameras, dir.string()),
        gauges(services, journal, form, settings, cameras, status, MakeLinuxModemLines(),
               MakeLinuxParallelStatus()) {
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) == 0) {
      ::close(slave);
      ports.Set("COM3", name);
    }
    ports.Set("LPT1", (dir / "parport-absent").string());
    form.EventComPort.SetValue(3);
    form.ClientComPort.SetValue(1);
    form.UseGaugesOnCom.SetChecked(true);
    form.UseGaugesOnLpt.SetChecked(true);
    for (TCheckBox* b : {&form.CD, &form.DSR, &form.CTS, &form.NotAck, &form.Busy, &form.PaperOut,
                         &form.SelectIn, &form.NotError})
      b->SetChecked(true);
    cameras.SetFactory([](int n) { return std::make_unique<TCameraInfo>(n); });
    for (int k = 0; k < 8; ++k) cameras.CreateNext();
    gauges.ReadCamera = [](int k, CameraMotionInput& out) {
      out = {true, 0.10, k % 2};
      return true;
    };
  }
  ~Site() {
    if (master >= 0) ::close(master);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

void BM_GaugePoll(benchmark::State& state) {
  Site site;
  for (auto _ : state) benchmark::DoNotOptimize(site.gauges.Poll());
}
BENCHMARK(BM_GaugePoll)->Unit(benchmark::kMicrosecond);

class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> us;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (!r.error_occurred) us[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace
}  // namespace zv

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  zv::SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const auto it = reporter.us.find("BM_GaugePoll");
  std::printf("summary: gauge_poll %.1f us\n", it == reporter.us.end() ? -1.0 : it->second);
  return 0;
}
