#pragma once
// The main window's controls as plain state, grouped by page.  The window's
// handlers live on the subsystem objects that own them; this is only data.
// The stored properties (the [MainForm] section) are listed by
// StoredProperties(), keyed "<Control>.<Property>".
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Controls.h"

namespace zv {

struct StoredProperty {
  std::string key;
  std::function<std::string()> get;
  std::function<void(const std::string&)> set;
};

struct TFormModel {
  TFormModel();
  TFormModel(const TFormModel&) = delete;
  TFormModel& operator=(const TFormModel&) = delete;

  // --- window frame
  std::string Caption = "Zorvenix";
  int Width = 799, Height = 594;
  // Window placement as stored: state and normal position.
  int WindowState = 0;  // 0 normal, 1 minimised, 2 maximised
  int NormLeft = -1, NormTop = -1, NormWidth = 799, NormHeight = 594;

  TTabSheet TabSheet1{"TabSheet1", "Запись", 145};
  TTabSheet TabSheet2{"TabSheet2", "Просмотр", 177};
  TTabSheet TabSheet3{"TabSheet3", "Видео", 94};
  TTabSheet TabSheet4{"TabSheet4", "Дозвон", 232};
  TTabSheet TabSheet5{"TabSheet5", "Датчики", 166};
  TTabSheet TabSheet7{"TabSheet7", "Объекты", 223};
  TTabSheet TabSheet6{"TabSheet6", "Журнал", 305};
  // In the order the tabs stand.
  std::array<TTabSheet*, 7> Pages() {
    return {&TabSheet1, &TabSheet2, &TabSheet3, &TabSheet4, &TabSheet5, &TabSheet7, &TabSheet6};
  }

  TControl ViewPanel{"ViewPanel"};
  TControl LiveVideoPanel{"LiveVideoPanel"};
  TControl Video{"Video"};
  TControl SoundPanel{"SoundPanel"};
  TControl ObjViewPanel{"ObjViewPanel"};
  TButton ViewCamsExpand{"ViewCamsExpand"};
  TButton SwitchModeBtn{"SwitchModeBtn"};
  TButton Button1{"Button1"};
  TButton AdjustMinimizeBtn{"AdjustMinimizeBtn"};
  TControl PageControl1{"PageControl1"};  // hidden while the site is armed

  // --- menu
  TMenuItem AutoStartRecord{"AutoStartRecord"};
  TMenuItem AutoStartDefence{"AutoStartDefence"};

  // --- "Запись"
  TFileNameEdit RecFileName{"RecFileName", "RecFileName"};
  TButton RecordBtn{"RecordBtn"};
  TSpinEdit VolumeLimit{"VolumeLimit", 100, 0, 0};
  TRadioGroup VolumeLimitType{
      "VolumeLimitType",
      {"Остановить запись", "Писать в следующий файл", "Зациклить (писать в начало файла)"},
      2};
  TSpinEdit ObjNum{"ObjNum", 1, 1, 255};
  TFloatSpinEdit RecFreq{"RecFreq", 100.0, 0.001, 1000.0, 1.0, 3};
  TFloatSpinEdit ChangeLimit{"ChangeLimit", 0.02, 0.0, 100.0, 0.05, 2};
  TRadioGroup RecordingOn{"RecordingOn", {"Постоянно", "По изменению картинки свыше"}, 1};
  TCheckBox RecordSound{"RecordSound"};
  TCheckBox Compression{"Compression"};
  TSpinEdit JPEGQuality{"JPEGQuality", 60, 1, 100};
  TSpinEdit WriteCam{"WriteCam", 1, 1, 8};
  TFloatSpinEdit EventLimit{"EventLimit", 1.2, 0.0, 100.0, 0.05, 2};
  TCheckBox ReactionOn{"ReactionOn"};
  TCheckBox ViewDiffCadr{"ViewDiffCadr"};
  TLabel FrameSizeLabel{"FrameSizeLabel"};

  // --- "Просмотр"
  TFileNameEdit ViewFileName{"ViewFileName", "ViewFileName"};
  TFloatSpinEdit ViewFreq{"ViewFreq", 20.0, 0.001, 50.0, 1.0, 3};
  TCheckBox AllCams{"AllCams"};
  TCheckListBox CamViewListBox{"CamViewListBox"};
  TCheckListBox ObjViewListBox{"ObjViewListBox"};
  // The slider's range is 1..maximum; the viewer keeps it.
  TSpinEdit ViewSlider{"ViewSlider", 1, 1, 1};
  TLabel MaxValueLabel{"MaxValueLabel"};
  TButton BackwardButton{"BackwardButton"}, PrevCadr{"PrevCadr"}, NextCadr{"NextCadr"},
      ForwardButton{"ForwardButton"};
  TSpinEdit SoundSlider{"SoundSlider", 0, 0, 100};
  TButton PlaySound{"PlaySound"}, StopSound{"StopSound"};

  // --- "Видео"
  TCheckBox UseSwitcher{"UseSwitcher"};
  TSpinEdit SwitcherComPort{"SwitcherComPort", 1, 1, 8};
  TSpinEdit CamerasAmount{"CamerasAmount", 1, 1, 8};
  TSpinEdit SwitchDelay{"SwitchDelay", 400, 0, 10000};
  TSpinEdit VideoDriver{"VideoDriver", 0, 0, 8};
  TSpinEdit FilterDeep{"FilterDeep", 32, 0, 0};  // no limits: the handler checks 0..255
  TCheckBox LiveVideo{"LiveVideo"};
  TButton VideoFormatBtn{"VideoFormatBtn"};
  TButton VideoSourceBtn{"VideoSourceBtn"};
  TButton DisplayFormatBtn{"DisplayFormatBtn"};
  // The emulated camera: synthetic scenes, or pictures played from a file.
  TCheckBox VideoEmulation{"VideoEmulation"};
  TFileNameEdit VideoEmulationFile{"VideoEmulationFile"};

