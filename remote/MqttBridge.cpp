#include "remote/MqttBridge.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <utility>

#include "remote/Json.h"

namespace zv::remote {

std::string TopicLevel(const std::string& name) {
  std::string out;
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    out += (c == '/' || c == '+' || c == '#' || u < 0x20 || u == 0x7F) ? '_' : c;
  }
  return out.empty() ? "station" : out;
}

bool ParseSetRequest(const std::string& payload, bool& arm) {
  std::string t;
  for (char c : payload)
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
      t += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  if (t == "arm" || t == "1" || t == "on" || t == "true") {
    arm = true;
    return true;
  }
  if (t == "disarm" || t == "0" || t == "off" || t == "false") {
    arm = false;
    return true;
  }
  const auto v = json::Parse(payload);
  if (!v) return false;
  const json::Value* a = v->Find("armed");
  if (!a || !a->Is(json::Value::Type::Bool)) return false;
  arm = a->boolean;
  return true;
}

MqttBridge::MqttBridge(IMqttFactory& factory, JournalFn journal)
    : factory_(factory), journal_(std::move(journal)) {}

MqttBridge::~MqttBridge() {
  Stop();
}

std::string MqttBridge::Base() const {
  return "zorvenix/" + TopicLevel(settings_.Station);
}
std::string MqttBridge::EventsTopic(int id) const {
  return Base() + "/objects/" + std::to_string(id) + "/events";
}
std::string MqttBridge::StateTopic(int id) const {
  return Base() + "/objects/" + std::to_string(id) + "/state";
}

void MqttBridge::Configure(const MqttSettings& s) {
  if (!s.Enabled) {
    Stop();
    settings_ = s;
    queue_.clear();
    stateQueued_.clear();
    events_ = 0;
    return;
  }
  MqttSettings a = s, b = settings_;
  a.QueueLimit = b.QueueLimit = 0;
  const bool same = client_ && a == b;
  settings_ = s;
  if (same) return;
  Stop();
  Start();
}

void MqttBridge::Start() {
  std::random_device rd;
  char id[16];
  std::snprintf(id, sizeof id, "zv-%08x", static_cast<unsigned>(rd()));
  MqttOptions o;
  o.host = settings_.Host;
  o.port = settings_.Port;
  o.clientId = id;
  o.username = settings_.User;
  o.password = settings_.Password;
  o.caFile = settings_.CaFile;
  o.certFile = settings_.CertFile;
  o.keyFile = settings_.KeyFile;
  o.keepAliveSeconds = settings_.KeepAlive;
  o.reconnectMinMs = settings_.ReconnectMinMs;
  o.reconnectMaxMs = settings_.ReconnectMaxMs;
  o.willTopic = Base() + "/status";
  o.willPayload = "offline";
  client_ = factory_.CreateClient();
  client_->OnConnected = [this] { ClientConnected(); };
  client_->OnDisconnected = [this](const std::string& r) { ClientDisconnected(r); };
  client_->OnPublished = [this](int mid) { Acknowledged(mid); };
  client_->OnMessage = [this](const std::string& t, const std::string& p, bool retained) {
    Message(t, p, retained);
  };
  outage_ = true;
  outageReported_ = lossReported_ = false;
  droppedInOutage_ = 0;
  std::string error;
  if (!client_->Start(o, error)) {
    journal_("MQTT: брокер " + settings_.Host + ":" + std::to_string(settings_.Port) +
                 " не подключён: " + error + " !",
             4);
    client_.reset();
    return;
  }
  if (settings_.AllowCommands) client_->Subscribe(Base() + "/objects/+/set", 1);
}

void MqttBridge::Stop() {
  if (client_) client_->Stop();
  client_.reset();
  connected_ = false;
  inFlight_.clear();
}

void MqttBridge::ClientConnected() {
  connected_ = true;
  refusedReported_ = false;
  // What the client held from before is sent again by it; the window starts afresh.
  inFlight_.clear();
  std::string line = "MQTT: соединение с брокером " + settings_.Host + ":" +
                     std::to_string(settings_.Port) + " установлено";
  if (droppedInOutage_ > 0) line += ", потеряно событий: " + std::to_string(droppedInOutage_);
  journal_(line, 1);
  outage_ = outageReported_ = lossReported_ = false;
  droppedInOutage_ = 0;
  client_->Publish(Base() + "/status", "online", 1, true);
  // The broker may have lost its retained states (a restart without
  // persistence): every Object's state goes out again.
  for (const auto& [id, st] : states_) QueueState(id);
  Pump();
}

void MqttBridge::ClientDisconnected(const std::string& reason) {
  const std::string where = settings_.Host + ":" + std::to_string(settings_.Port);
  if (connected_) {
    connected_ = false;
    outage_ = true;
    outageReported_ = true;
    journal_("MQTT: соединение с брокером " + where + " потеряно (" + reason + ")", 2);
    return;
  }
  if (!outageReported_) {
    outageReported_ = true;
    journal_("MQTT: нет соединения с брокером " + where + " (" + reason + ")", 2);
  }
}

