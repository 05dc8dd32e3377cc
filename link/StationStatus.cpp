#include "link/StationStatus.h"

#include <algorithm>

#include "app/Utils.h"

namespace zv {

namespace {
std::string Quoted(const std::string& s) {
  return "\"" + s + "\"";
}
std::string ObjectText(const TObjectRecord& o) {
  return "№" + std::to_string(o.ID) + "(" + o.Name + ")";
}
}  // namespace

StationStatus::StationStatus(const Services& services, Journal& journal, TFormModel& form,
                             Settings& settings)
    : s_(services), journal_(journal), form_(form), settings_(settings) {}

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
  if (!peer.Bound()) {
    if (id != 0) peer.Bind(id);
    return true;
  }
  if (peer.ObjectId() == id) return true;
  // One connection speaks for one Object: a site cannot report for another.
  if (peer.FirstForeign())
    journal_.ShowStatus("Соединение " + peer.Address() + " объекта №" +
                            std::to_string(peer.ObjectId()) + " передаёт данные объекта №" +
                            std::to_string(id) + ": отклонено !",
                        jkAlarm, 1);
  return false;
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
  o.LastTestCallTime = s_.clock.Now();
  TDateTime& overdue = Overdue(i);
  if (overdue != 0) {
    overdue = 0;
    journal_.AddJournal("Возобновлены служебные звонки с объекта " + Quoted(o.Name), jkNotice,
                        jeNone, i);
  }
}

void StationStatus::HandleStatus(int i, const std::uint8_t* block) {
  const Services& s = s_;
  TObjectRecord& o = settings_.Objects[static_cast<std::size_t>(i)];
  o.ArmedNow = block[0] != 0;
  const std::uint8_t mask = block[1], state = block[2], cams = block[3];
  TCheckListBox& list = form_.ObjectListBox;
  if (o.ArmedNow) {
    if (!o.ArmedBefore) {
      list.SetChecked(i - 1, true);
      o.GaugesBefore = state;
      o.CamsBefore = cams;
      PlayBeepPattern(s, "g50;s200");
      journal_.ShowStatus("Установка на охрану объекта " + ObjectText(o), jkNotice, 1);
      if (!Recording()) form_.RecordBtn.Click();
    }
    if (state != o.GaugesBefore) {
      const std::uint8_t alarm = state & mask;
      if (alarm != 0) {
        PlayBeepPattern(s, form_.BeepStr.Text());
        std::string names;
        int count = 0;
        for (int k = 1; k <= 8; ++k)
          if (alarm & (1u << (k - 1))) {
            names += (count++ ? "," : "") + Quoted(o.Gauges[static_cast<std::size_t>(k)]);
          }
        journal_.ShowStatus("Сработка " + std::string(count == 1 ? "датчика " : "датчиков ") +
                                names + " на объекте " + ObjectText(o) + " !",
                            jkAlarm, 1);
      } else {
        PlayBeepPattern(s, "i50");
        journal_.ShowStatus("Датчики на объекте " + ObjectText(o) + " снова в рабочем состоянии",
                            jkNotice, 1);
      }
      o.GaugesBefore = state;
    }
    if (cams != o.CamsBefore) {
      if (cams != 0) {
        PlayBeepPattern(s, "i50;u50;i50");
        std::string names;
        int count = 0;
        for (int k = 1; k <= o.Cams && k <= kMaxCamsPerObject; ++k)
          if (cams & (1u << (k - 1))) {
            const TCameraInfo* c = o.Cameras[static_cast<std::size_t>(k)];
            names += (count++ ? "," : "") + Quoted(c ? c->Description : std::string());
          }
        journal_.ShowStatus("Сработка по " +
                                std::string(count == 1 ? "видеокамере " : "видеокамерам ") + names +
                                " на объекте " + ObjectText(o) + " !",
                            jkAlarm, 1);
      } else {
        journal_.ShowStatus("Завершение движения по видеокамерам на объекте " + ObjectText(o),
                            jkNotice, 1);
      }
      o.CamsBefore = cams;
    }
  } else if (o.ArmedBefore) {
    list.SetChecked(i - 1, false);
    PlayBeepPattern(s, "s50;g200");
    journal_.ShowStatus("Снятие с охраны объекта " + ObjectText(o), jkNotice, 1);
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
    journal_.AddJournal("Не поступил очередной служебный звонок с объекта " + Quoted(o.Name) + " !",
                        jkAlarm, jeServiceCallMissed, i);
    // Once per further period while it stays overdue.
    while (next <= now) next += period;
  }
}

}  // namespace zv
