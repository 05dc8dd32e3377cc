#include "app/FormModel.h"

#include "app/IniFile.h"
#include "app/Text.h"

namespace zv {

namespace {

StoredProperty Checked(TCheckBox& c) {
  return {c.Name + ".Checked", [&c] { return std::string(c.Checked() ? "1" : "0"); },
          [&c](const std::string& v) { c.SetChecked(v == "1"); }};
}

StoredProperty Value(TSpinEdit& c) {
  return {c.Name + ".Value", [&c] { return std::to_string(c.Value()); },
          [&c](const std::string& v) {
            long long n;
            if (IniFile::ParseInteger(v, n) && n >= -2147483647LL && n <= 2147483647LL)
              c.SetValue(static_cast<int>(n));
          }};
}

StoredProperty FloatValue(TFloatSpinEdit& c) {
  return {c.Name + ".Value", [&c] { return FormatFloat(c.Value()); },
          [&c](const std::string& v) {
            double d;
            if (ParseFloat(v, d)) c.SetValue(d);
          }};
}

StoredProperty Index(TItemIndexControl& c) {
  return {c.Name + ".ItemIndex", [&c] { return std::to_string(c.ItemIndex()); },
          [&c](const std::string& v) {
            long long n;
            if (IniFile::ParseInteger(v, n) && n >= -1 && n < 1000)
              c.SetItemIndex(static_cast<int>(n));
          }};
}

StoredProperty Text(TEdit& c, const char* prop = "Text") {
  return {c.Name + "." + prop, [&c] { return c.Text(); },
          [&c](const std::string& v) { c.SetText(v); }};
}

}  // namespace

TFormModel::TFormModel() {
  static const char* kGaugeDefaults[8] = {"Двери",   "Окна",     "Балкон", "Большая комн.",
                                          "Спальня", "Прихожая", "Кухня",  "Сейф"};
  for (int i = 0; i < 8; ++i)
    GaugeNames[static_cast<std::size_t>(i)] =
        std::make_unique<TEdit>("Edit" + std::to_string(i + 1), kGaugeDefaults[i]);
  AutoStartRecord.SetCaption("Запуск видеозаписи при старте программы");
  AutoStartDefence.SetCaption("Постановка на охрану при старте программы");
  SwitchModeBtn.SetCaption("Поставить на охрану...");
  Button1.SetCaption("Send Frame...");
  RecordBtn.SetCaption("Запись");
  Button1.SetVisible(false);
  RecordSound.SetCaption("Запись звука при сработке");
  // A control starts as the page that shows it has it (docs/settings.md):
  // "Все камеры" and "Запись звука при сработке" are ticked.
  AllCams.SetChecked(true);
  RecordSound.SetChecked(true);
  LiveVideo.SetCaption("Живое видео");
  VideoFormatBtn.SetCaption("Формат видео...");
  VideoSourceBtn.SetCaption("Источник видео...");
  DisplayFormatBtn.SetCaption("Яркость/контрастность...");
  VideoEmulation.SetCaption("Эмулировать видео");
  AddAbonent.SetCaption("Добавить");
  DelAbonent.SetCaption("Удалить");
  SetAbonDefault.SetCaption("Принять по умолчанию");
  AddObject.SetCaption("Добавить");
  DelObject.SetCaption("Удалить");
  SetObjDefault.SetCaption("Принять по умолчанию");
  ObjectIPAddress.SetEnabled(false);
  NewLinkKey.SetCaption("Новый ключ");
  CopyLinkKey.SetCaption("Копировать");
  RegisterStored();
}

void TFormModel::RegisterStored() {
  stored_ = {
      Checked(UseSwitcher),            // 1
      Checked(UseGaugesOnCom),         // 2
      Checked(UseGaugesOnLpt),         // 3
      Index(ConnectType),              // 4
      Value(EventComPort),             // 5
      Value(EventLPTPort),             // 6
      Value(SwitcherComPort),          // 7
      Checked(CD),                     // 8
      Checked(CTS),                    // 9
      Checked(DSR),                    // 10
      Checked(NotError),               // 11
      Checked(NotAck),                 // 12
      Checked(PaperOut),               // 13
      Checked(SelectIn),               // 14
      Checked(Busy),                   // 15
      Text(RecFileName, "FileName"),   // 16
      Text(ViewFileName, "FileName"),  // 17
      Value(VolumeLimit),              // 18
      Index(VolumeLimitType),          // 19
      Value(ObjNum),                   // 20
      FloatValue(RecFreq),             // 21
      FloatValue(ViewFreq),            // 22
      FloatValue(ChangeLimit),         // 23
      Index(RecordingOn),              // 24
      Value(DefenceOffDelay),          // 25
      Value(DefenceOnDelay),           // 26
      Value(ClientComPort),            // 27
      Value(ServerComPort),            // 28
      Value(CamerasAmount),            // 29
  };
  for (int i = 1; i <= 8; ++i) stored_.push_back(Text(Edit(i)));  // 30-37
  stored_.push_back(Value(SwitchDelay));                          // 38
  stored_.push_back(Value(VideoDriver));                          // 39
  stored_.push_back(Value(FilterDeep));                           // 40
  stored_.push_back(Checked(AutoStartDefence));                   // 41
  stored_.push_back(Checked(AutoStartRecord));                    // 42
  stored_.push_back(Index(ClientCommType));                       // 43
  stored_.push_back(Index(ClientModemType));                      // 44
  stored_.push_back(Index(ServerCommType));                       // 45
  stored_.push_back(Index(ServerModemType));                      // 46
  stored_.push_back(Text(ServerAddresses));                       // 47
  stored_.push_back(Text(BeepStr));                               // 48
  stored_.push_back(Index(DialType));                             // 49
  stored_.push_back(Text(DefenceOffDTMF));                        // 50
  stored_.push_back(Text(DefenceOnDTMF));                         // 51
  stored_.push_back(Checked(RecordSound));                        // 52
  stored_.push_back(Checked(AllCams));                            // 53
  stored_.push_back(Checked(VideoEmulation));                     // 54
  stored_.push_back(Text(VideoEmulationFile, "FileName"));        // 55
  stored_.push_back(Text(LinkKey));                               // 56
}

}  // namespace zv
