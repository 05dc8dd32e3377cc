#include "directory/Directory.h"

#include <algorithm>
#include <exception>

#include "app/Cameras.h"

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

}  // namespace

Directory::Directory(IDialogs& dialogs, Journal& journal, TFormModel& form, Settings& settings,
                     CameraTable& cameras)
    : dialogs_(dialogs), journal_(journal), form_(form), settings_(settings), cameras_(cameras) {
  TFormModel& f = form_;
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
  TFormModel& f = form_;
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
  dialogs_.MessageBox(text, "Zorvenix", MsgButtons::Ok, MsgIcon::Warning);
}

// ---------------------------------------------------------------- Abonents

void Directory::ShowAbonent(int n) {
  const TAbonentRecord& a = settings_.Abonents[static_cast<std::size_t>(n)];
  TFormModel& f = form_;
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
  const TCheckListBox& list = form_.AbonentListBox;
  const int p = list.ItemIndex();
  ShowAbonent(p >= 0 && p < list.Count() && p < kMaxAbonents ? p + 1 : 0);
}

void Directory::AbonNameChange(const TControl* sender) {
  if (!settings_.SettingsLoaded || AbonentsFilling) return;
  TFormModel& f = form_;
  const int p = f.AbonentListBox.ItemIndex();
  if (p < 0 || p >= f.AbonentListBox.Count() || p >= kMaxAbonents) return;
  TAbonentRecord& a = settings_.Abonents[static_cast<std::size_t>(p + 1)];
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
  TFormModel& f = form_;
  Settings& s = settings_;
  if (f.AbonentListBox.Count() >= kMaxAbonents) {
    Refuse("В списке автодозвона может быть не больше " + std::to_string(kMaxAbonents) +
           " абонентов !");
    return;
  }
  const int p = f.AbonentListBox.Add(kNewAbonent);
  s.AbonentsCount = f.AbonentListBox.Count();
  f.AbonentListBox.SetItemIndex(p);
  NewAbonentRecord(s, s.AbonentsCount, kNewAbonent);
  ShowAbonent(s.AbonentsCount);
  f.AbonName.FocusRequested();
}

void Directory::DelAbonentClick() {
  TFormModel& f = form_;
  Settings& s = settings_;
  TCheckListBox& list = f.AbonentListBox;
  const int p = list.ItemIndex();
  if (list.Count() == 0 || p < 0 || p >= list.Count()) return;
  RemoveAbonentRecord(s, p + 1, list.Count());
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
  const TCheckListBox& list = form_.AbonentListBox;
  const int p = list.ItemIndex();
  if (p < 0 || p >= list.Count() || p >= kMaxAbonents) return;
  AbonentRecordToTemplate(settings_, p + 1);
  settings_.SaveFormProperties();
}

// ----------------------------------------------------------------- Objects

void Directory::SetSpin(TSpinEdit& spin, int value) {
  Filling guard(ObjectsFilling);
  spin.SetValue(value);
}

void Directory::ShowObject(int n) {
  const TObjectRecord& o = settings_.Objects[static_cast<std::size_t>(n)];
  TFormModel& f = form_;
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
  const TCheckListBox& list = form_.ObjectListBox;
  const int p = list.ItemIndex();
  ShowObject(p >= 0 && p < list.Count() && p < kMaxObjects ? p + 1 : 0);
}

bool Directory::AcceptObjectId(int n) {
  const TObjectRecord& o = settings_.Objects[static_cast<std::size_t>(n)];
  const std::string why = ObjectIdRefusal(settings_, n, form_.ObjID.Value());
  if (why.empty()) return true;
  SetSpin(form_.ObjID, o.ID);
  Refuse(why);
  return false;
}

void Directory::ObjectOwnerTelephonesChange(const TControl* sender) {
  if (!settings_.SettingsLoaded || ObjectsFilling) return;
  TFormModel& f = form_;
  const int p = f.ObjectListBox.ItemIndex();
  if (p < 0 || p >= f.ObjectListBox.Count() || p >= kMaxObjects) return;
  const int n = p + 1;
  TObjectRecord& o = settings_.Objects[static_cast<std::size_t>(n)];
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
  const TObjectRecord& o = settings_.Objects[static_cast<std::size_t>(n)];
  const int want = form_.ObjCamerasAmount.Value();
  if (want > o.Cams)
    AddCameras(n, want);
  else if (want < o.Cams)
    RemoveCameras(n, want);
}

