#pragma once
// The two list editors: the station's directory of Objects (page "Объекты")
// and the site's call list of Abonents (page "Дозвон").  The records and
// their stored form belong to the settings; this is the editing: showing the
// selected entry, storing edits as they are made, adding, deleting and making
// the template for new entries.  An Object's camera count creates and
// removes its station cameras.
//
// Object IDs are unique: the station finds an Object by its ID wherever it
// stands in the list (FindObjectById).  Camera numbers follow the Objects'
// order, the order in which the settings create the cameras at start-up, so
// every camera keeps its [Camera<k>] section through a save and a load.
#include <functional>
#include <string>

#include "app/Cameras.h"
#include "app/Controls.h"
#include "app/FormModel.h"
#include "app/Journal.h"
#include "app/Records.h"
#include "app/Settings.h"
#include "directory/DirectoryRules.h"
#include "platform/Dialogs.h"
#include "platform/Signal.h"

namespace zv {

class Directory {
 public:
  static constexpr const char* kNewAbonent = "Новый абонент";
  static constexpr const char* kNewObject = "Новый объект";
  static constexpr const char* kNewCamera = "Новая видеокамера";

  Directory(IDialogs& dialogs, Journal& journal, TFormModel& form, Settings& settings,
            CameraTable& cameras);
  ~Directory();
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;

  // --- Abonents
  void AbonentListBoxClick();
  // A control of the selected Abonent changed (sender: that control).
  void AbonNameChange(const TControl* sender);
  void AddAbonentClick();
  void DelAbonentClick();
  void SetAbonDefaultClick();

  // --- Objects
  void ObjectListBoxClick();
  // A control of the selected Object changed (sender: that control).
  void ObjectOwnerTelephonesChange(const TControl* sender);
  void AddObjectClick();
  void DelObjectClick();
  void SetObjDefaultClick();

  // The voice-file edit of the "Дозвон" page belongs to the alarm dispatch;
  // bound here it shows and stores the selected Abonent's VoiceFile.
  void BindWaveFile(TFileNameEdit* edit);

  // Object record n was deleted; the records after it moved down by one.
  // Whoever keeps state per record number moves it along.
  Signal<int> ObjectDeleted;
  // Cameras were added to or taken from the table: the views are laid out
  // again.
  Signal<> CamerasChanged;

  // True while a page's controls are filled from a record.
  bool AbonentsFilling = false;
  bool ObjectsFilling = false;

 private:
  void ShowAbonent(int n);
  void ShowObject(int n);
  // Refuses an operator's input with a message box.
  void Refuse(const std::string& text);
  // The ObjID edit of Object n: false (and the old value shown again) when
  // refused.
  bool AcceptObjectId(int n);
  // Brings the Object's camera count to ObjCamerasAmount.
  void AdjustCameras(int n);
  void AddCameras(int n, int want);
  void RemoveCameras(int n, int want);
  // Takes one camera out of the table, the camera list and the viewer.
  void DropCamera(TCameraInfo* cam);
  void SetSpin(TSpinEdit& spin, int value);  // without storing back

  IDialogs& dialogs_;
  Journal& journal_;
  TFormModel& form_;
  Settings& settings_;
  CameraTable& cameras_;
  TFileNameEdit* waveFile_ = nullptr;
};

}  // namespace zv
