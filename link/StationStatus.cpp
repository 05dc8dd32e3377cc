#include "link/StationStatus.h"

#include <algorithm>

#include "app/Utils.h"
#include "link/secure/SecureChannel.h"

namespace zv {

namespace {
std::string Quoted(const std::string& s) {
  return "\"" + s + "\"";
}
std::string ObjectText(const TObjectRecord& o) {
  return "№" + std::to_string(o.ID) + "(" + o.Name + ")";
}
ObjectNews Connection(ObjectNews::Kind kind, int record, int id, std::string text) {
  ObjectNews n;
  n.kind = kind;
  n.record = record;
  n.objectId = id;
  n.text = std::move(text);
  n.journalKind = jkNotice;
  return n;
}
}  // namespace

StationStatus::StationStatus(const Services& services, Journal& journal, TFormModel& form,
                             Settings& settings)
    : s_(services), journal_(journal), form_(form), settings_(settings) {}

void StationStatus::Beep(std::string_view pattern) {
  if (PlayPattern)
    PlayPattern(pattern);
  else
    PlayBeepPattern(s_, pattern);
}

bool StationStatus::Recording() const {
  return IsRecording ? IsRecording() : form_.RecordBtn.Down();
}

void StationStatus::Supervised(int i, bool ticked) {
  TObjectRecord& o = settings_.Objects[static_cast<std::size_t>(i)];
  o.Checked = ticked;
  Overdue(i) = 0;
  if (ticked) o.LastTestCallTime = s_.clock.Now();
}

void StationStatus::ReportUnknown(LinkPeer& peer, int id) {
  if (!peer.FirstUnknown()) return;
  journal_.ShowStatus("Данные неизвестного объекта №" + std::to_string(id) + " (" + peer.Address() +
                          ") отброшены !",
                      jkAlarm, 1);
}

bool StationStatus::Admit(LinkPeer& peer, int id) {
  if (peer.KeyRefused()) {
    // A line outlives its connections (the direct line): once the operator
    // has taken the Object's key away, its keyless site is heard again.
    const int r = FindObjectById(settings_, peer.RefusedFor());
    if (r > 0 && settings_.Objects[static_cast<std::size_t>(r)].LinkProtected()) return false;
    peer.LiftRefusal();
    keylessRefused_.erase(peer.RefusedFor());
  }
  if (!peer.Bound()) {
    if (id == 0) return true;
    const int i = FindObjectById(settings_, id);
    if (i > 0 && !peer.Secure()) {
      TObjectRecord& o = settings_.Objects[static_cast<std::size_t>(i)];
      if (o.LinkProtected()) {
        // The Object has a key and this peer did not prove it: whoever it
        // is, it does not speak for the Object.
        peer.RefuseKeyless(id);
        // Once until the Object's site proves its key: a keyless site that
        // keeps reconnecting does not flood the journal.
        if (keylessRefused_.insert(id).second)
          journal_.ShowStatus("Объект " + ObjectText(o) + " (" + peer.Address() + "): " +
                                  SecureFaultText(SecureFault::PlainPeer, SecureRole::Station),
                              jkAlarm, 1);
        return false;
      }
      o.LinkSecure = false;
      journal_.AddJournal("Связь с объектом " + ObjectText(o) + " (" + peer.Address() +
                              ") без ключа связи: не защищена",
                          jkNotice, jeNone, i);
    }
    peer.Bind(id);
    if (peers_[id]++ == 0) {
      const std::string who = i > 0 ? ObjectText(settings_.Objects[static_cast<std::size_t>(i)])
                                    : "№" + std::to_string(id);
      // Not journaled: a site's connection comes and goes with its pictures.
      Announce(Connection(ObjectNews::ConnectionUp, i, id,
                          "Объект " + who + " на связи (" + peer.Address() + ")"));
    }
    return true;
  }
  if (peer.ObjectId() == id) return true;
  // One connection speaks for one Object: a site cannot report for another.
  if (peer.FirstForeign()) {
    const std::string text = "Соединение " + peer.Address() + " объекта №" +
                             std::to_string(peer.ObjectId()) + " передаёт данные объекта №" +
                             std::to_string(id) + ": отклонено !";
    const int i = FindObjectById(settings_, peer.ObjectId());
    if (i > 0) {
      Tell(ObjectNews::LinkRefused, i, text, jkAlarm);
    } else {
      journal_.ShowStatus(text, jkAlarm, 1);
    }
  }
  return false;
}

void StationStatus::BindProven(LinkPeer& peer, int id) {
  // A session begun anew on the same line: the one before has gone.
  PeerGone(peer);
  const std::string address = peer.Address();
  peer.Reset();
  peer.SetAddress(address);
  peer.SetSecure(true);
  keylessRefused_.erase(id);
  Admit(peer, id);
}

void StationStatus::PeerGone(const LinkPeer& peer) {
  if (!peer.Bound() || peer.ObjectId() == 0) return;
  const int id = peer.ObjectId();
  auto it = peers_.find(id);
  if (it == peers_.end() || --it->second > 0) return;
  peers_.erase(it);
  const int i = FindObjectById(settings_, id);
  const std::string who =
      i > 0 ? ObjectText(settings_.Objects[static_cast<std::size_t>(i)]) : "№" + std::to_string(id);
  Announce(Connection(ObjectNews::ConnectionDown, i, id,
                      "Объект " + who + " не на связи (" + peer.Address() + ")"));
}

bool StationStatus::Connected(int id) const {
  return peers_.count(id) != 0;
}

void StationStatus::Tell(ObjectNews::Kind kind, int i, const std::string& text,
                         JournalKind journalKind, bool toStatus, std::uint8_t bits,
                         JournalEvent eventCode) {
  const TObjectRecord& o = settings_.Objects[static_cast<std::size_t>(i)];
  {
    Journal::Subject about(journal_, o.ID);
    if (toStatus)
      journal_.ShowStatus(text, journalKind, 1);
    else
      journal_.AddJournal(text, journalKind, eventCode, i);
  }
  ObjectNews n;
  n.kind = kind;
  n.record = i;
  n.objectId = o.ID;
  n.text = text;
  n.journalKind = journalKind;
  n.bits = bits;
  News(n);
}

TDateTime& StationStatus::Overdue(int i) {
  const auto k = static_cast<std::size_t>(i);
  const int id = settings_.Objects[k].ID;
  if (overdueId_[k] != id) {
    overdueId_[k] = id;
    overdue_[k] = 0;
  }
  return overdue_[k];
}

void StationStatus::SignOfLife(int i) {
  TObjectRecord& o = settings_.Objects[static_cast<std::size_t>(i)];
  o.LastTestCallTime = o.LastSeen = s_.clock.Now();
  TDateTime& overdue = Overdue(i);
  if (overdue != 0) {
    overdue = 0;
    Tell(ObjectNews::ServiceCallResumed, i,
         "Возобновлены служебные звонки с объекта " + Quoted(o.Name), jkNotice, false);
  }
}

void StationStatus::HandleStatus(int i, const std::uint8_t* block) {
  TObjectRecord& o = settings_.Objects[static_cast<std::size_t>(i)];
  o.ArmedNow = block[0] != 0;
  const std::uint8_t mask = block[1], state = block[2], cams = block[3];
  o.GaugesEnabled = mask;
  TCheckListBox& list = form_.ObjectListBox;
  if (o.ArmedNow) {
    if (!o.ArmedBefore) {
      list.SetChecked(i - 1, true);
      // A site arms only with its inputs clear: whatever is in alarm when
      // the station first sees it armed (an entrance left open past the
      // countdown, the alarm a modem site calls about, an alarm going on
      // while the station was down) is an alarm, told after the arming.
      o.GaugesBefore = static_cast<std::uint8_t>(state & ~mask);
      o.CamsBefore = 0;
      Beep("g50;s200");
      Tell(ObjectNews::Armed, i, "Установка на охрану объекта " + ObjectText(o), jkNotice);
      if (!Recording()) form_.RecordBtn.Click();
    }
    if (state != o.GaugesBefore) {
      const std::uint8_t alarm = state & mask;
      // Kept before the line is told, so that its readers see the new state.
      o.GaugesBefore = state;
      if (alarm != 0) {
        Beep(form_.BeepStr.Text());
        std::string names;
        int count = 0;
        for (int k = 1; k <= 8; ++k)
          if (alarm & (1u << (k - 1))) {
            names += (count++ ? "," : "") + Quoted(o.Gauges[static_cast<std::size_t>(k)]);
          }
        Tell(ObjectNews::GaugeAlarm, i,
             "Сработка " + std::string(count == 1 ? "датчика " : "датчиков ") + names +
                 " на объекте " + ObjectText(o) + " !",
             jkAlarm, true, alarm);
      } else {
        Beep("i50");
        Tell(ObjectNews::GaugesNormal, i,
             "Датчики на объекте " + ObjectText(o) + " снова в рабочем состоянии", jkNotice);
      }
    }
    if (cams != o.CamsBefore) {
      o.CamsBefore = cams;
      if (cams != 0) {
        Beep("i50;u50;i50");
        std::string names;
        int count = 0;
        for (int k = 1; k <= o.Cams && k <= kMaxCamsPerObject; ++k)
          if (cams & (1u << (k - 1))) {
            const TCameraInfo* c = o.Cameras[static_cast<std::size_t>(k)];
            names += (count++ ? "," : "") + Quoted(c ? c->Description : std::string());
          }
        Tell(ObjectNews::CameraMotion, i,
             "Сработка по " + std::string(count == 1 ? "видеокамере " : "видеокамерам ") + names +
                 " на объекте " + ObjectText(o) + " !",
             jkAlarm, true, cams);
      } else {
        Tell(ObjectNews::MotionEnded, i,
             "Завершение движения по видеокамерам на объекте " + ObjectText(o), jkNotice);
      }
    }
  } else if (o.ArmedBefore) {
    list.SetChecked(i - 1, false);
    Beep("s50;g200");
    Tell(ObjectNews::Disarmed, i, "Снятие с охраны объекта " + ObjectText(o), jkNotice);
    // Recording goes on while any other Object is armed.
    if (Recording() && !AnyObjectArmed()) form_.RecordBtn.Click();
  }
  o.ArmedBefore = o.ArmedNow;
}

bool StationStatus::AnyObjectArmed() const {
  const Settings& s = settings_;
  for (int i = 1; i <= s.ObjectsCount && i <= kMaxObjects; ++i)
    if (s.Objects[static_cast<std::size_t>(i)].ArmedNow) return true;
  return false;
}

void StationStatus::Supervise() {
  const TDateTime now = s_.clock.Now();
  for (int i = 1; i <= settings_.ObjectsCount && i <= kMaxObjects; ++i) {
    TObjectRecord& o = settings_.Objects[static_cast<std::size_t>(i)];
    TDateTime& next = Overdue(i);
    if (!o.Checked) {
      next = 0;
      continue;
    }
    const double period = std::max(1, o.TestCallPeriod) * kOneMinute;
    if (next == 0) {
      if (now - o.LastTestCallTime <= period + 2 * kOneMinute) continue;
      next = now;  // overdue from now on: reported at once
    }
    if (now < next) continue;
    Tell(ObjectNews::ServiceCallOverdue, i,
         "Не поступил очередной служебный звонок с объекта " + Quoted(o.Name) + " !", jkAlarm,
         false, 0, jeServiceCallMissed);
    // Once per further period while it stays overdue.
    while (next <= now) next += period;
  }
}

}  // namespace zv
