// The voice-modem library's hot paths: answer matching, a byte's round trip
// through the serial port's threads, and playing voice data to a modem.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <sstream>
#include <thread>

#include "modem/IS101.h"
#include "modem/VoiceModem.h"
#include "platform/LinuxSerialDevice.h"
#include "support/ModemSim.h"

namespace zv {
namespace {

void BM_MatchAnswer(benchmark::State& state) {
  SystemClock clock;
  QueueDispatcher dispatcher;
  PortMap ports;
  TVoiceModem m(clock, dispatcher, ports);
  const char* lines[] = {"OK", "RING", "NO DIAL TONE", "CONNECT 33600", "VCON", "garbage"};
  int i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(m.MatchAnswer(lines[i++ % 6], "OK|VCON"));
}
BENCHMARK(BM_MatchAnswer);

// A pseudo-terminal whose far end echoes every byte.
struct EchoLine {
  int master = -1;
  std::string slave;
  std::atomic<bool> stop{false};
  std::thread thread;
  EchoLine() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ::grantpt(master);
    ::unlockpt(master);
    slave = ::ptsname(master);
    thread = std::thread([this] {
      char buf[256];
      while (!stop) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n > 0) [[maybe_unused]]
          ssize_t w = ::write(master, buf, static_cast<size_t>(n));
      }
    });
  }
  ~EchoLine() {
    stop = true;
    thread.join();
    ::close(master);
  }
};

void BM_PortRoundTrip(benchmark::State& state) {
  EchoLine line;
  QueueDispatcher dispatcher;
  PortMap ports;
  ports.Set("COM1", line.slave);
  TCommPort port(dispatcher, ports, MakeLinuxSerialDevice);
  port.SetComNumber(cnCOM1);
  port.Open();
  if (!port.IsOpen()) {
    state.SkipWithError("port did not open");
    return;
  }
  char c = 'x';
  for (auto _ : state) {
    port.Write(&c, 1);
    while (port.Read(&c, 1) == 0) std::this_thread::yield();
  }
  port.Close();
}
BENCHMARK(BM_PortRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_PlayStream(benchmark::State& state) {
  test::ModemSim sim;
  SystemClock clock;
  QueueDispatcher dispatcher;
  PortMap ports;
  ports.Set("COM2", sim.SlavePath());
  TModemProfile profile;
  profile.RawData = true;
  profile.RecSpeed = 8000;
  profile.CommandDelay = 0;
  profile.PortReadDelay = profile.PortWriteDelay = profile.PortStatusDelay = 2;
  TIS101 driver;
  TVoiceModem modem(clock, dispatcher, ports, MakeLinuxSerialDevice);
  modem.SetProfile(&profile);
  modem.SetDriver(&driver);
  modem.OnYield = [&] { dispatcher.Drain(); };
  if (modem.Open() != 0) {
    state.SkipWithError("modem did not open");
    return;
  }
  const std::string data(static_cast<std::size_t>(state.range(0)), 'v');
  for (auto _ : state) {
    sim.Answer("AT+FLO=2", {"OK"});
    sim.Answer("AT+VTX", {"CONNECT"});
    sim.OnVoice(test::ModemSim::Lines({"OK"}));
    std::istringstream in(data);
    if (modem.PlayStream(in) != 0) state.SkipWithError("play failed");
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
  modem.Close();
}
BENCHMARK(BM_PlayStream)->Arg(64 << 10)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zv

BENCHMARK_MAIN();
