#pragma once
// The station's knowledge of its sites, from the status block each
// picture carries: arming and disarming, tripped gauges and camera motion,
// each change journaled and sounded once; and the supervision of the
// service calls every supervised site owes.  Which connection may speak
// for which Object is decided here too.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "app/FormModel.h"
#include "app/Journal.h"
#include "app/Settings.h"
#include "link/LinkPeer.h"
#include "platform/Services.h"
#include "platform/Signal.h"

namespace zv {

// One thing the station learnt about one of its Objects: every journal line
// about an Object, and its connection coming and going.  Told through
// StationStatus::News; the composition root hands it on to the outside
// connections (MQTT, the web view).
struct ObjectNews {
  enum Kind {
    Armed,
    Disarmed,
    GaugeAlarm,
    GaugesNormal,
    CameraMotion,
    MotionEnded,
    ServiceCallOverdue,
    ServiceCallResumed,
    ConnectionUp,
    ConnectionDown,
    LinkRefused,
    Command,
  };
  Kind kind = Armed;
  int record = 0;    // the Object's record number, 0 when it has none
  int objectId = 0;  // its ID
  std::string text;  // the journal's line, word for word
  JournalKind journalKind = jkInfo;
  // The alarm inputs (GaugeAlarm) or cameras (CameraMotion) concerned.
  std::uint8_t bits = 0;
  // Commands: "operator", "mqtt" or "web"; whether it went out.
  std::string source;
  bool sent = false;
};

class StationStatus {
 public:
  StationStatus(const Services& services, Journal& journal, TFormModel& form, Settings& settings);

  // Whether recording is on.  Unset: the record button's pressed state.
  std::function<bool()> IsRecording;

  // Whether peer may speak for the Object with this ID (0: a camera of no
  // Object); binds an unbound peer.  A refusal is journaled, once.
  bool Admit(LinkPeer& peer, int id);
  // A message for an ID the directory does not know; journaled once.
  void ReportUnknown(LinkPeer& peer, int id);

  // Object record i was heard from: its service-call clock starts again.
  void SignOfLife(int i);
  // The status block of Object i's latest picture: armed flag, gauge
  // enabled mask, gauge alarm mask, camera alarm mask.
  void HandleStatus(int i, const std::uint8_t* block);
  // The operator ticked or cleared Object i's supervision.
  void Supervised(int i, bool ticked);
  // The heartbeat's check of the service calls.
  void Supervise();

  // Object i has been reported overdue (0: not overdue).
  TDateTime NextOverdueReport(int i) const { return overdue_.at(static_cast<std::size_t>(i)); }

  // Everything the station learns about its Objects, as it is journaled.
  Signal<const ObjectNews&> News;
  // Journals text about Object record i (the line keeps the Object's ID)
  // and tells it as news.  toStatus: shown in the status bar too.
  void Tell(ObjectNews::Kind kind, int i, const std::string& text, JournalKind journalKind,
            bool toStatus = true, std::uint8_t bits = 0, JournalEvent eventCode = jeNone);
  // Tells news whose line, if any, is journaled by the caller.
  void Announce(ObjectNews news) { News(news); }

  // A connection that spoke for the Object with this ID ended (no news
  // when another one still speaks for it).
  void PeerGone(const LinkPeer& peer);
  // Whether a connection speaks for the Object with this ID now.
  bool Connected(int id) const;
  // Where the arm and disarm commands come from while they are sent:
  // "operator" unless a request from afar is being carried out.
  std::string CommandSource = "operator";

 private:
  bool Recording() const;
  bool AnyObjectArmed() const;
  // Per record number, with the ID it was kept for: records move when an
  // Object is deleted, and state kept for another Object does not count.
  TDateTime& Overdue(int i);

  const Services& s_;
  Journal& journal_;
  TFormModel& form_;
  Settings& settings_;
  std::array<TDateTime, kMaxObjects + 1> overdue_{};
  std::array<int, kMaxObjects + 1> overdueId_{};
  std::map<int, int> peers_;  // connections speaking for each Object ID
};

}  // namespace zv
