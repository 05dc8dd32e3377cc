// A station, three sites over loopback TCP and a real Mosquitto broker: what
// the station learns reaches a subscriber with the journal's own words, the
// retained states come back after a broker restart, and a request from the
// broker acts as the operator's tick.
#include <sys/stat.h>
#include <optional>

#include <QCheckBox>
#include <QLineEdit>
#include <QSpinBox>
#include "Broker.h"
#include "app/Remote.h"
#include "link/LinkFixture.h"
#include "platform/MosquittoClient.h"
#include "remote/Json.h"

#include "app/IniFile.h"
#include "ui/RemoteDialog.h"
#include "ui/WebFront.h"
#include "ui/web/WebAccounts.h"
#include "web/Browser.h"

namespace zv::test {
namespace {

std::string ObjectIni(int record, const std::string& name, int id, const std::string& camera) {
  return "[Object" + std::to_string(record) + "]\r\nName=" + name + "\r\nID=" + std::to_string(id) +
         "\r\nCams=1\r\nCameras=\"" + camera + "\"\r\n" +
         "Gauges=\"Дверь\",\"Окно\",\"Подвал\",\"4\",\"5\",\"6\",\"7\",\"8\"\r\n";
}

struct Got {
  std::string topic, payload;
  bool retained;
};

class StationBrokerTest : public LinkFixture {
 protected:
  void SetUp() override {
    broker.Start();
    b_ =
        StationOf(3,
                  ObjectIni(1, "Склад", 5, "Ворота") + ObjectIni(2, "Офис", 2, "Холл") +
                      ObjectIni(3, "Гараж", 9, "Въезд"),
                  {}, 2, 1,
                  "[Mqtt]\r\nEnabled=1\r\nHost=127.0.0.1\r\nPort=" + std::to_string(broker.Port()) +
                      "\r\nStation=Пульт\r\nAllowCommands=1\r\nReconnectMinMs=50\r\n"
                      "ReconnectMaxMs=200\r\n");
    ASSERT_TRUE(station().app->remote);
    ASSERT_TRUE(PumpUntil([&] { return Bridge().Connected(); }));
    Subscribe();
    for (int id : {5, 2, 9}) {
      more_.push_back(Site(id, 1));
      Program& s = *more_.back();
      s.app->video->Shutdown();  // pictures go out when the test says so
      LinkTo(s, station());
      s.app->alarm->RemoteSwitchMode();
    }
    Round();
    ASSERT_TRUE(PumpUntil([&] { return Events("armed").size() == 3; }));
  }
  void TearDown() override {
    sub.reset();
    LinkFixture::TearDown();
  }

  void Subscribe() {
    got.clear();
    sub = std::make_unique<MosquittoClient>(loop.dispatcher);
    sub->OnMessage = [this](const std::string& t, const std::string& p, bool r) {
      got.push_back({t, p, r});
    };
    MqttOptions o;
    o.port = broker.Port();
    o.reconnectMinMs = 50;
    std::string error;
    ASSERT_TRUE(sub->Start(o, error)) << error;
    sub->Subscribe("zorvenix/#", 1);
    ASSERT_TRUE(PumpUntil([&] { return sub->Connected(); }));
  }
  Program& station() { return *b_; }
  Program& site(int i) { return *more_[static_cast<std::size_t>(i - 1)]; }
  remote::MqttBridge& Bridge() { return *station().app->remote->Bridge(); }
  void Round() {
    for (auto& s : more_) {
      if (!s->link().Client() || !s->link().Client()->Connected()) {
        s->link().Button1Click();
        ASSERT_TRUE(PumpUntil([&] { return s->link().Client()->Connected(); }));
      }
      s->link().Button1Click();
    }
  }
  // The events of this kind the subscriber got, parsed.
  std::vector<json::Value> Events(const std::string& kind) const {
    std::vector<json::Value> out;
    for (const auto& g : got) {
      if (g.topic.size() < 7 || g.topic.compare(g.topic.size() - 7, 7, "/events")) continue;
      auto v = json::Parse(g.payload);
      if (v && v->Find("kind") && v->Find("kind")->string == kind) out.push_back(*v);
    }
    return out;
  }
  std::optional<json::Value> State(int id) const {
    std::optional<json::Value> last;
    for (const auto& g : got)
      if (g.topic == "zorvenix/Пульт/objects/" + std::to_string(id) + "/state")
        last = g.payload.empty() ? std::nullopt : json::Parse(g.payload);
    return last;
  }

