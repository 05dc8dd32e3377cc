#include "directory/Directory.h"

#include <algorithm>
#include <exception>

#include "app/Application.h"
#include "video/Camera.h"
#include "video/VideoInput.h"

namespace zv {

namespace {

// Sets a page's guard flag for the life of the scope.
class Filling {
 public:
  explicit Filling(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
  ~Filling() { flag_ = old_; }
  Filling(const Filling&) = delete;
  Filling& operator=(const Filling&) = delete;

 private:
  bool& flag_;
  bool old_;
};

std::string DefaultGaugeName(int i) {
  return "Датчик" + std::to_string(i);
}

}  // namespace

int FindObjectById(const Settings& settings, int id) {
  for (int i = 1; i <= settings.ObjectsCount && i <= kMaxObjects; ++i)
    if (settings.Objects[static_cast<std::size_t>(i)].ID == id) return i;
  return 0;
}

Directory::Directory(Application& app) : app_(app) {
  TFormModel& f = app_.form;
  f.AbonentListBox.OnClick = [this] { AbonentListBoxClick(); };
  for (TEdit* e : {&f.AbonName, &f.AbonNumber}) e->OnChange = [this, e] { AbonNameChange(e); };
  for (TSpinEdit* s : {&f.ClientAnswerWaitTime, &f.ClientRecallTime, &f.ClientRecallPeriod})
    s->OnChange = [this, s] { AbonNameChange(s); };
  f.ConnectType.OnChange = [this, &f] { AbonNameChange(&f.ConnectType); };
  f.AddAbonent.OnClick = [this] { AddAbonentClick(); };
  f.DelAbonent.OnClick = [this] { DelAbonentClick(); };
  f.SetAbonDefault.OnClick = [this] { SetAbonDefaultClick(); };

  f.ObjectListBox.OnClick = [this] { ObjectListBoxClick(); };
  for (TEdit* e : {&f.ObjectName, &f.ObjectAddress, &f.ObjectTelephone, &f.ObjectOwnerTelephones,
                   &f.ObjectAddInfo, &f.ObjectIPAddress})
    e->OnChange = [this, e] { ObjectOwnerTelephonesChange(e); };
  for (TSpinEdit* s : {&f.ObjID, &f.ServerAnswerWaitTime, &f.ServerRecallTime,
                       &f.ServerRecallPeriod, &f.ServerTestCallPeriod, &f.ObjCamerasAmount})
    s->OnChange = [this, s] { ObjectOwnerTelephonesChange(s); };
  f.ServerTesting.OnChange = [this, &f] { ObjectOwnerTelephonesChange(&f.ServerTesting); };
  f.AddObject.OnClick = [this] { AddObjectClick(); };
  f.DelObject.OnClick = [this] { DelObjectClick(); };
  f.SetObjDefault.OnClick = [this] { SetObjDefaultClick(); };
}

Directory::~Directory() {
  TFormModel& f = app_.form;
  f.AbonentListBox.OnClick = nullptr;
  for (TEdit* e : {&f.AbonName, &f.AbonNumber}) e->OnChange = nullptr;
  for (TSpinEdit* s : {&f.ClientAnswerWaitTime, &f.ClientRecallTime, &f.ClientRecallPeriod})
    s->OnChange = nullptr;
  f.ConnectType.OnChange = nullptr;
  f.AddAbonent.OnClick = f.DelAbonent.OnClick = f.SetAbonDefault.OnClick = nullptr;
  f.ObjectListBox.OnClick = nullptr;
  for (TEdit* e : {&f.ObjectName, &f.ObjectAddress, &f.ObjectTelephone, &f.ObjectOwnerTelephones,
                   &f.ObjectAddInfo, &f.ObjectIPAddress})
    e->OnChange = nullptr;
  for (TSpinEdit* s : {&f.ObjID, &f.ServerAnswerWaitTime, &f.ServerRecallTime,
                       &f.ServerRecallPeriod, &f.ServerTestCallPeriod, &f.ObjCamerasAmount})
    s->OnChange = nullptr;
  f.ServerTesting.OnChange = nullptr;
  f.AddObject.OnClick = f.DelObject.OnClick = f.SetObjDefault.OnClick = nullptr;
  if (waveFile_) waveFile_->OnChange = nullptr;
}

void Directory::BindWaveFile(TFileNameEdit* edit) {
  if (waveFile_) waveFile_->OnChange = nullptr;
  waveFile_ = edit;
  if (waveFile_) waveFile_->OnChange = [this] { AbonNameChange(waveFile_); };
}

void Directory::Refuse(const std::string& text) {
  app_.services().dialogs.MessageBox(text, "Zorvenix", MsgButtons::Ok, MsgIcon::Warning);
}

// ---------------------------------------------------------------- Abonents

void Directory::ShowAbonent(int n) {
  const TAbonentRecord& a = app_.settings.Abonents[static_cast<std::size_t>(n)];
  TFormModel& f = app_.form;
  Filling guard(AbonentsFilling);
  f.AbonName.SetText(a.Name);
  f.AbonNumber.SetText(a.PhoneNumber);
  f.ClientAnswerWaitTime.SetValue(a.WaitAnswerTimeout);
  f.ClientRecallTime.SetValue(a.RecallTime);
  f.ClientRecallPeriod.SetValue(a.RecallDelay);
  f.ConnectType.SetItemIndex(a.ConnectToServerMode ? 1 : 0);
  if (waveFile_) waveFile_->SetFileName(a.VoiceFile);
}

void Directory::AbonentListBoxClick() {
  const TCheckListBox& list = app_.form.AbonentListBox;
  const int p = list.ItemIndex();
  ShowAbonent(p >= 0 && p < list.Count() && p < kMaxAbonents ? p + 1 : 0);
}

void Directory::AbonNameChange(const TControl* sender) {
  if (!app_.settings.SettingsLoaded || AbonentsFilling) return;
  TFormModel& f = app_.form;
  const int p = f.AbonentListBox.ItemIndex();
  if (p < 0 || p >= f.AbonentListBox.Count() || p >= kMaxAbonents) return;
  TAbonentRecord& a = app_.settings.Abonents[static_cast<std::size_t>(p + 1)];
  a.Name = f.AbonName.Text();
  a.PhoneNumber = f.AbonNumber.Text();
  a.WaitAnswerTimeout = f.ClientAnswerWaitTime.Value();
  a.RecallTime = f.ClientRecallTime.Value();
  a.RecallDelay = f.ClientRecallPeriod.Value();
  a.ConnectToServerMode = f.ConnectType.ItemIndex() == 1;
  if (waveFile_) a.VoiceFile = waveFile_->FileName();
  if (sender == &f.AbonName) {
    f.AbonentListBox.SetText(p, a.Name);
    f.AbonName.FocusRequested();
  }
}

void Directory::AddAbonentClick() {
  TFormModel& f = app_.form;
  Settings& s = app_.settings;
  if (f.AbonentListBox.Count() >= kMaxAbonents) {
    Refuse("В списке автодозвона может быть не больше " + std::to_string(kMaxAbonents) +
           " абонентов !");
    return;
  }
  const int p = f.AbonentListBox.Add(kNewAbonent);
  s.AbonentsCount = f.AbonentListBox.Count();
  f.AbonentListBox.SetItemIndex(p);
  const TAbonentRecord& t = s.Abonents[0];
  TAbonentRecord& a = s.Abonents[static_cast<std::size_t>(s.AbonentsCount)];
  a = TAbonentRecord{};  // no call state left from an entry deleted before
  a.Name = kNewAbonent;
  a.PhoneNumber.clear();
  a.WaitAnswerTimeout = t.WaitAnswerTimeout;
  a.RecallTime = t.RecallTime;
  a.RecallDelay = t.RecallDelay;
  a.ConnectToServerMode = t.ConnectToServerMode;
  a.VoiceFile = t.VoiceFile;
  ShowAbonent(s.AbonentsCount);
  f.AbonName.FocusRequested();
}

void Directory::DelAbonentClick() {
  TFormModel& f = app_.form;
  Settings& s = app_.settings;
  TCheckListBox& list = f.AbonentListBox;
  const int p = list.ItemIndex();
  if (list.Count() == 0 || p < 0 || p >= list.Count()) return;
  const int count = list.Count();
  for (int k = p + 1; k < count && k < kMaxAbonents; ++k)
    s.Abonents[static_cast<std::size_t>(k)] = s.Abonents[static_cast<std::size_t>(k + 1)];
  if (count <= kMaxAbonents) s.Abonents[static_cast<std::size_t>(count)] = TAbonentRecord{};
  list.Delete(p);
  s.AbonentsCount = list.Count();
  if (list.Count() == 0) {
    list.SetItemIndex(-1);
    ShowAbonent(0);
    return;
  }
  list.SetItemIndex(std::max(0, p - 1));
  AbonentListBoxClick();
}

void Directory::SetAbonDefaultClick() {
  const TCheckListBox& list = app_.form.AbonentListBox;
  const int p = list.ItemIndex();
  if (p < 0 || p >= list.Count() || p >= kMaxAbonents) return;
  Settings& s = app_.settings;
  const TAbonentRecord& a = s.Abonents[static_cast<std::size_t>(p + 1)];
  TAbonentRecord& t = s.Abonents[0];
  t.Name = a.Name;
  t.PhoneNumber = a.PhoneNumber;
  t.ConnectToServerMode = a.ConnectToServerMode;
  t.WaitAnswerTimeout = a.WaitAnswerTimeout;
  t.RecallTime = a.RecallTime;
  t.RecallDelay = a.RecallDelay;
  t.VoiceFile = a.VoiceFile;
  s.SaveFormProperties();
}

// ----------------------------------------------------------------- Objects

void Directory::SetSpin(TSpinEdit& spin, int value) {
  Filling guard(ObjectsFilling);
  spin.SetValue(value);
}

void Directory::ShowObject(int n) {
  const TObjectRecord& o = app_.settings.Objects[static_cast<std::size_t>(n)];
  TFormModel& f = app_.form;
  Filling guard(ObjectsFilling);
  f.ObjectName.SetText(o.Name);
  f.ObjectAddress.SetText(o.Address);
  f.ObjectTelephone.SetText(o.PhoneNumber);
  f.ObjectOwnerTelephones.SetText(o.AddPhoneNumber);
  f.ObjectAddInfo.SetText(o.AddInfo);
  f.ObjectIPAddress.SetText(o.IPAddress);
  f.ObjID.SetValue(o.ID);
  f.ServerAnswerWaitTime.SetValue(o.WaitAnswerTimeout);
  f.ServerRecallTime.SetValue(o.RecallTime);
  f.ServerRecallPeriod.SetValue(o.RecallDelay);
  f.ServerTestCallPeriod.SetValue(o.TestCallPeriod);
  f.ServerTesting.SetItemIndex(o.CallToObjMode ? 1 : 0);
  f.ObjCamerasAmount.SetValue(o.Cams);
}

void Directory::ObjectListBoxClick() {
  const TCheckListBox& list = app_.form.ObjectListBox;
  const int p = list.ItemIndex();
  ShowObject(p >= 0 && p < list.Count() && p < kMaxObjects ? p + 1 : 0);
}

bool Directory::AcceptObjectId(int n) {
  const TObjectRecord& o = app_.settings.Objects[static_cast<std::size_t>(n)];
  const int id = app_.form.ObjID.Value();
  std::string why;
  if (id < kMinObjectId || id > kMaxObjectId) {
    why = "ID объекта должен быть от " + std::to_string(kMinObjectId) + " до " +
          std::to_string(kMaxObjectId) + " !";
  } else if (const int other = FindObjectById(app_.settings, id); other != 0 && other != n) {
    why = "ID " + std::to_string(id) + " уже есть у объекта \"" +
          app_.settings.Objects[static_cast<std::size_t>(other)].Name + "\" !";
  }
  if (why.empty()) return true;
  SetSpin(app_.form.ObjID, o.ID);
  Refuse(why);
  return false;
}

void Directory::ObjectOwnerTelephonesChange(const TControl* sender) {
  if (!app_.settings.SettingsLoaded || ObjectsFilling) return;
  TFormModel& f = app_.form;
  const int p = f.ObjectListBox.ItemIndex();
  if (p < 0 || p >= f.ObjectListBox.Count() || p >= kMaxObjects) return;
  const int n = p + 1;
  TObjectRecord& o = app_.settings.Objects[static_cast<std::size_t>(n)];
  if (f.ObjID.Value() != o.ID && !AcceptObjectId(n)) return;
  o.Name = f.ObjectName.Text();
  o.Address = f.ObjectAddress.Text();
  o.PhoneNumber = f.ObjectTelephone.Text();
  o.AddPhoneNumber = f.ObjectOwnerTelephones.Text();
  o.AddInfo = f.ObjectAddInfo.Text();
  o.IPAddress = f.ObjectIPAddress.Text();
  o.ID = f.ObjID.Value();
  o.WaitAnswerTimeout = f.ServerAnswerWaitTime.Value();
  o.RecallTime = f.ServerRecallTime.Value();
  o.RecallDelay = f.ServerRecallPeriod.Value();
  o.TestCallPeriod = f.ServerTestCallPeriod.Value();
  o.CallToObjMode = f.ServerTesting.ItemIndex() == 1;
  // The Object's cameras carry its ID (frame colour, status of their pictures).
  for (int i = 1; i <= o.Cams && i <= kMaxCamsPerObject; ++i)
    if (TCameraInfo* cam = o.Cameras[static_cast<std::size_t>(i)]) cam->ObjID = o.ID;

  AdjustCameras(n);

  if (sender == &f.ObjectName) {
    f.ObjectListBox.SetText(p, o.Name);
    f.ObjViewListBox.SetText(p, o.Name);
    for (int i = 1; i <= o.Cams && i <= kMaxCamsPerObject; ++i)
      if (TCameraInfo* cam = o.Cameras[static_cast<std::size_t>(i)]) {
        cam->ObjName = o.Name;
        cam->Hint = cam->Description + "\r\n" + o.Name;
      }
  }
}

void Directory::AdjustCameras(int n) {
  const TObjectRecord& o = app_.settings.Objects[static_cast<std::size_t>(n)];
  const int want = app_.form.ObjCamerasAmount.Value();
  if (want > o.Cams)
    AddCameras(n, want);
  else if (want < o.Cams)
    RemoveCameras(n, want);
}

int Directory::NextCameraNumber(int n) const {
  int last = 0;
  for (int j = 1; j <= n; ++j) {
    const TObjectRecord& o = app_.settings.Objects[static_cast<std::size_t>(j)];
    for (int i = 1; i <= o.Cams && i <= kMaxCamsPerObject; ++i)
      if (const TCameraInfo* cam = o.Cameras[static_cast<std::size_t>(i)])
        last = std::max(last, cam->Number);
  }
  return last + 1;
}

void Directory::RenumberObjects() {
  Settings& s = app_.settings;
  for (int j = 1; j <= s.ObjectsCount && j <= kMaxObjects; ++j) {
    TObjectRecord& o = s.Objects[static_cast<std::size_t>(j)];
    o.FirstCamera = o.Cams >= 1 && o.Cameras[1] ? o.Cameras[1]->Number : 0;
  }
}

void Directory::AddCameras(int n, int want) {
  TObjectRecord& o = app_.settings.Objects[static_cast<std::size_t>(n)];
  CameraTable& table = app_.cameras;
  const int needed = want - o.Cams;
  const int free = CameraTable::kMaxCameras - table.CameraCount();
  if (needed > free) {
    SetSpin(app_.form.ObjCamerasAmount, o.Cams);
    Refuse("Видеокамер может быть не больше " + std::to_string(CameraTable::kMaxCameras) +
           " на все объекты: можно добавить ещё " + std::to_string(free) + " !");
    return;
  }
  for (int added = 0; added < needed && o.Cams < kMaxCamsPerObject; ++added) {
    try {
      // The number after this Object's cameras is free in the table; a
      // section left there by a camera that is gone is not this camera's.
      app_.settings.Ini().EraseSection("Camera" + std::to_string(table.CameraCount() + 1));
      TCameraInfo& cam = table.CreateAt(NextCameraNumber(n));
      const int i = o.Cams + 1;
      o.Cams = i;
      o.Cameras[static_cast<std::size_t>(i)] = &cam;
      o.CamVisible[static_cast<std::size_t>(i)] = false;
      cam.SetVisible(false);
      cam.ObjID = o.ID;
      cam.ObjName = o.Name;
      cam.CamIndex = i;
      cam.Description = kNewCamera;
      cam.Hint = cam.Description + "\r\n" + o.Name;
      app_.form.CamViewListBox.Add(cam.Description, false, &cam);
    } catch (const std::exception& e) {
      app_.journal.ReportError(e.what(), jcObjectCameras, 1);
    }
    RenumberObjects();
  }
  if (app_.form.ObjCamerasAmount.Value() != o.Cams) SetSpin(app_.form.ObjCamerasAmount, o.Cams);
  app_.video->ViewPanelResize();
}

void Directory::DropCamera(TCameraInfo* cam) {
  if (!cam) return;
  TCheckListBox& list = app_.form.CamViewListBox;
  for (int item = list.IndexOfObject(cam); item >= 0; item = list.IndexOfObject(cam)) {
    const int sel = list.ItemIndex();
    list.Delete(item);
    if (sel >= item) list.SetItemIndex(list.Count() == 0 ? -1 : std::max(0, sel - 1));
  }
  // Its number passes to the camera after it: the section is that camera's now.
  if (auto* c = dynamic_cast<TCamera*>(cam)) c->SaveOnDestroy = false;
  app_.cameras.Remove(cam->Number);
}

void Directory::RemoveCameras(int n, int want) {
  TObjectRecord& o = app_.settings.Objects[static_cast<std::size_t>(n)];
  if (want < 0) want = 0;
  while (o.Cams > want) {
    const std::size_t i = static_cast<std::size_t>(std::min(o.Cams, kMaxCamsPerObject));
    TCameraInfo* cam = o.Cameras[i];
    o.Cameras[i] = nullptr;
    --o.Cams;
    try {
      DropCamera(cam);
    } catch (const std::exception& e) {
      app_.journal.ReportError(e.what(), jcObjectCameras, 1);
    }
  }
  RenumberObjects();
  app_.video->ViewPanelResize();
}

int Directory::FreeObjectId(int n) const {
  if (n >= kMinObjectId && n <= kMaxObjectId && FindObjectById(app_.settings, n) == 0) return n;
  for (int id = kMinObjectId; id <= kMaxObjectId; ++id)
    if (FindObjectById(app_.settings, id) == 0) return id;
  return n;
}

void Directory::AddObjectClick() {
  TFormModel& f = app_.form;
  Settings& s = app_.settings;
  if (f.ObjectListBox.Count() >= kMaxObjects) {
    Refuse("В справочнике может быть не больше " + std::to_string(kMaxObjects) + " объектов !");
    return;
  }
  const int n = s.ObjectsCount + 1;
  TObjectRecord& o = s.Objects[static_cast<std::size_t>(n)];
  o = TObjectRecord{};  // nothing left from an Object deleted before
  const int p = f.ObjectListBox.Add(kNewObject, false);
  f.ObjViewListBox.Add(kNewObject, false);
  s.ObjectsCount = f.ObjectListBox.Count();
  f.ObjectListBox.SetItemIndex(p);
  const TObjectRecord& t = s.Objects[0];
  o.Name = kNewObject;
  o.ID = FreeObjectId(s.ObjectsCount);
  o.WaitAnswerTimeout = t.WaitAnswerTimeout;
  o.TestCallPeriod = t.TestCallPeriod;
  o.RecallTime = t.RecallTime;
  o.RecallDelay = t.RecallDelay;
  o.CallToObjMode = t.CallToObjMode;
  o.Cams = 0;
  o.Checked = false;
  o.Cameras.fill(nullptr);
  o.CamVisible.fill(true);
  for (int i = 1; i <= 8; ++i) o.Gauges[static_cast<std::size_t>(i)] = DefaultGaugeName(i);
  ShowObject(s.ObjectsCount);
  f.ObjectName.FocusRequested();
}

void Directory::DelObjectClick() {
  TFormModel& f = app_.form;
  Settings& s = app_.settings;
  TCheckListBox& list = f.ObjectListBox;
  const int p = list.ItemIndex();
  if (list.Count() == 0 || p < 0 || p >= list.Count() || p >= kMaxObjects) return;
  const int n = p + 1;
  TObjectRecord& o = s.Objects[static_cast<std::size_t>(n)];
  // 1. The Object's cameras leave the table, the camera list and the views.
  RemoveCameras(n, 0);
  o.FirstCamera = 0;
  // 2. The records after it move down; the last slot is emptied, so no
  // record refers to a camera twice.
  const int count = std::min(s.ObjectsCount, kMaxObjects);
  for (int k = n; k < count; ++k)
    s.Objects[static_cast<std::size_t>(k)] = s.Objects[static_cast<std::size_t>(k + 1)];
  if (count >= n) s.Objects[static_cast<std::size_t>(count)] = TObjectRecord{};
  // 3. The list entries.
  f.ObjViewListBox.Delete(p);
  list.Delete(p);
  s.ObjectsCount = list.Count();
  RenumberObjects();
  ObjectDeleted(n);
  // 4. The selection.
  if (list.Count() == 0) {
    list.SetItemIndex(-1);
    f.ObjViewListBox.SetItemIndex(-1);
    ShowObject(0);
    return;
  }
  list.SetItemIndex(std::max(0, p - 1));
  ObjectListBoxClick();
  f.ObjViewListBox.UserSelect(0);
}

void Directory::SetObjDefaultClick() {
  const TCheckListBox& list = app_.form.ObjectListBox;
  const int p = list.ItemIndex();
  if (p < 0 || p >= list.Count() || p >= kMaxObjects) return;
  Settings& s = app_.settings;
  const TObjectRecord& o = s.Objects[static_cast<std::size_t>(p + 1)];
  TObjectRecord& t = s.Objects[0];
  t.Name = o.Name;
  t.PhoneNumber = o.PhoneNumber;
  t.Address = o.Address;
  t.AddPhoneNumber = o.AddPhoneNumber;
  t.AddInfo = o.AddInfo;
  t.IPAddress = o.IPAddress;
  t.ID = o.ID;
  t.Checked = o.Checked;
  t.TestCallPeriod = o.TestCallPeriod;
  t.WaitAnswerTimeout = o.WaitAnswerTimeout;
  t.RecallTime = o.RecallTime;
  t.RecallDelay = o.RecallDelay;
  t.Cams = o.Cams;
  s.SaveFormProperties();
}

}  // namespace zv