void Directory::AddCameras(int n, int want) {
  TObjectRecord& o = settings_.Objects[static_cast<std::size_t>(n)];
  CameraTable& table = cameras_;
  const int needed = want - o.Cams;
  const int free = CameraTable::kMaxCameras - table.CameraCount();
  if (needed > free) {
    SetSpin(form_.ObjCamerasAmount, o.Cams);
    Refuse("Видеокамер может быть не больше " + std::to_string(CameraTable::kMaxCameras) +
           " на все объекты: можно добавить ещё " + std::to_string(free) + " !");
    return;
  }
  for (int added = 0; added < needed && o.Cams < kMaxCamsPerObject; ++added) {
    try {
      // The number after this Object's cameras is free in the table; a
      // section left there by a camera that is gone is not this camera's.
      settings_.Ini().EraseSection("Camera" + std::to_string(table.CameraCount() + 1));
      TCameraInfo& cam = table.CreateAt(NextCameraNumber(settings_, n));
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
      form_.CamViewListBox.Add(cam.Description, false, &cam);
    } catch (const std::exception& e) {
      journal_.ReportError(e.what(), jcObjectCameras, 1);
    }
    RenumberObjects(settings_);
  }
  if (form_.ObjCamerasAmount.Value() != o.Cams) SetSpin(form_.ObjCamerasAmount, o.Cams);
  CamerasChanged();
}

void Directory::DropCamera(TCameraInfo* cam) {
  if (!cam) return;
  TCheckListBox& list = form_.CamViewListBox;
  for (int item = list.IndexOfObject(cam); item >= 0; item = list.IndexOfObject(cam)) {
    const int sel = list.ItemIndex();
    list.Delete(item);
    if (sel >= item) list.SetItemIndex(list.Count() == 0 ? -1 : std::max(0, sel - 1));
  }
  // Its number passes to the camera after it: the section is that camera's now.
  cam->SaveOnDestroy = false;
  cameras_.Remove(cam->Number);
}

void Directory::RemoveCameras(int n, int want) {
  TObjectRecord& o = settings_.Objects[static_cast<std::size_t>(n)];
  if (want < 0) want = 0;
  while (o.Cams > want) {
    const std::size_t i = static_cast<std::size_t>(std::min(o.Cams, kMaxCamsPerObject));
    TCameraInfo* cam = o.Cameras[i];
    o.Cameras[i] = nullptr;
    --o.Cams;
    try {
      DropCamera(cam);
    } catch (const std::exception& e) {
      journal_.ReportError(e.what(), jcObjectCameras, 1);
    }
  }
  RenumberObjects(settings_);
  CamerasChanged();
}

void Directory::AddObjectClick() {
  TFormModel& f = form_;
  Settings& s = settings_;
  if (f.ObjectListBox.Count() >= kMaxObjects) {
    Refuse("В справочнике может быть не больше " + std::to_string(kMaxObjects) + " объектов !");
    return;
  }
  const int n = s.ObjectsCount + 1;
  s.Objects[static_cast<std::size_t>(n)] = TObjectRecord{};
  const int p = f.ObjectListBox.Add(kNewObject, false);
  f.ObjViewListBox.Add(kNewObject, false);
  s.ObjectsCount = f.ObjectListBox.Count();
  f.ObjectListBox.SetItemIndex(p);
  NewObjectRecord(s, s.ObjectsCount, kNewObject);
  ShowObject(s.ObjectsCount);
  f.ObjectName.FocusRequested();
}

void Directory::DelObjectClick() {
  TFormModel& f = form_;
  Settings& s = settings_;
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
  RemoveObjectRecord(s, n, s.ObjectsCount);
  // 3. The list entries.
  f.ObjViewListBox.Delete(p);
  list.Delete(p);
  s.ObjectsCount = list.Count();
  RenumberObjects(settings_);
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
  const TCheckListBox& list = form_.ObjectListBox;
  const int p = list.ItemIndex();
  if (p < 0 || p >= list.Count() || p >= kMaxObjects) return;
  ObjectRecordToTemplate(settings_, p + 1);
  settings_.SaveFormProperties();
}

}  // namespace zv