  // --- "Дозвон"
  TCheckListBox AbonentListBox{"AbonentListBox"};
  TRadioGroup ConnectType{
      "ConnectType", {"Голосовое сообщение :", "Связь с сервером Zorvenix (передача картинки)"}, 1};
  TSpinEdit ClientComPort{"ClientComPort", 2, 1, 8};
  TRadioGroup ClientCommType{
      "ClientCommType",
      {"Модем", "Прямое соединение (COM-порт)", "Сеть (IP-соединение), адреса серверов :"},
      0};
  TComboBox ClientModemType{
      "ClientModemType", {"Rockwell", "Motorola", "Cirrus Logic", "US Robotics"}, 1};
  TRadioGroup DialType{"DialType", {"Импульсный", "Тоновый"}, 0};
  TEdit ServerAddresses{"ServerAddresses", "192.168.0.1, zorvenix-server"};
  // The site's link key (64 hex digits; empty: no key), a new one, a copy.
  TEdit LinkKey{"LinkKey"};
  TButton NewLinkKey{"NewLinkKey"}, CopyLinkKey{"CopyLinkKey"};
  // The selected Abonent's fields.
  TEdit AbonName{"AbonName"};
  TEdit AbonNumber{"AbonNumber"};
  TSpinEdit ClientAnswerWaitTime{"ClientAnswerWaitTime", 15, 0, 0};  // seconds
  TSpinEdit ClientRecallTime{"ClientRecallTime", 3, 0, 0};           // minutes
  TSpinEdit ClientRecallPeriod{"ClientRecallPeriod", 30, 0, 0};      // seconds, step 10
  TButton AddAbonent{"AddAbonent"}, DelAbonent{"DelAbonent"}, SetAbonDefault{"SetAbonDefault"};

  // --- "Датчики"
  TCheckBox UseGaugesOnCom{"UseGaugesOnCom"};
  TCheckBox UseGaugesOnLpt{"UseGaugesOnLpt"};
  TSpinEdit EventComPort{"EventComPort", 2, 1, 8};
  TSpinEdit EventLPTPort{"EventLPTPort", 1, 1, 3};
  TCheckBox CD{"CD"}, CTS{"CTS"}, DSR{"DSR"};
  TCheckBox NotError{"NotError"}, NotAck{"NotAck"}, PaperOut{"PaperOut"}, SelectIn{"SelectIn"},
      Busy{"Busy"};
  std::array<std::unique_ptr<TEdit>, 8> GaugeNames;  // Edit1 .. Edit8
  TEdit& Edit(int i) { return *GaugeNames.at(static_cast<std::size_t>(i - 1)); }
  TSpinEdit DefenceOffDelay{"DefenceOffDelay", 10, 0, 0};
  TSpinEdit DefenceOnDelay{"DefenceOnDelay", 10, 0, 0};
  TEdit DefenceOffDTMF{"DefenceOffDTMF", "7295"};
  TEdit DefenceOnDTMF{"DefenceOnDTMF", "6592"};
  // The camera group: shown, not stored, without function.
  TCheckBox EventCamOn{"EventCamOn"};
  TFloatSpinEdit EventCamChanges{"EventCamChanges", 3.0, 0.0, 100.0, 1.0, 1};
  TSpinEdit EventCam{"EventCam", 1, 1, 8};

  // --- "Объекты"
  TCheckListBox ObjectListBox{"ObjectListBox"};
  TSpinEdit ServerComPort{"ServerComPort", 2, 1, 8};
  TRadioGroup ServerCommType{
      "ServerCommType", {"Модем", "Прямое соединение (COM-порт)", "Сеть (IP-соединение)"}, 1};
  TComboBox ServerModemType{
      "ServerModemType", {"Rockwell", "Motorola", "Cirrus Logic", "US Robotics"}, 1};
  TEdit BeepStr{"BeepStr", "n200;d200;p200;d200"};
  // The selected Object's fields.
  TEdit ObjectName{"ObjectName"};
  TEdit ObjectAddress{"ObjectAddress"};
  TEdit ObjectTelephone{"ObjectTelephone"};
  TEdit ObjectOwnerTelephones{"ObjectOwnerTelephones"};
  TEdit ObjectAddInfo{"ObjectAddInfo"};
  TEdit ObjectIPAddress{"ObjectIPAddress"};
  TEdit ObjectLinkKey{"ObjectLinkKey"};
  TSpinEdit ObjID{"ObjID", 1, 0, 0};
  TSpinEdit ServerAnswerWaitTime{"ServerAnswerWaitTime", 15, 0, 0};  // seconds
  TSpinEdit ServerRecallTime{"ServerRecallTime", 3, 0, 0};           // minutes
  TSpinEdit ServerRecallPeriod{"ServerRecallPeriod", 30, 0, 0};      // seconds, step 10
  TSpinEdit ServerTestCallPeriod{"ServerTestCallPeriod", 30, 0, 0};  // minutes
  TRadioGroup ServerTesting{"ServerTesting", {"Ждать звонка с объекта", "Звонить на объект"}, 0};
  TSpinEdit ObjCamerasAmount{"ObjCamerasAmount", 0, 0, 8};
  TButton AddObject{"AddObject"}, DelObject{"DelObject"}, SetObjDefault{"SetObjDefault"};

  // The stored control properties, in their stored order.
  const std::vector<StoredProperty>& StoredProperties() const { return stored_; }

 private:
  void RegisterStored();
  std::vector<StoredProperty> stored_;
};

}  // namespace zv
