#pragma once
// The station's knowledge of its sites, from the status block each
// picture carries: arming and disarming, tripped gauges and camera motion,
// each change journaled and sounded once; and the supervision of the
// service calls every supervised site owes.  Which connection may speak
// for which Object is decided here too.
#include <array>
#include <cstdint>
#include <functional>

#include "app/FormModel.h"
#include "app/Journal.h"
#include "app/Settings.h"
#include "link/LinkPeer.h"
#include "platform/Services.h"

namespace zv {

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
};

}  // namespace zv
