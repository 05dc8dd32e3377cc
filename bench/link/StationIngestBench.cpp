// How many sites one station takes in: every simulated site sends 352 x 288
// raw picture messages at 5 per second over loopback TCP from its own
// thread, and flips its armed flag every 2 seconds.  A run passes when no
// message is lost, no site falls behind its schedule (no growing backlog)
// and every status change is journaled within 100 ms of its sending.
//
//   link_bench [--seconds S] [--sites N]
//
// Without --sites it searches for the largest passing count and prints
// "summary: station_ingest_sites <n> sites"; then the same with every site
// and Object holding a link key of its own (the handshake, then every
// message sealed), "summary: station_ingest_sites_keyed <n> sites".
// --keyed runs only the keyed search (or the keyed fixed count).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/Application.h"
#include "link/Link.h"
#include "link/secure/SecureChannel.h"
#include "ui/QtNet.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 5;  // pictures per second and site

struct SilentDialogs final : zv::IDialogs {
  zv::MsgResult MessageBox(const std::string&, const std::string&, zv::MsgButtons,
                           zv::MsgIcon) override {
    return zv::MsgResult::Ok;
  }
  bool InputQuery(const std::string&, const std::string&, std::string&, bool) override {
    return false;
  }
};
// The operator's speaker is not what is measured: beeps return at once.
struct SilentSpeaker final : zv::ISpeaker {
  bool HasDirectAccess() const override { return false; }
  void SetDirectTone(unsigned) override {}
  void Beep(unsigned, unsigned) override {}
  void DefaultBeep() override {}
};
struct Display final : zv::IDisplayInfo {
  zv::DisplayMetrics Query() const override { return {1280, 1024, 32}; }
};
// The heartbeat's work is not what is measured: timers never fire here.
struct IdleTimers final : zv::ITimerFactory {
  struct Backend final : zv::ITimerBackend {
    void Start(unsigned) override {}
    void Stop() override {}
  };
  std::unique_ptr<zv::ITimerBackend> CreateTimer(std::function<void()>) override {
    return std::make_unique<Backend>();
  }
};
struct QtPump final : zv::IEventPump {
  explicit QtPump(zv::QueueDispatcher& d) : d_(d) {}
  void ProcessEvents() override {
    QCoreApplication::processEvents();
    d_.Drain();
  }
  zv::QueueDispatcher& d_;
};

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

// Object i's link key in the keyed runs: distinct for every Object.
std::string KeyText(int id) {
  std::string t(64, '0');
  for (int i = 0; i < 64; ++i)
    t[static_cast<std::size_t>(i)] = "0123456789abcdef"[(id * 11 + i * 7 + 1) % 16];
  return t;
}

std::uint64_t NowMs() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
          .count());
}

bool SendAll(int fd, const std::uint8_t* p, std::size_t n) {
  for (std::size_t off = 0; off < n;) {
    const ssize_t k = ::send(fd, p + off, n - off, MSG_NOSIGNAL);
    if (k <= 0) return false;
    off += static_cast<std::size_t>(k);
  }
  return true;
}

struct SiteStats {
  std::atomic<long long> sent{0};
  std::atomic<bool> behind{false};
};

