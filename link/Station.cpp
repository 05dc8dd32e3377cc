#include <algorithm>
#include <cstring>
#include <exception>

#include "app/Application.h"
#include "app/Utils.h"
#include "detect/PictureCodec.h"
#include "link/Link.h"
#include "video/Camera.h"
#include "video/VideoInput.h"

namespace zv {

namespace {
std::string Quoted(const std::string& s) {
  return "\"" + s + "\"";
}
std::string ObjectText(const TObjectRecord& o) {
  return "№" + std::to_string(o.ID) + "(" + o.Name + ")";
}
}  // namespace

StationSide::StationSide(LinkSubsystem& link) : l_(link) {}

int StationSide::FindObject(int id) const {
  const Settings& s = l_.app.settings;
  for (int i = 1; i <= s.ObjectsCount && i <= kMaxObjects; ++i)
    if (s.Objects[static_cast<std::size_t>(i)].ID == id) return i;
  return 0;
}

namespace {
// A picture message as a site sends it: the status block at least, and the
// fixed argument bytes.  Anything else is dropped whole and is no sign of
// life of any Object.
bool WellFormed(const LinkMessage& m) {
  return m.Type == link::mtPicture && m.Arg3 == 0xFF && m.Arg4 == 0x00 && m.PayloadSize >= 4 &&
         m.Payload != nullptr;
}
}  // namespace

void StationSide::ReportUnknown(LinkPeer& peer, int id) {
  if (!peer.FirstUnknown()) return;
  l_.app.journal.ShowStatus("Данные неизвестного объекта №" + std::to_string(id) + " (" +
                                peer.Address() + ") отброшены !",
                            3, 1);
}

bool StationSide::Admit(LinkPeer& peer, int id) {
  if (!peer.Bound()) {
    if (id != 0) peer.Bind(id);
    return true;
  }
  if (peer.ObjectId() == id) return true;
  // One connection speaks for one Object: a site cannot report for another.
  if (peer.FirstForeign())
    l_.app.journal.ShowStatus("Соединение " + peer.Address() + " объекта №" +
                                  std::to_string(peer.ObjectId()) + " передаёт данные объекта №" +
                                  std::to_string(id) + ": отклонено !",
                              3, 1);
  return false;
}

void StationSide::PlacePicture(TCamera* cam, const LinkMessage& m) {
  Application& app = l_.app;
  if (!cam || cam->CurrentPicture.Empty()) return;
  try {
    TPicture& pic = cam->CurrentPicture;
    const std::size_t n = std::min(m.PayloadSize, pic.SizeBytes());
    try {
      std::memcpy(pic.Data(), m.Payload, n);
    } catch (const std::exception& e) {
      app.journal.AddJournal(std::string("Ошибка: ") + e.what() + " !", 0, 0, 0, 0, 36);
    }
    l_.ReceivedBytes(cam->Number) += static_cast<long long>(m.PayloadSize);
    app.video->Intake.FramePending = true;
    app.video->Intake.ReadyForFrame = false;
    try {
      cam->Repaint();
    } catch (const std::exception& e) {
      app.journal.AddJournal(std::string("Ошибка: ") + e.what() + " !", 0, 0, 0, 0, 37);
    }
  } catch (const std::exception& e) {
    app.journal.AddJournal(std::string("Ошибка: ") + e.what() + " !", 0, 0, 0, 0, 38);
  }
}

void StationSide::HandleLinkMessage(const LinkMessage& m, LinkPeer& peer) {
  Application& app = l_.app;
  if (!WellFormed(m)) return;
  int obj = 0;  // record number of the Object the message acts on
  TCamera* cam = nullptr;
  if (m.Arg1 != 0) {
    // The site's Object ID: its picture goes into that Object's camera.  An
    // ID the directory does not know acts on no Object at all.
    obj = FindObject(m.Arg1);
    if (obj == 0) {
      ReportUnknown(peer, m.Arg1);
      return;
    }
    const TObjectRecord& o = app.settings.Objects[static_cast<std::size_t>(obj)];
    if (m.Arg2 >= 1 && m.Arg2 <= o.Cams && m.Arg2 <= kMaxCamsPerObject)
      cam = dynamic_cast<TCamera*>(o.Cameras[m.Arg2]);
  } else {
    // No ID: the camera number is the station's own, and the Object is the
    // one whose ID that camera carries.
    if (m.Arg2 >= 1 && m.Arg2 <= CameraTable::kMaxCameras) cam = app.cameras.GetAs<TCamera>(m.Arg2);
    if (!cam) return;  // no such camera: dropped
    obj = FindObject(cam->ObjID);
  }
  const int id = obj > 0 ? app.settings.Objects[static_cast<std::size_t>(obj)].ID : 0;
  if (!Admit(peer, id)) return;
  PlacePicture(cam, m);
  if (obj <= 0) return;  // the picture is shown, its status is not followed
  SignOfLife(obj);
  HandleStatus(obj, m.Payload);
}

TDateTime& StationSide::Overdue(int i) {
  const auto k = static_cast<std::size_t>(i);
  const int id = l_.app.settings.Objects[k].ID;
  if (overdueId_[k] != id) {
    overdueId_[k] = id;
    overdue_[k] = 0;
  }
  return overdue_[k];
}

void StationSide::SignOfLife(int i) {
  Application& app = l_.app;
  TObjectRecord& o = app.settings.Objects[static_cast<std::size_t>(i)];
  o.LastTestCallTime = app.services().clock.Now();
  TDateTime& overdue = Overdue(i);
  if (overdue != 0) {
    overdue = 0;
    app.journal.AddJournal("Возобновлены служебные звонки с объекта " + Quoted(o.Name), 2, 0, i);
  }
}

void StationSide::HandleStatus(int i, const std::uint8_t* block) {
  Application& app = l_.app;
  const Services& s = app.services();
  TObjectRecord& o = app.settings.Objects[static_cast<std::size_t>(i)];
  o.ArmedNow = block[0] != 0;
  const std::uint8_t mask = block[1], state = block[2], cams = block[3];
  TCheckListBox& list = app.form.ObjectListBox;
  if (o.ArmedNow) {
    if (!o.ArmedBefore) {
      list.SetChecked(i - 1, true);
      o.GaugesBefore = state;
      o.CamsBefore = cams;
      PlayBeepPattern(s, "g50;s200");
      app.journal.ShowStatus("Установка на охрану объекта " + ObjectText(o), 2, 1);
      if (!l_.Recording()) app.form.RecordBtn.Click();
    }
    if (state != o.GaugesBefore) {
      const std::uint8_t alarm = state & mask;
      if (alarm != 0) {
        PlayBeepPattern(s, app.form.BeepStr.Text());
        std::string names;
        int count = 0;
        for (int k = 1; k <= 8; ++k)
          if (alarm & (1u << (k - 1))) {
            names += (count++ ? "," : "") + Quoted(o.Gauges[static_cast<std::size_t>(k)]);
          }
        app.journal.ShowStatus("Сработка " + std::string(count == 1 ? "датчика " : "датчиков ") +
                                   names + " на объекте " + ObjectText(o) + " !",
                               3, 1);
      } else {
        PlayBeepPattern(s, "i50");
        app.journal.ShowStatus("Датчики на объекте " + ObjectText(o) + " снова в рабочем состоянии",
                               2, 1);
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
        app.journal.ShowStatus("Сработка по " +
                                   std::string(count == 1 ? "видеокамере " : "видеокамерам ") +
                                   names + " на объекте " + ObjectText(o) + " !",
                               3, 1);
      } else {
        app.journal.ShowStatus("Завершение движения по видеокамерам на объекте " + ObjectText(o), 2,
                               1);
      }
      o.CamsBefore = cams;
    }
  } else if (o.ArmedBefore) {
    list.SetChecked(i - 1, false);
    PlayBeepPattern(s, "s50;g200");
    app.journal.ShowStatus("Снятие с охраны объекта " + ObjectText(o), 2, 1);
    // Recording goes on while any other Object is armed.
    if (l_.Recording() && !AnyObjectArmed()) app.form.RecordBtn.Click();
  }
  o.ArmedBefore = o.ArmedNow;
}

bool StationSide::AnyObjectArmed() const {
  const Settings& s = l_.app.settings;
  for (int i = 1; i <= s.ObjectsCount && i <= kMaxObjects; ++i)
    if (s.Objects[static_cast<std::size_t>(i)].ArmedNow) return true;
  return false;
}

void StationSide::ObjectListBoxClickCheck(int index) {
  Application& app = l_.app;
  const int n = index >= 0 ? index : app.form.ObjectListBox.ItemIndex();
  if (n < 0 || n + 1 > kMaxObjects) return;
  const bool ticked = app.form.ObjectListBox.Checked(n);
  TObjectRecord& o = app.settings.Objects[static_cast<std::size_t>(n + 1)];
  o.Checked = ticked;
  Overdue(n + 1) = 0;
  if (ticked) o.LastTestCallTime = app.services().clock.Now();
  l_.SendCommand(ticked, n);
}

void StationSide::Supervise() {
  Application& app = l_.app;
  const TDateTime now = app.services().clock.Now();
  for (int i = 1; i <= app.settings.ObjectsCount && i <= kMaxObjects; ++i) {
    TObjectRecord& o = app.settings.Objects[static_cast<std::size_t>(i)];
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
    app.journal.AddJournal(
        "Не поступил очередной служебный звонок с объекта " + Quoted(o.Name) + " !", 3, 3, i);
    // Once per further period while it stays overdue.
    while (next <= now) next += period;
  }
}

void StationSide::ModemPicture(const std::uint8_t* jpeg, std::size_t size, LinkPeer& peer) {
  Application& app = l_.app;
  // A site that sends its status with the picture is found by its ID, and
  // the picture goes into that Object's camera; without it every modem
  // picture is the station's camera 1.
  PictureStatus status;
  const bool withStatus = ReadStatusSegment(jpeg, size, status) && status.ObjectId != 0;
  int obj = 0;
  TCamera* cam = nullptr;
  if (withStatus) {
    obj = FindObject(status.ObjectId);
    if (obj == 0) {
      ReportUnknown(peer, status.ObjectId);
      return;
    }
    if (!Admit(peer, status.ObjectId)) return;
    const TObjectRecord& o = app.settings.Objects[static_cast<std::size_t>(obj)];
    if (status.Camera >= 1 && status.Camera <= o.Cams && status.Camera <= kMaxCamsPerObject)
      cam = dynamic_cast<TCamera*>(o.Cameras[status.Camera]);
  } else {
    cam = app.cameras.GetAs<TCamera>(1);
  }
  if (cam) {
    try {
      JpegCodec codec;
      if (!codec.DecodePicture(cam->CurrentPicture, jpeg, size, true))
        throw std::runtime_error(codec.LastError().empty() ? "картинка не декодирована"
                                                           : codec.LastError());
      l_.ReceivedBytes(cam->Number) += static_cast<long long>(size);
      cam->Repaint();
    } catch (const std::exception& e) {
      app.journal.ReportError(e.what(), 33, 1);
    }
  }
  if (obj <= 0) return;
  SignOfLife(obj);
  HandleStatus(obj, status.Block);
}

}  // namespace zv
