// The bridge against a real Mosquitto broker on loopback: what a subscriber
// sees, the retained states across broker restarts, the bounded queue while
// the broker is away, and arm/disarm requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "Broker.h"
#include "platform/MosquittoClient.h"
#include "remote/Json.h"
#include "remote/MqttBridge.h"
#include "support/TestCerts.h"

namespace zv::test {
namespace {

using remote::EventKind;
using remote::MqttBridge;

struct Received {
  std::string topic, payload;
  bool retained;
};

// A subscriber as any other program would be: its own client on the broker.
struct Subscriber {
  explicit Subscriber(QueueDispatcher& d, int port, const std::string& pattern) : client(d) {
    client.OnMessage = [this](const std::string& t, const std::string& p, bool r) {
      got.push_back({t, p, r});
    };
    client.OnConnected = [this] { ++connects; };
    client.Subscribe(pattern, 1);
    MqttOptions o;
    o.port = port;
    o.reconnectMinMs = 50;
    o.reconnectMaxMs = 200;
    std::string error;
    EXPECT_TRUE(client.Start(o, error)) << error;
    client.Subscribe(pattern, 1);
  }
  std::vector<Received> On(const std::string& topic) const {
    std::vector<Received> out;
    for (const auto& r : got)
      if (r.topic == topic) out.push_back(r);
    return out;
  }
  MosquittoClient client;
  std::vector<Received> got;
  int connects = 0;
};

class MqttBridgeTest : public ::testing::Test {
 protected:
  MqttBridgeTest()
      : factory(dispatcher), bridge(factory, [this](const std::string& t, int k) {
          lines.push_back(t);
          kinds.push_back(k);
        }) {}

  remote::MqttSettings Settings(int port) const {
    remote::MqttSettings s;
    s.Enabled = true;
    s.Port = port;
    s.Station = "Пульт/1";
    s.ReconnectMinMs = 50;
    s.ReconnectMaxMs = 200;
    return s;
  }
  static remote::ObjectState State(int id, const std::string& name, bool armed) {
    remote::ObjectState s;
    s.objectId = id;
    s.name = name;
    s.armed = armed;
    s.masks.gaugesEnabled = 0xFF;
    s.lastSeen = 45000.5;
    s.cameras = {{1, "Вход"}, {2, "Склад"}};
    return s;
  }
  static remote::StationEvent Event(int id, EventKind kind, const std::string& text) {
    remote::StationEvent e;
    e.kind = kind;
    e.objectId = id;
    e.objectName = "Склад \"Север\"";
    e.text = text;
    e.journalKind = 3;
    e.time = 45000.5;
    e.armed = true;
    return e;
  }
  int Count(const std::string& part) const {
    int n = 0;
    for (const auto& l : lines) n += l.find(part) != std::string::npos;
    return n;
  }