// One site: a blocking socket in its own thread; with keyed, it proves
// Object id's key first and seals every message.
void RunSite(int id, int port, int seconds, bool keyed, SiteStats& stats,
             std::atomic<bool>& failed) {
  // Sites come up one after another, not all in the same millisecond.
  std::this_thread::sleep_for(std::chrono::milliseconds(5 * id));
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    std::fprintf(stderr, "site %d: connect failed: %s\n", id, std::strerror(errno));
    failed = true;
    ::close(fd);
    return;
  }
  std::unique_ptr<zv::SecureChannel> channel;
  if (keyed) {
    // The directory holds 100 Objects: a site beyond them proves the key of
    // one of them, and its messages (for its own ID, as in the keyless run)
    // are then refused as another Object's, as unknown IDs are without keys.
    const int object = (id - 1) % 100 + 1;
    zv::LinkKey key;
    zv::LinkKey::Parse(KeyText(object), key);
    channel = std::make_unique<zv::SecureChannel>(static_cast<std::uint32_t>(object), key,
                                                  zv::ChannelOptions::Network(), NowMs());
    channel->Start(NowMs());
    bool ok = true;
    while (ok && channel->GetState() == zv::SecureChannel::State::Handshake) {
      zv::ByteBuffer& out = channel->Outbox();
      ok = SendAll(fd, out.data(), out.size());
      out.clear();
      std::uint8_t buf[512];
      const ssize_t n = ok ? ::recv(fd, buf, sizeof buf, 0) : 0;
      if (n <= 0) break;
      channel->Receive(buf, static_cast<std::size_t>(n), NowMs());
    }
    zv::ByteBuffer& out = channel->Outbox();
    ok = ok && SendAll(fd, out.data(), out.size());
    out.clear();
    if (!ok || !channel->Established()) {
      std::fprintf(stderr, "site %d: no secure link: %s\n", id,
                   zv::SecureFaultName(channel->LastFault()));
      failed = true;
      ::close(fd);
      return;
    }
  }
  const std::size_t size = static_cast<std::size_t>(zv::TPicture::StrideFor(352)) * 288;
  std::vector<std::uint8_t> msg = zv::BuildHeader(static_cast<std::int32_t>(size + 19), 1,
                                                  static_cast<std::uint8_t>(id), 1, 0xFF, 0);
  msg.resize(19 + size, static_cast<std::uint8_t>(id));
  const auto start = Clock::now();
  const long long total = static_cast<long long>(seconds) * kRate;
  for (long long k = 0; k < total; ++k) {
    const auto due = start + std::chrono::milliseconds(k * 1000 / kRate);
    std::this_thread::sleep_until(due);
    if (Clock::now() - due > std::chrono::seconds(1)) stats.behind = true;
    msg[19] = (k / (2 * kRate)) % 2 == 0 ? 1 : 0;  // armed flag, flipped every 2 s
    const std::int64_t t = NowNs();
    std::memcpy(&msg[19 + 4], &t, sizeof t);
    bool sent;
    if (channel) {
      channel->Seal(msg);
      zv::ByteBuffer& out = channel->Outbox();
      sent = SendAll(fd, out.data(), out.size());
      out.clear();
    } else {
      sent = SendAll(fd, msg.data(), msg.size());
    }
    if (!sent) {
      std::fprintf(stderr, "site %d: send failed after %lld messages: %s\n", id, stats.sent.load(),
                   std::strerror(errno));
      failed = true;
      ::close(fd);
      return;
    }
    ++stats.sent;
  }
  ::shutdown(fd, SHUT_WR);
  char c;
  while (::recv(fd, &c, 1, 0) > 0) {
  }
  ::close(fd);
}

struct Result {
  bool pass = false;
  long long sent = 0, received = 0, changes = 0, late = 0;
  double worstMs = 0;
  bool behind = false;
};

