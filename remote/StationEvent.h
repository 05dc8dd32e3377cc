#pragma once
// What the station tells the outside world about its Objects: events (one
// per journal line about an Object) and each Object's current state, with
// their JSON form.  Plain data: the station fills them from its own
// handling; the MQTT bridge and the web view only pass them on.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Clock.h"

namespace zv::remote {

enum class EventKind {
  Armed,               // the site reports itself armed
  Disarmed,            // the site reports itself disarmed
  GaugeAlarm,          // one or more alarm inputs tripped
  GaugesNormal,        // the alarm inputs are back to normal
  CameraMotion,        // motion alarm on one or more cameras
  MotionEnded,         // the cameras' motion ended
  ServiceCallOverdue,  // an armed Object missed its service call
  ServiceCallResumed,  // its service calls came again
  ConnectionUp,        // the Object's connection came up
  ConnectionDown,      // the Object's connection ended
  LinkRefused,         // a link message for the Object was refused
  Command,             // an arm or disarm command went to the Object
  Other,
};

// The name of a kind in messages ("gauge_alarm" ...); Other for a name that
// is not one.
const char* KindName(EventKind k);
EventKind KindFromName(std::string_view name);

// The site status of an Object as its last status block told it.
struct SiteMasks {
  std::uint8_t gaugesEnabled = 0;  // bit per alarm input that is in use
  std::uint8_t gaugesAlarm = 0;    // bit per alarm input in alarm
  std::uint8_t camerasAlarm = 0;   // bit k-1 for the Object's camera k
  bool operator==(const SiteMasks&) const = default;
};

struct StationEvent {
  EventKind kind = EventKind::Other;
  int objectId = 0;        // the Object's ID (not its record number)
  std::string objectName;  // the Object's name
  std::string text;        // the journal's own line, word for word
  int journalKind = 0;     // the journal line's kind (0..4)
  TDateTime time = 0;      // when it happened (local day-number time)
  bool armed = false;      // the Object's armed flag at that moment
  SiteMasks masks;
  // Names of the inputs or cameras concerned (alarms), in bit order.
  std::vector<std::string> names;
  // Where it came from when not from the site itself: "operator", "mqtt",
  // "web" for commands; empty otherwise.
  std::string source;
};

struct CameraInfo {
  int index = 0;  // 1..8 within the Object
  std::string name;
  bool operator==(const CameraInfo&) const = default;
};

struct ObjectState {
  int objectId = 0;
  std::string name;
  bool armed = false;
  SiteMasks masks;
  TDateTime lastSeen = 0;      // last picture or status from the site; 0: never
  bool connected = false;      // a connection speaks for the Object now
  bool protectedLink = false;  // a link key: only authenticated, sealed connections
  bool serviceCallOverdue = false;
  std::vector<CameraInfo> cameras;
  std::vector<std::string> gaugeNames;  // input 1..8 in bit order
  std::string lastEvent;                // text of the latest event, if any

  bool operator==(const ObjectState&) const = default;
};

// Local day-number time as ISO 8601 with the machine's offset for that time,
// "2024-03-05T14:07:09+03:00"; empty for 0.
std::string IsoTime(TDateTime t);

// The JSON messages.  station is the station's name as configured.
std::string EventJson(const StationEvent& e, std::string_view station, long long seq);
std::string StateJson(const ObjectState& s, std::string_view station);

}  // namespace zv::remote