  Broker broker;
  std::unique_ptr<MosquittoClient> sub;
  std::vector<Got> got;
};

TEST_F(StationBrokerTest, AnAlarmAtASiteReachesTheBrokerInTheJournalsWords) {
  const json::Value armed = Events("armed").front();
  EXPECT_EQ(armed.Find("station")->string, "Пульт");
  ASSERT_TRUE(State(9));
  EXPECT_TRUE(State(9)->Find("armed")->boolean);
  EXPECT_TRUE(State(9)->Find("connected")->boolean);
  EXPECT_FALSE(State(9)->Find("last_seen")->Is(json::Value::Type::Null));

  // Site 9's door and basement trip.
  site(3).site().GaugeEnabledMask = 0x07;
  site(3).site().GaugeAlarmMask = 0x05;
  Round();
  ASSERT_TRUE(PumpUntil([&] { return !Events("gauge_alarm").empty(); }));
  const json::Value e = Events("gauge_alarm").front();
  const std::string line = "Сработка датчиков \"Дверь\",\"Подвал\" на объекте №9(Гараж) !";
  EXPECT_EQ(e.Find("text")->string, line);
  EXPECT_TRUE(station().HasLine(line));
  EXPECT_EQ(e.Find("object")->Find("id")->number, 9);
  ASSERT_EQ(e.Find("names")->array.size(), 2u);
  EXPECT_EQ(e.Find("names")->array[1].string, "Подвал");
  ASSERT_TRUE(PumpUntil([&] { return State(9) && State(9)->Find("gauges_alarm")->number == 5; }));
  EXPECT_EQ(State(9)->Find("last_event")->string, line);
  // The journal view knows which Object the line is about.
  const auto& view = station().app->journal.View();
  const auto it = std::find_if(view.begin(), view.end(), [&](const Journal::ViewLine& l) {
    return l.text.find(line) != std::string::npos;
  });
  ASSERT_NE(it, view.end());
  EXPECT_EQ(it->objectId, 9);
  EXPECT_EQ(it->kind, jkAlarm);
}

TEST_F(StationBrokerTest, RetainedStatesSurviveABrokerRestartAndADeletedObjectIsCleared) {
  broker.Stop();
  ASSERT_TRUE(PumpUntil([&] { return !Bridge().Connected(); }));
  // Meanwhile site 2 trips: the event waits for the broker.
  site(2).site().GaugeEnabledMask = 0x01;
  site(2).site().GaugeAlarmMask = 0x01;
  Round();
  ASSERT_TRUE(PumpUntil(
      [&] { return station().HasLine("Сработка датчика \"Дверь\" на объекте №2(Офис) !"); }));
  broker.Start();  // without persistence: it has forgotten everything
  ASSERT_TRUE(PumpUntil([&] { return Bridge().Connected(); }));
  Subscribe();
  ASSERT_TRUE(PumpUntil([&] { return State(5) && State(2) && State(9); }));
  // A later subscriber gets them from the broker as kept messages.
  PumpFor(100);
  Subscribe();
  ASSERT_TRUE(PumpUntil([&] { return State(5) && State(2) && State(9); }));
  for (int id : {5, 2, 9}) {
    EXPECT_TRUE(State(id)->Find("armed")->boolean) << id;
  }
  EXPECT_EQ(State(2)->Find("gauges_alarm")->number, 1);
  for (const auto& g : got) {
    if (g.topic.find("/state") != std::string::npos) {
      EXPECT_TRUE(g.retained);
    }
  }

  // Deleting the Object in the directory clears its state on the broker.
  Settings& s = station().app->settings;
  station().app->form.ObjectListBox.SetItemIndex(2);
  station().app->form.DelObject.Click();
  ASSERT_EQ(s.ObjectsCount, 2);
  loop.RunFor(1100);  // the station's heartbeat
  PumpFor(100);
  Subscribe();
  PumpUntil([&] { return State(5) && State(2); }, 2000);
  PumpFor(300);
  EXPECT_FALSE(State(9));

  // A link key given to an Object marks its state protected on the next beat.
  ASSERT_TRUE(State(2));
  EXPECT_FALSE(State(2)->Find("protected_link")->boolean);
  for (int n = 0; n <= s.ObjectsCount; ++n)
    if (s.Objects[static_cast<std::size_t>(n)].ID == 2)
      s.Objects[static_cast<std::size_t>(n)].LinkKey = std::string(64, 'a');
  loop.RunFor(1100);
  EXPECT_TRUE(PumpUntil([&] { return State(2) && State(2)->Find("protected_link")->boolean; }));
}

TEST_F(StationBrokerTest, ARequestFromTheBrokerActsAsTheOperatorsTick) {
  MqttOptions o;
  o.port = broker.Port();
  MosquittoClient pub(loop.dispatcher);
  std::string error;
  ASSERT_TRUE(pub.Start(o, error)) << error;
  ASSERT_TRUE(PumpUntil([&] { return pub.Connected(); }));
  pub.Publish("zorvenix/Пульт/objects/2/set", "disarm", 1, false);
  ASSERT_TRUE(PumpUntil([&] { return !site(2).site().Armed; }));
  EXPECT_FALSE(station().app->form.ObjectListBox.Checked(1));
  EXPECT_TRUE(station().HasLine("Команда по MQTT: снятие с охраны объекта №2"));
  EXPECT_TRUE(site(1).site().Armed);
  ASSERT_TRUE(PumpUntil([&] { return !Events("command").empty(); }));
  EXPECT_EQ(Events("command").front().Find("source")->string, "mqtt");
  Round();
  ASSERT_TRUE(PumpUntil([&] { return !Events("disarmed").empty(); }));
  EXPECT_EQ(Events("disarmed").front().Find("text")->string, "Снятие с охраны объекта №2(Офис)");

  // An unknown Object is refused and journaled.
  pub.Publish("zorvenix/Пульт/objects/44/set", "arm", 1, false);
  ASSERT_TRUE(PumpUntil([&] {
    return station().HasLine("Команда по MQTT для объекта №44 не выполнена: объект неизвестен");
  }));
  pub.Stop();
}

// The whole chain an owner relies on: a site's alarm reaches the broker and
// the page in a real browser, the site's pictures are on the page, and a
// disarm from the page reaches the site.  (How fast: remote_bench.)
TEST_F(StationBrokerTest, AnAlarmAppearsOnTheBrokerAndInTheBrowser) {
  Browser browser;
  ASSERT_EQ(browser.Start(), "");
  const std::string users = station().dir.file("WebUsers");
  web::WebAccounts accounts;
  accounts.Set({"дежурный", true, {}, web::WebAccounts::HashPassword("пароль-дежурного")});
  std::string error;
  ASSERT_TRUE(accounts.Save(users, error)) << error;
  ui::WebFront front(*station().app->remote, station().app->journal);
  remote::WebSettings w;
  w.Enabled = true;
  w.Address = "127.0.0.1";
  w.Port = 0;
  w.UsersFile = users;
  w.AllowArming = true;
  ASSERT_TRUE(front.Apply(w));
  const QString base = QString("http://127.0.0.1:%1").arg(front.Server().Port());
  const auto until = [&](const QString& js) {
    return PumpUntil([&] { return browser.Eval(js).toBool(); }, 8000);
  };
  browser.Open(base + "/");
  ASSERT_TRUE(until("!document.getElementById('login').hidden"));
  browser.Eval(
      "document.getElementById('user').value = 'дежурный';"
      "document.getElementById('password').value = 'пароль-дежурного';"
      "document.getElementById('enter').click(); true");
  ASSERT_TRUE(until("document.querySelectorAll('.object').length === 3"));
  Round();  // every site's picture is on the page
  ASSERT_TRUE(
      until("(() => { const i = document.querySelector("
            "'img[data-object=\"9\"][data-camera=\"1\"]');"
            " return !!i && i.complete && i.naturalWidth === 352; })()"));

  site(3).site().GaugeEnabledMask = 0x01;
  site(3).site().GaugeAlarmMask = 0x01;
  Round();
  ASSERT_TRUE(PumpUntil([&] {
    return !Events("gauge_alarm").empty() &&
           browser
               .Eval("document.querySelector('.object[data-id=\"9\"]').classList.contains('alarm')")
               .toBool();
  }));
  EXPECT_TRUE(
      browser.Eval("document.getElementById('journal').textContent")
          .toString()
          .contains(QString::fromUtf8("Сработка датчика \"Дверь\" на объекте №9(Гараж) !")));

  // Disarming Object 2 from the page: journaled with the user, and the site
  // is told as by the operator's tick.
  EXPECT_EQ(browser
                .Eval("fetch('/api/objects/2/disarm', {method: 'POST', headers: {'X-Zorvenix': "
                      "'1'}}).then(r => r.status)")
                .toInt(),
            200);
  ASSERT_TRUE(PumpUntil([&] { return !site(2).site().Armed; }));
  EXPECT_TRUE(site(1).site().Armed);
  ASSERT_TRUE(PumpUntil([&] { return !Events("command").empty(); }));
  EXPECT_EQ(Events("command").front().Find("source")->string, "web");
  front.Stop();
}

// The settings dialog: "OK" writes [Mqtt] and [Web] and applies them while
// the station runs; the station keeps them through its shutdown.
TEST_F(StationBrokerTest, TheDialogsSettingsApplyAtOnceAndOutliveTheProgram) {
  ui::WebFront front(*station().app->remote, station().app->journal);
  ui::RemoteDialog dialog(*station().app->remote, front);
  EXPECT_EQ(dialog.station->text(), "Пульт");
  EXPECT_TRUE(dialog.mqttEnabled->isChecked());
  EXPECT_FALSE(dialog.webEnabled->isChecked());
  dialog.station->setText("Пульт 2");
  dialog.webEnabled->setChecked(true);
  dialog.webAddress->setText("127.0.0.1");
  dialog.webPort->setValue(0);
  dialog.allowArming->setChecked(true);
  dialog.Apply();

  EXPECT_TRUE(front.Server().Running());
  EXPECT_TRUE(
      station().HasLine("Веб-доступ открыт на порту " + std::to_string(front.Server().Port())));
  // The bridge is on the broker again, under the new name.
  ASSERT_TRUE(PumpUntil([&] {
    for (const auto& g : got)
      if (g.topic == "zorvenix/Пульт 2/objects/9/state") return true;
    return false;
  }));
  ASSERT_TRUE(Bridge().Connected());

  front.Stop();
  station().app->FormClose();
  IniFile ini(station().dir.file("Zorvenix.ini"));
  ASSERT_TRUE(ini.Load());
  EXPECT_EQ(ini.ReadString("Mqtt", "Station", ""), "Пульт 2");
  EXPECT_EQ(ini.ReadInteger("Mqtt", "Port", 0), broker.Port());
  EXPECT_TRUE(ini.ReadBool("Web", "Enabled", false));
  EXPECT_TRUE(ini.ReadBool("Web", "AllowArming", false));
  EXPECT_EQ(ini.ReadString("Web", "Address", ""), "127.0.0.1");

  // The broker's password makes the file its owner's alone.
  const std::string file = station().dir.file("Zorvenix.ini");
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_NE(st.st_mode & 0777, 0600u);
  Settings& settings = station().app->settings;
  settings.Ini().WriteText("Mqtt", "Password", "secret");
  ASSERT_TRUE(settings.Flush());
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace zv::test
