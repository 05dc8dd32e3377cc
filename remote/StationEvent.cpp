#include "remote/StationEvent.h"

#include <ctime>

#include "remote/Json.h"

namespace zv::remote {

namespace {
struct KindEntry {
  EventKind kind;
  const char* name;
};
constexpr KindEntry kKinds[] = {
    {EventKind::Armed, "armed"},
    {EventKind::Disarmed, "disarmed"},
    {EventKind::GaugeAlarm, "gauge_alarm"},
    {EventKind::GaugesNormal, "gauges_normal"},
    {EventKind::CameraMotion, "camera_motion"},
    {EventKind::MotionEnded, "motion_ended"},
    {EventKind::ServiceCallOverdue, "service_call_overdue"},
    {EventKind::ServiceCallResumed, "service_call_resumed"},
    {EventKind::ConnectionUp, "connection_up"},
    {EventKind::ConnectionDown, "connection_down"},
    {EventKind::LinkRefused, "link_refused"},
    {EventKind::Command, "command"},
    {EventKind::Other, "other"},
};

void WriteMasks(json::Writer& w, const SiteMasks& m) {
  w.Field("gauges_enabled", static_cast<int>(m.gaugesEnabled))
      .Field("gauges_alarm", static_cast<int>(m.gaugesAlarm))
      .Field("cameras_alarm", static_cast<int>(m.camerasAlarm));
}

void WriteTime(json::Writer& w, std::string_view key, TDateTime t) {
  w.Key(key);
  if (t == 0)
    w.Null();
  else
    w.String(IsoTime(t));
}
}  // namespace

const char* KindName(EventKind k) {
  for (const auto& e : kKinds)
    if (e.kind == k) return e.name;
  return "other";
}

EventKind KindFromName(std::string_view name) {
  for (const auto& e : kKinds)
    if (name == e.name) return e.kind;
  return EventKind::Other;
}

std::string IsoTime(TDateTime t) {
  if (t == 0) return {};
  const DateTimeParts p = DecodeDateTime(t);
  // The offset the machine's time zone has at that local time.
  std::int64_t seconds = 0;
  long offset = 0;
  if (!LocalToSystemTime(t, seconds, offset)) offset = 0;
  char buf[40];
  const long off = offset < 0 ? -offset : offset;
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", p.year, p.month,
                p.day, p.hour, p.minute, p.second, offset < 0 ? '-' : '+', off / 3600,
                (off / 60) % 60);
  return buf;
}

std::string EventJson(const StationEvent& e, std::string_view station, long long seq) {
  json::Writer w;
  w.BeginObject()
      .Field("station", station)
      .Field("seq", seq)
      .Field("kind", KindName(e.kind))
      .Key("object")
      .BeginObject()
      .Field("id", e.objectId)
      .Field("name", e.objectName)
      .EndObject()
      .Field("text", e.text)
      .Field("journal_kind", e.journalKind);
  WriteTime(w, "time", e.time);
  w.Field("armed", e.armed);
  WriteMasks(w, e.masks);
  w.Key("names").BeginArray();
  for (const auto& n : e.names) w.String(n);
  w.EndArray();
  if (!e.source.empty()) w.Field("source", e.source);
  w.EndObject();
  return w.Text();
}

std::string StateJson(const ObjectState& s, std::string_view station) {
  json::Writer w;
  w.BeginObject()
      .Field("station", station)
      .Field("id", s.objectId)
      .Field("name", s.name)
      .Field("armed", s.armed);
  WriteMasks(w, s.masks);
  WriteTime(w, "last_seen", s.lastSeen);
  w.Field("connected", s.connected)
      .Field("protected_link", s.protectedLink)
      .Field("service_call_overdue", s.serviceCallOverdue);
  w.Key("cameras").BeginArray();
  for (const auto& c : s.cameras)
    w.BeginObject().Field("index", c.index).Field("name", c.name).EndObject();
  w.EndArray();
  w.Key("gauges").BeginArray();
  for (const auto& g : s.gaugeNames) w.String(g);
  w.EndArray();
  w.Field("last_event", s.lastEvent);
  w.EndObject();
  return w.Text();
}

}  // namespace zv::remote
