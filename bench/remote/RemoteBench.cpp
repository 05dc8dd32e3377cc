// The station's outside connections under load, on real components over
// loopback:
//
//   mqtt_events_per_s   a station with 100 sites whose alarm inputs trip and
//                       return without pause: the events the station journals
//                       and publishes through its bridge to a Mosquitto
//                       broker, counted as a subscriber receives them.  A run
//                       counts only when no event is lost.
//   mqtt_alarm_latency  then, one site's input tripping or returning alone:
//                       from the site's status at the station until the
//                       subscriber has the event (median and worst).
//   web_picture_latency a site's picture placed at the station until a web
//                       view client's WebSocket has it (median and worst).
//
//   remote_bench [--seconds S] [--pictures N]
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QWebSocket>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/Application.h"
#include "app/Remote.h"
#include "link/Link.h"
#include "platform/MosquittoClient.h"
#include "tests/support/LoopbackPorts.h"
#include "ui/WebFront.h"
#include "ui/web/WebAccounts.h"

extern char** environ;

namespace {

using zv::test::FreePort;
using zv::test::PortOpen;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct SilentDialogs final : zv::IDialogs {
  zv::MsgResult MessageBox(const std::string&, const std::string&, zv::MsgButtons,
                           zv::MsgIcon) override {
    return zv::MsgResult::Ok;
  }
  bool InputQuery(const std::string&, const std::string&, std::string&, bool) override {
    return false;
  }
};
struct SilentSpeaker final : zv::ISpeaker {
  bool HasDirectAccess() const override { return false; }
  void SetDirectTone(unsigned) override {}
  void Beep(unsigned, unsigned) override {}
  void DefaultBeep() override {}
};
struct Display final : zv::IDisplayInfo {
  zv::DisplayMetrics Query() const override { return {1280, 1024, 32}; }
};
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

// The station's platform: the system clock, Qt's loop, nothing that waits.
struct Platform {
  zv::SystemClock clock;
  zv::QueueDispatcher dispatcher;
  QtPump pump{dispatcher};
  IdleTimers timers;
  SilentDialogs dialogs;
  SilentSpeaker speaker;
  Display display;
  zv::PortMap ports;
  zv::Services services{clock, dispatcher, pump, timers, dialogs, speaker, display, ports};

  void Spin() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    dispatcher.Drain();
  }
  bool SpinUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
      if (t.elapsed() > ms) return false;
      Spin();
    }
    return true;
  }
};