  QueueDispatcher dispatcher;
  MosquittoFactory factory;
  std::vector<std::string> lines;
  std::vector<int> kinds;
  MqttBridge bridge;
};

TEST_F(MqttBridgeTest, EventsReachSubscribersAndStatesAreRetained) {
  Broker broker;
  broker.Start();
  Subscriber live(dispatcher, broker.Port(), "zorvenix/#");
  ASSERT_TRUE(RunUntil(dispatcher, [&] { return live.connects > 0; }));

  bridge.UpdateState(State(3, "Склад", false));  // before the bridge is on: kept
  bridge.Configure(Settings(broker.Port()));
  ASSERT_TRUE(RunUntil(dispatcher, [&] { return bridge.Connected(); }));
  EXPECT_EQ(Count("MQTT: соединение с брокером 127.0.0.1:" + std::to_string(broker.Port()) +
                  " установлено"),
            1);

  const std::string text = "Сработка датчика \"Дверь\" на объекте №3(Склад) !";
  bridge.Publish(Event(3, EventKind::GaugeAlarm, text));
  bridge.UpdateState(State(3, "Склад", true));
  bridge.UpdateState(State(7, "Офис", false));
  bridge.UpdateState(State(7, "Офис", false));  // unchanged: nothing more goes out

  // "/" in the station's name cannot split the topic.
  const std::string base = "zorvenix/Пульт_1/objects/";
  ASSERT_TRUE(RunUntil(dispatcher, [&] {
    return !live.On(base + "3/events").empty() && live.On(base + "3/state").size() >= 2 &&
           !live.On(base + "7/state").empty();
  }));
  const auto events = live.On(base + "3/events");
  ASSERT_EQ(events.size(), 1u);
  const auto v = json::Parse(events[0].payload);
  ASSERT_TRUE(v) << events[0].payload;
  EXPECT_EQ(v->Find("text")->string, text);
  EXPECT_EQ(v->Find("kind")->string, "gauge_alarm");
  EXPECT_EQ(v->Find("object")->Find("id")->number, 3);
  EXPECT_EQ(v->Find("object")->Find("name")->string, "Склад \"Север\"");
  EXPECT_EQ(v->Find("station")->string, "Пульт/1");
  EXPECT_EQ(live.On(base + "7/state").size(), 1u);
  EXPECT_EQ(live.On("zorvenix/Пульт_1/status").back().payload, "online");

  // A program that subscribes later finds every Object's latest state.
  Subscriber late(dispatcher, broker.Port(), base + "+/state");
  ASSERT_TRUE(RunUntil(dispatcher, [&] { return late.got.size() >= 2; }));
  std::map<std::string, std::string> kept;
  for (const auto& r : late.got) {
    EXPECT_TRUE(r.retained);
    kept[r.topic] = r.payload;
  }
  const auto s3 = json::Parse(kept[base + "3/state"]);
  ASSERT_TRUE(s3);
  EXPECT_TRUE(s3->Find("armed")->boolean);
  EXPECT_EQ(s3->Find("cameras")->array.size(), 2u);
  EXPECT_EQ(s3->Find("gauges_enabled")->number, 255);

  // A removed Object's state is cleared on the broker.
  bridge.RemoveObject(7);
  ASSERT_TRUE(RunUntil(dispatcher, [&] { return live.On(base + "7/state").size() == 2; }));
  EXPECT_EQ(live.On(base + "7/state").back().payload, "");
  Subscriber third(dispatcher, broker.Port(), base + "+/state");
  ASSERT_TRUE(RunUntil(dispatcher, [&] { return !third.got.empty(); }));
  RunUntil(
      dispatcher, [] { return false; }, 200);
  ASSERT_EQ(third.got.size(), 1u);
  EXPECT_EQ(third.got[0].topic, base + "3/state");
}

TEST_F(MqttBridgeTest, BrokerAwayQueuesBoundedJournalsLossOnceAndResumes) {
  Broker broker;
  // The broker is not there yet at start: one line, however many retries.
  auto s = Settings(broker.Port());
  s.QueueLimit = 10;
  bridge.Configure(s);
  bridge.UpdateState(State(3, "Склад", true));
  RunUntil(
      dispatcher, [] { return false; }, 600);
  EXPECT_EQ(Count("MQTT: нет соединения с брокером"), 1);
  broker.Start();
  ASSERT_TRUE(RunUntil(dispatcher, [&] { return bridge.Connected(); }));
  ASSERT_TRUE(RunUntil(dispatcher, [&] { return bridge.Queued() == 0; }));

  // The broker goes away: 50 events find room for 10, the loss is journaled
  // once.
  broker.Stop();
  ASSERT_TRUE(RunUntil(dispatcher, [&] { return !bridge.Connected(); }));
  EXPECT_EQ(Count("потеряно ("), 1);
  for (int i = 1; i <= 50; ++i)
    bridge.Publish(Event(3, EventKind::CameraMotion, "Событие " + std::to_string(i)));
  bridge.UpdateState(State(3, "Склад", false));
  RunUntil(
      dispatcher, [] { return false; }, 400);
  EXPECT_EQ(bridge.Queued(), 11u);  // 10 events and the one state
  EXPECT_EQ(bridge.Dropped(), 40);
  EXPECT_EQ(Count("очередь заполнена (10)"), 1);
  EXPECT_EQ(Count("MQTT: нет соединения с брокером"), 1);

  // Back again (without its retained messages): the newest events and the
  // state go out, and the state is kept again.
  broker.Start();
  Subscriber late(dispatcher, broker.Port(), "zorvenix/#");
  ASSERT_TRUE(RunUntil(dispatcher, [&] { return bridge.Connected() && bridge.Queued() == 0; }));
  EXPECT_EQ(Count("установлено, потеряно событий: 40"), 1);
  ASSERT_TRUE(
      RunUntil(dispatcher, [&] { return !late.On("zorvenix/Пульт_1/objects/3/state").empty(); }));
  const auto st = json::Parse(late.On("zorvenix/Пульт_1/objects/3/state").back().payload);
  ASSERT_TRUE(st);
  EXPECT_FALSE(st->Find("armed")->boolean);

  // A second outage is journaled again, once.
  broker.Stop();
  ASSERT_TRUE(RunUntil(dispatcher, [&] { return !bridge.Connected(); }));
  for (int i = 1; i <= 30; ++i) bridge.Publish(Event(3, EventKind::CameraMotion, "x"));
  EXPECT_EQ(Count("очередь заполнена"), 2);
  EXPECT_EQ(Count("потеряно ("), 2);
}

TEST_F(MqttBridgeTest, SetRequestsActOnlyWhenAllowed) {
  Broker broker;
  broker.Start();
  std::vector<std::pair<int, bool>> requests;
  bridge.OnSetRequest = [&](int id, bool arm) {
    requests.emplace_back(id, arm);
    return id == 3;
  };
  Subscriber other(dispatcher, broker.Port(), "zorvenix/#");
  ASSERT_TRUE(RunUntil(dispatcher, [&] { return other.connects > 0; }));
  const std::string set = "zorvenix/Пульт_1/objects/3/set";

  bridge.Configure(Settings(broker.Port()));  // commands not allowed
  ASSERT_TRUE(RunUntil(dispatcher, [&] { return bridge.Connected(); }));
  other.client.Publish(set, "arm", 1, false);
  ASSERT_TRUE(RunUntil(dispatcher, [&] { return !other.On(set).empty(); }));
  RunUntil(
      dispatcher, [] { return false; }, 200);
  EXPECT_TRUE(requests.empty());

  // A request kept by the broker from before must not act on connecting.
  other.client.Publish(set, "disarm", 1, true);
  ASSERT_TRUE(RunUntil(dispatcher, [&] { return other.On(set).size() == 2; }));
  auto s = Settings(broker.Port());
  s.AllowCommands = true;
  bridge.Configure(s);
  ASSERT_TRUE(RunUntil(dispatcher, [&] { return Count("сохранённое брокером") == 1; }));
  EXPECT_TRUE(requests.empty());
  other.client.Publish(set, "", 1, true);  // the broker forgets it

  other.client.Publish(set, "ARM\n", 1, false);
  other.client.Publish(set, "{\"armed\": false}", 1, false);
  other.client.Publish("zorvenix/Пульт_1/objects/9/set", "1", 1, false);
  ASSERT_TRUE(RunUntil(dispatcher, [&] { return requests.size() == 3; }));
  EXPECT_EQ(requests[0], std::make_pair(3, true));
  EXPECT_EQ(requests[1], std::make_pair(3, false));
  EXPECT_EQ(requests[2], std::make_pair(9, true));
  EXPECT_EQ(Count("Команда по MQTT: постановка на охрану объекта №3"), 1);
  EXPECT_EQ(Count("Команда по MQTT: снятие с охраны объекта №3"), 1);
  EXPECT_EQ(Count("объекта №9 не выполнена: объект неизвестен"), 1);
}

TEST_F(MqttBridgeTest, CredentialsAreUsedAndNeverJournaled) {
  TempDir pw;
  const std::string file = pw.file("passwd");
  const std::string cmd = "mosquitto_passwd -b -c " + file + " zvstation 'Пароль-s3cr3t' 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  Broker broker("allow_anonymous false\npassword_file " + file + "\n");
  broker.Start();
  auto s = Settings(broker.Port());
  s.User = "zvstation";
  s.Password = "wrong-Пароль";
  bridge.Configure(s);
  ASSERT_TRUE(RunUntil(dispatcher, [&] { return Count("нет соединения") == 1; }));
  RunUntil(
      dispatcher, [] { return false; }, 300);
  EXPECT_FALSE(bridge.Connected());
  s.Password = "Пароль-s3cr3t";
  bridge.Configure(s);
  ASSERT_TRUE(RunUntil(dispatcher, [&] { return bridge.Connected(); }));
  for (const auto& l : lines) {
    EXPECT_EQ(l.find("Пароль"), std::string::npos) << l;
    EXPECT_EQ(l.find("zvstation"), std::string::npos) << l;
  }
}

// TLS with certificates made for the test: the bridge trusts the broker's CA
// and connects; trusting another CA, it refuses the broker and says so once.
TEST_F(MqttBridgeTest, TlsConnectsOnlyToABrokerItsCaVouchesFor) {
  TempDir dir;
  const TestCerts certs = MakeTestCerts(dir.path());
  ASSERT_EQ(certs.error, "");
  TempDir other;
  const TestCerts stranger = MakeTestCerts(other.path());
  ASSERT_EQ(stranger.error, "");
  Broker broker("allow_anonymous true\ncafile " + certs.ca + "\ncertfile " + certs.cert +
                "\nkeyfile " + certs.key + "\n");
  broker.Start();

  auto s = Settings(broker.Port());
  s.CaFile = stranger.ca;
  bridge.Configure(s);
  ASSERT_TRUE(RunUntil(dispatcher, [&] { return Count("нет соединения") == 1; }));
  RunUntil(
      dispatcher, [] { return false; }, 300);
  EXPECT_FALSE(bridge.Connected());
  EXPECT_EQ(Count("нет соединения"), 1);

  s.CaFile = certs.ca;
  bridge.Configure(s);
  ASSERT_TRUE(RunUntil(dispatcher, [&] { return bridge.Connected(); }));
  // A subscriber over TLS as well, with the same certificate as its own.
  MosquittoClient sub(dispatcher);
  std::vector<std::string> got;
  sub.OnMessage = [&](const std::string& t, const std::string&, bool) { got.push_back(t); };
  MqttOptions o;
  o.port = broker.Port();
  o.caFile = certs.ca;
  o.certFile = certs.cert;
  o.keyFile = certs.key;
  std::string error;
  ASSERT_TRUE(sub.Start(o, error)) << error;
  sub.Subscribe("zorvenix/#", 1);
  ASSERT_TRUE(RunUntil(dispatcher, [&] { return sub.Connected(); }));
  bridge.Publish(Event(3, EventKind::Armed, "Установка на охрану объекта №3(Склад)"));
  ASSERT_TRUE(RunUntil(dispatcher, [&] {
    return std::count(got.begin(), got.end(), "zorvenix/Пульт_1/objects/3/events") == 1;
  }));
  sub.Stop();
}

}  // namespace
}  // namespace zv::test