Result Run(int sites, int seconds, bool keyed) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("zv-ingest-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  {
    std::ofstream ini(dir / "Zorvenix.ini", std::ios::binary);
    ini << "[Main]\r\nServerMode=1\r\nObjectsCount=100\r\n[MainForm]\r\nServerCommType.ItemIndex="
           "2\r\n";
    for (int i = 1; i <= 100; ++i)
      ini << "[Object" << i << "]\r\nName=Site" << i << "\r\nID=" << i
          << "\r\nCams=" << (i <= 20 ? 1 : 0) << "\r\n"
          << (keyed ? "LinkKey=" + KeyText(i) + "\r\n" : std::string());
    ini << "[Ports]\r\n";
    for (int i = 1; i <= 8; ++i) ini << "COM" << i << "=/nonexistent/ttyS" << i << "\r\n";
  }
  zv::SystemClock clock;
  zv::QueueDispatcher dispatcher;
  QtPump pump(dispatcher);
  IdleTimers timers;
  SilentDialogs dialogs;
  SilentSpeaker speaker;
  Display display;
  zv::PortMap ports;
  zv::Services services{clock, dispatcher, pump, timers, dialogs, speaker, display, ports};
  zv::ui::QtNetFactory net;
  Result r;
  {
    zv::Application station(services, {dir.string(), dir.string()});
    station.link->SetNet(&net);
    station.FormCreate();
    station.form.RecordBtn.OnClick = [&station] {
      station.form.RecordBtn.SetDown(!station.form.RecordBtn.Down());
    };
    station.link->Listener()->Listen(0);
    const int port = station.link->Listener()->Port();

    std::vector<int> lastArmed(static_cast<std::size_t>(sites) + 1, -1);
    std::vector<long long> got(static_cast<std::size_t>(sites) + 1, 0);
    station.link->OnMessage = [&](const zv::LinkMessage& m) {
      if (m.Arg1 < 1 || m.Arg1 > sites || m.PayloadSize < 12) return;
      ++got[m.Arg1];
      const int armed = m.Payload[0];
      int& last = lastArmed[m.Arg1];
      if (last != -1 && armed != last && m.Arg1 <= 100) {
        std::int64_t sentAt;
        std::memcpy(&sentAt, m.Payload + 4, sizeof sentAt);
        const double ms = static_cast<double>(NowNs() - sentAt) / 1e6;
        ++r.changes;
        if (ms > 100) ++r.late;
        if (ms > r.worstMs) r.worstMs = ms;
      }
      last = armed;
    };

    std::vector<SiteStats> stats(static_cast<std::size_t>(sites));
    std::atomic<bool> failed{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < sites; ++i)
      threads.emplace_back(RunSite, i + 1, port, seconds, keyed,
                           std::ref(stats[static_cast<std::size_t>(i)]), std::ref(failed));
    std::atomic<int> done{0};
    std::thread watcher([&] {
      for (auto& t : threads) t.join();
      done = 1;
    });
    QElapsedTimer t;
    t.start();
    while (!done) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      dispatcher.Drain();
    }
    watcher.join();
    // What is still in flight arrives.
    for (QElapsedTimer drain; drain.isValid() ? drain.elapsed() < 2000 : (drain.start(), true);) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      dispatcher.Drain();
    }
    for (int i = 1; i <= sites; ++i) {
      r.sent += stats[static_cast<std::size_t>(i - 1)].sent;
      r.received += got[static_cast<std::size_t>(i)];
      r.behind = r.behind || stats[static_cast<std::size_t>(i - 1)].behind;
    }
    r.pass = !failed && !r.behind && r.sent == r.received && r.late == 0 &&
             r.sent == static_cast<long long>(sites) * seconds * kRate;
    station.link->OnMessage = nullptr;
    station.FormClose();
  }
  fs::remove_all(dir);
  std::printf("%4d sites%s: sent %lld received %lld, %lld status changes, worst %.1f ms, %s%s\n",
              sites, keyed ? " with keys" : "", r.sent, r.received, r.changes, r.worstMs,
              r.behind ? "fell behind, " : "", r.pass ? "PASS" : "FAIL");
  std::fflush(stdout);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QCoreApplication app(argc, argv);
  int seconds = 30, fixed = 0;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--sites") == 0) fixed = std::atoi(argv[i + 1]);
  }
  if (seconds < 4) seconds = 4;
  bool keyedOnly = false;
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--keyed") == 0) keyedOnly = true;
  // Both figures in one run, under the same load.
  for (const bool keyed : {false, true}) {
    if (keyedOnly && !keyed) continue;
    int best = 0;
    if (fixed > 0) {
      if (Run(fixed, seconds, keyed).pass) best = fixed;
    } else {
      // Upwards in steps while it holds, then halve the step between the
      // last pass and the first failure.
      int lo = 0, hi = 0;
      for (int n = 100; n <= 250; n += 50) {
        if (Run(n, seconds, keyed).pass) {
          lo = n;
        } else {
          hi = n;
          break;
        }
      }
      if (lo == 0) {
        for (int n = 50; n >= 10; n -= 20)
          if (Run(n, seconds, keyed).pass) {
            lo = n;
            hi = n + 20;
            break;
          }
      }
      if (lo > 0 && hi > lo + 10 && Run((lo + hi) / 2, seconds, keyed).pass) lo = (lo + hi) / 2;
      best = lo;
    }
    std::printf("summary: station_ingest_sites%s %d sites\n", keyed ? "_keyed" : "", best);
    std::fflush(stdout);
  }
  return 0;
}