// A Mosquitto broker on a free loopback port for the run.
class Broker {
 public:
  explicit Broker(const fs::path& dir) : port_(FreePort()) {
    const std::string conf = (dir / "mosquitto.conf").string();
    {
      std::ofstream f(conf);
      if (const passwd* pw = ::getpwuid(::geteuid())) f << "user " << pw->pw_name << "\n";
      f << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\npersistence false\n"
        << "max_queued_messages 100000\nlog_dest file " << (dir / "broker.log").string() << "\n";
    }
    std::vector<std::string> args = {"/usr/sbin/mosquitto", "-c", conf};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    for (int i = 0; i < 500 && pid_ > 0 && !PortOpen(port_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ~Broker() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  bool Running() const { return pid_ > 0 && PortOpen(port_); }
  int Port() const { return port_; }

 private:
  int port_;
  pid_t pid_ = -1;
};

void WriteStation(const fs::path& dir, int objects, int cams, const std::string& extra) {
  std::ofstream ini(dir / "Zorvenix.ini", std::ios::binary);
  ini << "[Main]\r\nServerMode=1\r\nObjectsCount=" << objects
      << "\r\n[MainForm]\r\nServerCommType.ItemIndex=2\r\n";
  for (int i = 1; i <= objects; ++i)
    ini << "[Object" << i << "]\r\nName=Объект " << i << "\r\nID=" << i << "\r\nCams=" << cams
        << "\r\nGauges=\"Дверь\",\"Окно\",\"3\",\"4\",\"5\",\"6\",\"7\",\"8\"\r\n";
  ini << "[Ports]\r\n";
  for (int i = 1; i <= 8; ++i) ini << "COM" << i << "=/nonexistent/ttyS" << i << "\r\n";
  ini << extra;
}

zv::LinkMessage Picture(int id, const std::vector<std::uint8_t>& payload) {
  zv::LinkMessage m;
  m.Length = static_cast<std::int32_t>(payload.size() + 19);
  m.Type = zv::link::mtPicture;
  m.Arg1 = static_cast<std::uint8_t>(id);
  m.Arg2 = 1;
  m.Arg3 = 0xFF;
  m.Payload = payload.data();
  m.PayloadSize = payload.size();
  return m;
}

// ---------------------------------------------------------------- MQTT

double MqttEventsPerSecond(int seconds, int alarms, double& median, double& worst) {
  const fs::path dir =
      fs::temp_directory_path() / ("zv-remote-bench-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  double rate = 0;
  {
    Broker broker(dir);
    if (!broker.Running()) {
      std::fprintf(stderr, "mqtt: the broker did not start (/usr/sbin/mosquitto)\n");
      return 0;
    }
    constexpr int kSites = 100;
    WriteStation(dir, kSites, 0,
                 "[Mqtt]\r\nEnabled=1\r\nHost=127.0.0.1\r\nPort=" + std::to_string(broker.Port()) +
                     "\r\nStation=bench\r\n");
    Platform p;
    zv::Application station(p.services, {dir.string(), dir.string()});
    station.FormCreate();
    station.form.RecordBtn.OnClick = [&station] {
      station.form.RecordBtn.SetDown(!station.form.RecordBtn.Down());
    };
    zv::remote::MqttBridge& bridge = *station.remote->Bridge();
    zv::MosquittoClient sub(p.dispatcher);
    long long received = 0;
    auto last = Clock::now();
    sub.OnMessage = [&](const std::string&, const std::string&, bool) {
      ++received;
      last = Clock::now();
    };
    zv::MqttOptions o;
    o.port = broker.Port();
    std::string error;
    sub.Start(o, error);
    sub.Subscribe("zorvenix/bench/objects/+/events", 1);
    if (!p.SpinUntil([&] { return bridge.Connected() && sub.Connected(); }, 10000)) {
      std::fprintf(stderr, "mqtt: no connection to the broker\n");
      return 0;
    }
    long long told = 0;
    station.link->status.News.Connect([&](const zv::ObjectNews&) { ++told; });
    std::vector<zv::LinkPeer> peers(kSites + 1);
    std::vector<std::uint8_t> block = {1, 0x03, 0, 0};
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    for (int round = 0; Clock::now() < end; ++round) {
      // Every site once a round: its first input trips, then returns.
      block[2] = round % 2 == 0 ? 0x01 : 0x00;
      for (int id = 1; id <= kSites; ++id) {
        // Never more than the bridge's window ahead of the broker.
        while (bridge.Queued() > 200) p.Spin();
        station.link->station.HandleLinkMessage(Picture(id, block),
                                                peers[static_cast<std::size_t>(id)]);
      }
      p.Spin();
    }
    p.SpinUntil([&] { return received >= told; }, 10000);
    const double secs = std::chrono::duration<double>(last - start).count();
    rate = secs > 0 ? static_cast<double>(received) / secs : 0;
    std::printf("mqtt: %lld events told, %lld received, %lld dropped, in %.2f s: %.0f events/s%s\n",
                told, received, bridge.Dropped(), secs, rate,
                received == told && bridge.Dropped() == 0 ? "" : " (LOST EVENTS)");
    if (received != told || bridge.Dropped() != 0) rate = 0;

    // One status change at a time, each timed until the subscriber has it.
    std::vector<double> ms;
    for (int i = 0; i < alarms && rate > 0; ++i) {
      block[2] = block[2] ? 0x00 : 0x01;
      const long long want = told + 1;
      const auto t0 = Clock::now();
      station.link->station.HandleLinkMessage(Picture(1, block), peers[1]);
      if (told != want || !p.SpinUntil([&] { return received >= told; }, 10000)) {
        std::fprintf(stderr, "mqtt: a status change was not told or not received\n");
        ms.clear();
        break;
      }
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    if (!ms.empty()) {
      std::sort(ms.begin(), ms.end());
      median = ms[ms.size() / 2];
      worst = ms.back();
      std::printf("mqtt: %zu alarms alone, latency median %.2f ms, worst %.2f ms\n", ms.size(),
                  median, worst);
    }
    sub.Stop();
    station.FormClose();
  }
  fs::remove_all(dir);
  return rate;
}

// ---------------------------------------------------------------- web view

bool WebPictureLatency(int pictures, double& median, double& worst) {
  const fs::path dir = fs::temp_directory_path() / ("zv-web-bench-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  bool ok = false;
  {
    WriteStation(dir, 1, 1, "");
    zv::web::WebAccounts accounts;
    accounts.Set({"bench", true, {}, zv::web::WebAccounts::HashPassword("bench-password")});
    std::string error;
    accounts.Save((dir / "WebUsers").string(), error);
    Platform p;
    zv::Application station(p.services, {dir.string(), dir.string()});
    station.FormCreate();
    zv::ui::WebFront front(*station.remote, station.journal);
    zv::remote::WebSettings w;
    w.Enabled = true;
    w.Address = "127.0.0.1";
    w.Port = 0;
    front.Apply(w);
    const int port = front.Server().Port();

    QNetworkAccessManager nam;
    const auto post = [&](const QString& path, const QByteArray& body) {
      QNetworkRequest req(QUrl(QString("http://127.0.0.1:%1%2").arg(port).arg(path)));
      req.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
      req.setRawHeader("X-Zorvenix", "1");
      QNetworkReply* r = nam.post(req, body);
      p.SpinUntil([r] { return r->isFinished(); }, 5000);
      const QByteArray out = r->readAll();
      r->deleteLater();
      return QJsonDocument::fromJson(out).object();
    };
    post("/api/login", R"({"user":"bench","password":"bench-password"})");
    const QString ticket = post("/api/ticket", {})["ticket"].toString();
    QWebSocket ws;
    Clock::time_point arrived{};
    int got = 0;
    QObject::connect(&ws, &QWebSocket::binaryMessageReceived, [&](const QByteArray&) {
      arrived = Clock::now();
      ++got;
    });
    ws.open(QUrl(QString("ws://127.0.0.1:%1/ws?ticket=%2").arg(port).arg(ticket)));
    if (!p.SpinUntil([&] { return ws.state() == QAbstractSocket::ConnectedState; }, 5000)) {
      std::fprintf(stderr, "web: no WebSocket\n");
      return false;
    }
    std::vector<std::uint8_t> payload(static_cast<std::size_t>(zv::TPicture::StrideFor(352)) * 288);
    zv::LinkPeer peer;
    std::vector<double> ms;
    for (int k = 0; k < pictures; ++k) {
      // A picture at an unrelated moment each time, with new content.
      p.SpinUntil([] { return false; }, 100 + (k * 37) % 200);
      std::fill(payload.begin() + 4, payload.end(), static_cast<std::uint8_t>(k * 13));
      const int before = got;
      const auto placed = Clock::now();
      station.link->station.HandleLinkMessage(Picture(1, payload), peer);
      if (!p.SpinUntil([&] { return got > before; }, 5000)) {
        std::fprintf(stderr, "web: picture %d never came\n", k);
        return false;
      }
      ms.push_back(std::chrono::duration<double, std::milli>(arrived - placed).count());
    }
    std::sort(ms.begin(), ms.end());
    median = ms[ms.size() / 2];
    worst = ms.back();
    std::printf("web: %d pictures, latency median %.1f ms, worst %.1f ms\n", pictures, median,
                worst);
    ok = true;
    ws.close();
    front.Stop();
    station.FormClose();
  }
  fs::remove_all(dir);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QCoreApplication app(argc, argv);
  int seconds = 10, pictures = 40, alarms = 200;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--pictures") == 0) pictures = std::max(1, std::atoi(argv[i + 1]));
  }
  double alarmMedian = -1, alarmWorst = -1;
  const double rate = MqttEventsPerSecond(seconds, alarms, alarmMedian, alarmWorst);
  double median = 0, worst = 0;
  const bool web = WebPictureLatency(pictures, median, worst);
  std::printf("summary: mqtt_events_per_s %.0f events/s\n", rate);
  if (alarmMedian >= 0) {
    std::printf("summary: mqtt_alarm_latency_median %.2f ms\n", alarmMedian);
    std::printf("summary: mqtt_alarm_latency_worst %.2f ms\n", alarmWorst);
  }
  if (web) {
    std::printf("summary: web_picture_latency_median %.1f ms\n", median);
    std::printf("summary: web_picture_latency_worst %.1f ms\n", worst);
  }
  return rate > 0 && alarmMedian >= 0 && web ? 0 : 1;
}