void MqttBridge::Acknowledged(int mid) {
  inFlight_.erase(mid);
  Pump();
}

void MqttBridge::Message(const std::string& topic, const std::string& payload, bool retained) {
  if (!settings_.AllowCommands) return;
  const std::string prefix = Base() + "/objects/";
  const std::string suffix = "/set";
  if (topic.size() <= prefix.size() + suffix.size() || topic.compare(0, prefix.size(), prefix) ||
      topic.compare(topic.size() - suffix.size(), suffix.size(), suffix))
    return;
  const std::string idText =
      topic.substr(prefix.size(), topic.size() - prefix.size() - suffix.size());
  int id = 0;
  bool numeric = !idText.empty() && idText.size() <= 9;
  for (char c : idText) {
    if (c < '0' || c > '9') numeric = false;
    if (numeric) id = id * 10 + (c - '0');
  }
  bool arm = false;
  const auto refuse = [&](const std::string& why) {
    if (std::exchange(refusedReported_, true)) return;
    journal_("Команда по MQTT (" + topic + ") отклонена: " + why + " !", 3);
  };
  // A kept request would act again at every reconnect.
  if (retained) return refuse("сохранённое брокером сообщение");
  if (!numeric || id <= 0) return refuse("неверный номер объекта");
  if (!ParseSetRequest(payload, arm)) return refuse("команда не распознана");
  journal_(std::string("Команда по MQTT: ") + (arm ? "постановка на охрану" : "снятие с охраны") +
               " объекта №" + std::to_string(id),
           2);
  if (!OnSetRequest || !OnSetRequest(id, arm))
    journal_(
        "Команда по MQTT для объекта №" + std::to_string(id) + " не выполнена: объект неизвестен",
        3);
}

void MqttBridge::Publish(const StationEvent& e) {
  if (!client_) return;
  Item item;
  item.objectId = e.objectId;
  item.topic = EventsTopic(e.objectId);
  item.payload = EventJson(e, settings_.Station, ++seq_);
  Enqueue(std::move(item));
  Pump();
}

void MqttBridge::UpdateState(const ObjectState& s) {
  auto it = states_.find(s.objectId);
  if (it != states_.end() && it->second == s) return;
  states_[s.objectId] = s;
  if (!client_) return;
  QueueState(s.objectId);
  Pump();
}

void MqttBridge::RemoveObject(int objectId) {
  if (!states_.erase(objectId) || !client_) return;
  QueueState(objectId);  // goes out empty: the broker forgets the retained state
  Pump();
}

void MqttBridge::QueueState(int objectId) {
  if (!stateQueued_.insert(objectId).second) return;
  Item item;
  item.isState = true;
  item.objectId = objectId;
  item.topic = StateTopic(objectId);
  item.retain = true;
  queue_.push_back(std::move(item));
}

void MqttBridge::Enqueue(Item item) {
  const std::size_t limit = static_cast<std::size_t>(std::max(1, settings_.QueueLimit));
  while (events_ >= limit) {
    // The oldest event makes room; states are never dropped.
    auto it = std::find_if(queue_.begin(), queue_.end(), [](const Item& i) { return !i.isState; });
    if (it == queue_.end()) break;
    queue_.erase(it);
    --events_;
    ++droppedInOutage_;
    ++droppedTotal_;
    if (!lossReported_) {
      lossReported_ = true;
      journal_("MQTT: брокер " + settings_.Host + ":" + std::to_string(settings_.Port) +
                   " не принимает сообщения, очередь заполнена (" + std::to_string(limit) +
                   "): старые события теряются !",
               4);
    }
  }
  ++events_;
  queue_.push_back(std::move(item));
}

void MqttBridge::Pump() {
  while (client_ && connected_ && inFlight_.size() < kWindow && !queue_.empty()) {
    Item& item = queue_.front();
    std::string payload;
    if (item.isState) {
      auto it = states_.find(item.objectId);
      if (it != states_.end()) payload = StateJson(it->second, settings_.Station);
    } else {
      payload = item.payload;
    }
    // States go with QoS 0: a state the client still held from a lost
    // connection would otherwise be sent again after the newer one and stay
    // on the broker as the Object's state.  Each reconnect sends every state
    // anyway.
    const int mid = client_->Publish(item.topic, payload, item.isState ? 0 : 1, item.retain);
    if (mid == 0) return;  // the connection went away: the item stays
    inFlight_.insert(mid);
    if (item.isState)
      stateQueued_.erase(item.objectId);
    else
      --events_;
    queue_.pop_front();
    ++sent_;
  }
}

}  // namespace zv::remote
