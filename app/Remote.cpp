#include "app/Remote.h"

#include <cmath>
#include <filesystem>
#include <set>
#include <utility>

#include "link/Link.h"
#include "video/Camera.h"

namespace zv {

namespace {

remote::EventKind KindOf(ObjectNews::Kind k) {
  using E = remote::EventKind;
  switch (k) {
    case ObjectNews::Armed:
      return E::Armed;
    case ObjectNews::Disarmed:
      return E::Disarmed;
    case ObjectNews::GaugeAlarm:
      return E::GaugeAlarm;
    case ObjectNews::GaugesNormal:
      return E::GaugesNormal;
    case ObjectNews::CameraMotion:
      return E::CameraMotion;
    case ObjectNews::MotionEnded:
      return E::MotionEnded;
    case ObjectNews::ServiceCallOverdue:
      return E::ServiceCallOverdue;
    case ObjectNews::ServiceCallResumed:
      return E::ServiceCallResumed;
    case ObjectNews::ConnectionUp:
      return E::ConnectionUp;
    case ObjectNews::ConnectionDown:
      return E::ConnectionDown;
    case ObjectNews::LinkRefused:
      return E::LinkRefused;
    case ObjectNews::Command:
      return E::Command;
  }
  return E::Other;
}

const TObjectRecord* RecordOf(const Settings& s, int i) {
  if (i < 1 || i > s.ObjectsCount || i > static_cast<int>(kMaxObjects)) return nullptr;
  return &s.Objects[static_cast<std::size_t>(i)];
}

}  // namespace

StationRemote::StationRemote(Services& services, Journal& journal, Settings& settings,
                             TFormModel& form, LinkSubsystem& link, IMqttFactory* mqtt,
                             std::string dataDir)
    : s_(services),
      journal_(journal),
      settings_(settings),
      form_(form),
      link_(link),
      mqttFactory_(mqtt),
      dataDir_(std::move(dataDir)) {
  newsConnection_ = link_.status.News.Connect([this](const ObjectNews& n) { OnNews(n); });
}

StationRemote::~StationRemote() {
  Shutdown();
  link_.status.News.Disconnect(newsConnection_);
}

void StationRemote::Start() {
  remote::ReadRemoteSettings(settings_.Ini(), mqtt_, web_);
  if (mqttFactory_ && !bridge_) {
    bridge_ = std::make_unique<remote::MqttBridge>(
        *mqttFactory_, [this](const std::string& text, int kind) {
          journal_.AddJournal(text, static_cast<JournalKind>(kind));
        });
    bridge_->OnSetRequest = [this](int id, bool arm) { return RequestArm(id, arm, "mqtt"); };
  }
  if (bridge_) {
    bridge_->Configure(mqtt_);
    Heartbeat();
  }
}

void StationRemote::Shutdown() {
  if (!std::exchange(closed_, true)) Closing();
  if (!bridge_) return;
  remote::MqttSettings off = mqtt_;
  off.Enabled = false;
  bridge_->Configure(off);
  bridge_.reset();
}

std::string StationRemote::UsersFile() const {
  if (!web_.UsersFile.empty()) return web_.UsersFile;
  return (std::filesystem::path(dataDir_) / "WebUsers").string();
}

void StationRemote::SaveRemoteSettings() {
  remote::WriteRemoteSettings(settings_.Ini(), mqtt_, web_);
  // Through the settings' own save: private while it holds a password.
  settings_.Flush();
}

void StationRemote::ApplyMqtt(const remote::MqttSettings& s) {
  mqtt_ = s;
  SaveRemoteSettings();
  if (!bridge_) return;
  bridge_->Configure(mqtt_);
  Heartbeat();
}

void StationRemote::StoreWeb(const remote::WebSettings& s) {
  web_ = s;
  SaveRemoteSettings();
}

// ---------------------------------------------------------------- states

remote::ObjectState StationRemote::StateOf(int i) const {
  remote::ObjectState st;
  const TObjectRecord* o = RecordOf(settings_, i);
  if (!o) return st;
  st.objectId = o->ID;
  st.name = o->Name;
  st.armed = o->ArmedNow;
  st.masks.gaugesEnabled = o->GaugesEnabled;
  // The alarm masks are followed while the site is armed.
  if (o->ArmedNow) {
    st.masks.gaugesAlarm = o->GaugesBefore & o->GaugesEnabled;
    st.masks.camerasAlarm = o->CamsBefore;
  }
  st.lastSeen = o->LastSeen;
  st.connected = link_.status.Connected(o->ID);
  // An Object with a link key takes only connections that prove it.
  st.protectedLink = o->LinkProtected();
  st.serviceCallOverdue = link_.status.NextOverdueReport(i) != 0;
  for (int k = 1; k <= o->Cams && k <= static_cast<int>(kMaxCamsPerObject); ++k)
    if (const TCameraInfo* c = o->Cameras[static_cast<std::size_t>(k)])
      st.cameras.push_back({k, c->Description});
  for (int k = 1; k <= 8; ++k) st.gaugeNames.push_back(o->Gauges[static_cast<std::size_t>(k)]);
  if (auto it = lastEvent_.find(o->ID); it != lastEvent_.end()) st.lastEvent = it->second;
  return st;
}

std::vector<remote::ObjectState> StationRemote::States() const {
  std::vector<remote::ObjectState> out;
  for (int i = 1; i <= settings_.ObjectsCount && i <= static_cast<int>(kMaxObjects); ++i)
    out.push_back(StateOf(i));
  return out;
}

void StationRemote::UpdateState(int i) {
  if (!bridge_ || !bridge_->Enabled() || !RecordOf(settings_, i)) return;
  remote::ObjectState st = StateOf(i);
  auto it = published_.find(st.objectId);
  if (it != published_.end()) {
    // A site heard from every second would otherwise publish its state
    // every second: "last seen" alone goes out once a minute.
    remote::ObjectState same = st;
    same.lastSeen = it->second.lastSeen;
    if (same == it->second && it->second.lastSeen != 0 &&
        std::fabs(st.lastSeen - it->second.lastSeen) < kLastSeenStep)
      return;
  }
  published_[st.objectId] = st;
  bridge_->UpdateState(st);
}

void StationRemote::Heartbeat() {
  // While the bridge is off nothing is followed; turned on, it catches up
  // here (Objects deleted meanwhile are cleared on the broker then).
  if (!bridge_ || !bridge_->Enabled()) return;
  std::set<int> ids;
  for (int i = 1; i <= settings_.ObjectsCount && i <= static_cast<int>(kMaxObjects); ++i) {
    const TObjectRecord& o = settings_.Objects[static_cast<std::size_t>(i)];
    // Two records with one ID: the first speaks for it (as the link finds it).
    if (!ids.insert(o.ID).second) continue;
    UpdateState(i);
  }
  for (auto it = published_.begin(); it != published_.end();) {
    if (ids.count(it->first)) {
      ++it;
      continue;
    }
    bridge_->RemoveObject(it->first);
    lastEvent_.erase(it->first);
    it = published_.erase(it);
  }
}

// ---------------------------------------------------------------- events

remote::StationEvent StationRemote::EventOf(const ObjectNews& n) const {
  remote::StationEvent e;
  e.kind = KindOf(n.kind);
  e.objectId = n.objectId;
  e.text = n.text;
  e.journalKind = n.journalKind;
  e.time = s_.clock.Now();
  if (n.kind == ObjectNews::Command) e.source = n.source;
  if (const TObjectRecord* o = RecordOf(settings_, n.record)) {
    e.objectName = o->Name;
    e.armed = o->ArmedNow;
    e.masks.gaugesEnabled = o->GaugesEnabled;
    if (o->ArmedNow) {
      e.masks.gaugesAlarm = o->GaugesBefore & o->GaugesEnabled;
      e.masks.camerasAlarm = o->CamsBefore;
    }
    for (int k = 1; k <= 8; ++k) {
      if (!(n.bits & (1u << (k - 1)))) continue;
      if (n.kind == ObjectNews::GaugeAlarm) {
        e.names.push_back(o->Gauges[static_cast<std::size_t>(k)]);
      } else if (n.kind == ObjectNews::CameraMotion && k <= o->Cams) {
        const TCameraInfo* c = o->Cameras[static_cast<std::size_t>(k)];
        e.names.push_back(c ? c->Description : std::string());
      }
    }
  }
  return e;
}

void StationRemote::OnNews(const ObjectNews& n) {
  if (n.objectId != 0) lastEvent_[n.objectId] = n.text;
  if (!bridge_) return;
  bridge_->Publish(EventOf(n));
  if (n.record > 0) UpdateState(n.record);
}

// ---------------------------------------------------------------- the web view

namespace {
const TCamera* CameraOf(const Settings& s, int objectId, int camera) {
  const TObjectRecord* o = RecordOf(s, FindObjectById(s, objectId));
  if (!o || camera < 1 || camera > o->Cams || camera > static_cast<int>(kMaxCamsPerObject))
    return nullptr;
  return dynamic_cast<const TCamera*>(o->Cameras[static_cast<std::size_t>(camera)]);
}
}  // namespace

std::uint64_t StationRemote::PictureSerial(int objectId, int camera) const {
  const TCamera* c = CameraOf(settings_, objectId, camera);
  return c ? c->PicturesPlaced : 0;
}

bool StationRemote::LatestPicture(int objectId, int camera, TPicture& picture) const {
  const TCamera* c = CameraOf(settings_, objectId, camera);
  if (!c || c->PicturesPlaced == 0 || c->CurrentPicture.Empty()) return false;
  picture = c->CurrentPicture;
  return true;
}

std::vector<StationRemote::Line> StationRemote::RecentJournal(std::size_t max) const {
  const auto& v = journal_.View();
  const std::size_t from = v.size() > max ? v.size() - max : 0;
  std::vector<Line> out;
  out.reserve(v.size() - from);
  for (std::size_t k = from; k < v.size(); ++k)
    out.push_back({v[k].text, static_cast<int>(v[k].kind), v[k].objectId});
  return out;
}

bool StationRemote::RequestArm(int objectId, bool arm, const std::string& source) {
  const int i = FindObjectById(settings_, objectId);
  if (i <= 0 || i > form_.ObjectListBox.Count()) return false;
  // As the operator's tick: the list's check mark, then its handler.
  form_.ObjectListBox.SetChecked(i - 1, arm);
  const std::string before = link_.status.CommandSource;
  link_.status.CommandSource = source;
  link_.station.ObjectListBoxClickCheck(i - 1);
  link_.status.CommandSource = before;
  return true;
}

}  // namespace zv
