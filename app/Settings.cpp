#include "app/Settings.h"

#include <filesystem>
#include <stdexcept>

#include "app/Text.h"

namespace zv {

namespace {

const char* kMain = "Main";
const char* kMainForm = "MainForm";

std::string DefaultList(const char* stem) {
  std::vector<std::string> items;
  for (int i = 1; i <= 8; ++i) items.push_back(std::string(stem) + std::to_string(i));
  const std::string joined = JoinQuotedList(items);
  return joined.substr(1, joined.size() - 2);
}

// Reads a list value: the reader strips the outer quotes, we put them back.
std::vector<std::string> ReadList(const IniFile& ini, const std::string& section,
                                  const std::string& key, const std::string& def) {
  const std::string v = ini.ReadString(section, key, def);
  return SplitQuotedList("\"" + v + "\"");
}

int ClampInt(long long v) {
  if (v > 2147483647LL) return 2147483647;
  if (v < -2147483647LL) return -2147483647;
  return static_cast<int>(v);
}

}  // namespace

int FindObjectById(const Settings& settings, int id) {
  for (int i = 1; i <= settings.ObjectsCount && i <= kMaxObjects; ++i)
    if (settings.Objects[static_cast<std::size_t>(i)].ID == id) return i;
  return 0;
}

std::string DefaultCameraNamesValue() {
  return DefaultList("В/камера");
}
std::string DefaultGaugeNamesValue() {
  return DefaultList("Датчик");
}

Settings::Settings(Services& services, Journal& journal, TFormModel& form, CameraTable& cameras,
                   std::string dataDir)
    : s_(services),
      journal_(journal),
      form_(form),
      cameras_(cameras),
      dataDir_(std::move(dataDir)) {
  ini_.SetPath(SettingsFilePath());
}

std::string Settings::SettingsFilePath() const {
  return (std::filesystem::path(dataDir_) / "Zorvenix.ini").string();
}

void Settings::PresetTemplates() {
  TAbonentRecord& a = Abonents[0];
  a.WaitAnswerTimeout = 15;
  a.RecallTime = 3;
  a.RecallDelay = 50;
  a.ConnectToServerMode = false;
  a.VoiceFile = "Проверка.wav";
  TObjectRecord& o = Objects[0];
  o.WaitAnswerTimeout = 15;
  o.RecallTime = 15;
  o.RecallDelay = 50;
  o.TestCallPeriod = 30;
  o.Cams = 0;
}

void Settings::ReadFormProperties() {
  for (const auto& p : form_.StoredProperties())
    if (ini_.HasKey(kMainForm, p.key)) p.set(ini_.ReadString(kMainForm, p.key, ""));
  form_.WindowState = ClampInt(ini_.ReadInteger(kMainForm, "ShowCmd", form_.WindowState));
  const auto pos = SplitQuotedList(ini_.ReadString(kMainForm, "NormPos", ""));
  if (pos.size() == 4) {
    long long v[4];
    bool ok = true;
    for (int i = 0; i < 4; ++i)
      ok = ok && IniFile::ParseInteger(pos[static_cast<std::size_t>(i)], v[i]);
    if (ok && v[2] > 0 && v[3] > 0 && v[2] < 100000 && v[3] < 100000) {
      form_.NormLeft = ClampInt(v[0]);
      form_.NormTop = ClampInt(v[1]);
      form_.NormWidth = ClampInt(v[2]);
      form_.NormHeight = ClampInt(v[3]);
    }
  }
}

void Settings::WriteFormProperties() {
  ini_.WriteInteger(kMainForm, "Flags", 0);
  ini_.WriteInteger(kMainForm, "ShowCmd", form_.WindowState);
  ini_.WriteInteger(kMainForm, "PixelsPerInch", 96);
  ini_.WriteString(kMainForm, "MinMaxPos", "-1,-1,-1,-1");
  ini_.WriteString(kMainForm, "NormPos",
                   std::to_string(form_.NormLeft) + "," + std::to_string(form_.NormTop) + "," +
                       std::to_string(form_.NormWidth) + "," + std::to_string(form_.NormHeight));
  for (const auto& p : form_.StoredProperties()) {
    const std::string v = p.get();
    // Text values keep outer blanks and quotes through a load.
    const bool quoted = v.size() >= 2 && v.front() == '"' && v.back() == '"';
    const bool padded = !v.empty() && Trim(v).size() != v.size();
    ini_.WriteString(kMainForm, p.key, (quoted || padded) ? "\"" + v + "\"" : v);
  }
}

void Settings::ShowLinkMark(int n) {
  if (n < 1 || n > kMaxObjects) return;
  const TObjectRecord& o = Objects[static_cast<std::size_t>(n)];
  form_.ObjectListBox.SetMark(n - 1, o.LinkProtected() ? std::string() : kUnprotectedMark);
}

bool Settings::HoldsSecret() const {
  if (!form_.LinkKey.Text().empty()) return true;
  for (int n = 0; n <= ObjectsCount && n <= kMaxObjects; ++n)
    if (Objects[static_cast<std::size_t>(n)].LinkProtected()) return true;
  for (const auto& sec : ini_.Sections())
    if (!ini_.ReadString(sec, "LinkKey", "").empty() ||
        !ini_.ReadString(sec, "LinkKey.Text", "").empty() ||
        !ini_.ReadString(sec, "NetPassword", "").empty() ||
        (sec == "Mqtt" && !ini_.ReadString(sec, "Password", "").empty()))
      return true;
  return false;
}

bool Settings::Flush(JournalCode errorCode) {
  // A file that holds a link key or a camera's password is readable by its
  // owner only.
  ini_.SetPrivate(HoldsSecret());
  if (ini_.Save()) {
    flushFailed_ = false;
    return true;
  }
  // Told once while the file keeps refusing: a shutdown saves it once for
  // the settings and once more for every camera.
  if (!flushFailed_)
    journal_.ReportError("Невозможно записать файл настроек \"" + ini_.Path() + "\" !", errorCode,
                         1);
  flushFailed_ = true;
  return false;
}

void Settings::ReadPorts() {
  s_.ports.Clear();
  for (const auto& key : ini_.Keys("Ports")) s_.ports.Set(key, ini_.ReadString("Ports", key, ""));
}

void Settings::ReadObject(int n) {
  const std::string sec = "Object" + std::to_string(n);
  TObjectRecord& o = Objects[static_cast<std::size_t>(n)];
  o.Name = ini_.ReadString(sec, "Name", sec);
  o.Address = ini_.ReadString(sec, "Address", "");
  o.PhoneNumber = ini_.ReadString(sec, "PhoneNumber", "");
  o.AddPhoneNumber = ini_.ReadString(sec, "AddPhoneNumber", "");
  o.AddInfo = ini_.ReadString(sec, "AddInfo", "");
  o.IPAddress = ini_.ReadString(sec, "IPAddress", "");
  o.LinkKey = ini_.ReadString(sec, "LinkKey", "");
  o.LinkSecure = false;
  o.Checked = ini_.ReadString(sec, "Checked", "0") == "1";
  o.CheckedForView = ini_.ReadString(sec, "CheckedForView", "0") == "1";
  o.CallToObjMode = ini_.ReadString(sec, "CallToObjMode", "0") == "1";
  o.ID = ClampInt(ini_.ReadInteger(sec, "ID", n));
  o.Cams = ClampInt(ini_.ReadInteger(sec, "Cams", 0));
  o.WaitAnswerTimeout = ClampInt(ini_.ReadInteger(sec, "WaitAnswerTimeout", 15));
  o.TestCallPeriod = ClampInt(ini_.ReadInteger(sec, "TestCallPeriod", 30));
  o.RecallTime = ClampInt(ini_.ReadInteger(sec, "RecallTime", 3));
  o.RecallDelay = ClampInt(ini_.ReadInteger(sec, "RecallDelay", 30));
  o.LastTestCallTime = o.Checked ? s_.clock.Now() : 0;
  o.ArmedNow = false;
  o.ArmedBefore = false;
  o.Cameras.fill(nullptr);
  o.FirstCamera = 0;
  if (n < 1) return;

  form_.ObjectListBox.Add(o.Name, o.Checked);
  ShowLinkMark(n);
  form_.ObjViewListBox.Add(o.Name, o.CheckedForView);
  const std::string vis = ini_.ReadString(sec, "CamVisible", "11111111");
  for (int i = 1; i <= kMaxCamsPerObject; ++i)
    o.CamVisible[static_cast<std::size_t>(i)] =
        static_cast<std::size_t>(i) <= vis.size() && vis[static_cast<std::size_t>(i - 1)] == '1';
  const auto names = ReadList(ini_, sec, "Cameras", DefaultCameraNamesValue());
  if (o.Cams < 0) o.Cams = 0;
  if (o.Cams > kMaxCamsPerObject) {
    journal_.ReportError("Число видеокамер объекта \"" + o.Name + "\" (" + std::to_string(o.Cams) +
                             ") больше " + std::to_string(kMaxCamsPerObject) + " !",
                         jcReadObject, 1);
    o.Cams = kMaxCamsPerObject;
  }
  int created = 0;
  for (int i = 1; i <= o.Cams; ++i) {
    try {
      TCameraInfo& cam = cameras_.CreateNext();
      if (i == 1) o.FirstCamera = cam.Number;
      cam.SetVisible(o.CamVisible[static_cast<std::size_t>(i)]);
      cam.ObjID = o.ID;
      cam.ObjName = o.Name;
      cam.CamIndex = i;
      cam.Description = static_cast<std::size_t>(i) <= names.size()
                            ? names[static_cast<std::size_t>(i - 1)]
                            : std::string();
      cam.Hint = cam.Description + "\r\n" + o.Name;
      o.Cameras[static_cast<std::size_t>(i)] = &cam;
      ++created;
      if (form_.AllCams.Checked() || n == 1)
        form_.CamViewListBox.Add(cam.Description, o.CamVisible[static_cast<std::size_t>(i)], &cam);
    } catch (const std::exception& e) {
      journal_.ReportError(e.what(), jcCaughtFailure, 1);
    }
  }
  // Cameras that could not be created are not the Object's: keep the count honest.
  o.Cams = created;
  const auto gauges = ReadList(ini_, sec, "Gauges", DefaultGaugeNamesValue());
  for (int i = 1; i <= 8; ++i)
    o.Gauges[static_cast<std::size_t>(i)] = static_cast<std::size_t>(i) <= gauges.size()
                                                ? gauges[static_cast<std::size_t>(i - 1)]
                                                : std::string();
}

void Settings::ReadAbonent(int n) {
  const std::string sec = "Abonent" + std::to_string(n);
  TAbonentRecord& a = Abonents[static_cast<std::size_t>(n)];
  a.Name = ini_.ReadString(sec, "Name", sec);
  a.PhoneNumber = ini_.ReadString(sec, "PhoneNumber", "");
  a.ConnectToServerMode = ini_.ReadString(sec, "ConnectToServerMode", "1") == "1";
  a.VoiceFile = ini_.ReadString(sec, "VoiceFile", "");
  a.WaitAnswerTimeout = ClampInt(ini_.ReadInteger(sec, "WaitAnswerTimeout", 15));
  a.RecallTime = ClampInt(ini_.ReadInteger(sec, "RecallTime", 3));
  a.RecallDelay = ClampInt(ini_.ReadInteger(sec, "RecallDelay", 30));
  a.Reached = true;
  a.GaveUp = false;
  if (n >= 1) form_.AbonentListBox.Add(a.Name);
}

void Settings::LoadSettings() {
  ini_.SetPath(SettingsFilePath());
  if (!ini_.Load())
    journal_.ReportError("Невозможно прочитать файл настроек \"" + ini_.Path() + "\" !",
                         jcReadObject, 1);
  ReadFormProperties();
  PresetTemplates();
  cameras_.FreeAll();
  ObjectsCount = 0;
  AbonentsCount = 0;

  DebugMode = ini_.ReadString(kMain, "DebugMode", "0") == "1";
  ServerMode = ini_.ReadString(kMain, "ServerMode", "0") == "1";
  LinkPort = ClampInt(ini_.ReadInteger(kMain, "LinkPort", 3000));
  if (LinkPort < 1 || LinkPort > 65535) LinkPort = 3000;
  long long objects = ini_.ReadInteger(kMain, "ObjectsCount", 0);
  long long abonents = ini_.ReadInteger(kMain, "AbonentsCount", 0);
  ReadPorts();

  if (ServerMode) {
    if (objects > kMaxObjects) {
      journal_.ReportError("Число объектов в файле настроек (" + std::to_string(objects) +
                               ") больше " + std::to_string(kMaxObjects) + ", прочитаны первые " +
                               std::to_string(kMaxObjects) + " !",
                           jcReadObject, 1);
      objects = kMaxObjects;
    }
    if (objects < 0) objects = 0;
    ObjectsCount = static_cast<int>(objects);
    for (int n = 0; n <= ObjectsCount; ++n) {
      try {
        ReadObject(n);
      } catch (const std::exception& e) {
        journal_.ReportError(e.what(), jcReadObject, 1);
      }
    }
    if (form_.ObjectListBox.Count() > 0) {
      form_.ObjectListBox.UserSelect(0);
      form_.ObjViewListBox.UserSelect(0);
    }
  } else {
    if (abonents > kMaxAbonents) {
      journal_.ReportError("Число абонентов в файле настроек (" + std::to_string(abonents) +
                               ") больше " + std::to_string(kMaxAbonents) + ", прочитаны первые " +
                               std::to_string(kMaxAbonents) + " !",
                           jcReadAbonent, 1);
      abonents = kMaxAbonents;
    }
    if (abonents < 0) abonents = 0;
    AbonentsCount = static_cast<int>(abonents);
    for (int n = 0; n <= AbonentsCount; ++n) {
      try {
        ReadAbonent(n);
      } catch (const std::exception& e) {
        journal_.ReportError(e.what(), jcReadAbonent, 1);
      }
    }
    if (form_.AbonentListBox.Count() > 0) form_.AbonentListBox.UserSelect(0);
  }
  SettingsLoaded = true;
}

void Settings::AddObjectCamerasToList(int n) {
  TObjectRecord& o = Objects[static_cast<std::size_t>(n)];
  for (int i = 1; i <= o.Cams; ++i)
    if (TCameraInfo* cam = o.Cameras[static_cast<std::size_t>(i)])
      form_.CamViewListBox.Add(cam->Description, cam->Visible(), cam);
}

void Settings::WriteObject(int n) {
  const std::string sec = "Object" + std::to_string(n);
  const TObjectRecord& o = Objects[static_cast<std::size_t>(n)];
  ini_.WriteText(sec, "Name", o.Name);
  ini_.WriteText(sec, "Address", o.Address);
  ini_.WriteText(sec, "PhoneNumber", o.PhoneNumber);
  ini_.WriteText(sec, "AddPhoneNumber", o.AddPhoneNumber);
  ini_.WriteText(sec, "IPAddress", o.IPAddress);
  ini_.WriteText(sec, "AddInfo", o.AddInfo);
  if (o.LinkKey.empty())
    ini_.DeleteKey(sec, "LinkKey");
  else
    ini_.WriteString(sec, "LinkKey", o.LinkKey);
  ini_.WriteBool(sec, "Checked", o.Checked);
  ini_.WriteBool(sec, "CheckedForView", o.CheckedForView);
  ini_.WriteBool(sec, "CallToObjMode", o.CallToObjMode);
  ini_.WriteInteger(sec, "ID", o.ID);
  ini_.WriteInteger(sec, "Cams", o.Cams);
  ini_.WriteInteger(sec, "WaitAnswerTimeout", o.WaitAnswerTimeout);
  ini_.WriteInteger(sec, "TestCallPeriod", o.TestCallPeriod);
  ini_.WriteInteger(sec, "RecallTime", o.RecallTime);
  ini_.WriteInteger(sec, "RecallDelay", o.RecallDelay);
}

void Settings::WriteObjectLists(int n) {
  const std::string sec = "Object" + std::to_string(n);
  const TObjectRecord& o = Objects[static_cast<std::size_t>(n)];
  std::string vis;
  std::vector<std::string> names;
  for (int i = 1; i <= o.Cams && i <= kMaxCamsPerObject; ++i) {
    const TCameraInfo* cam = o.Cameras[static_cast<std::size_t>(i)];
    vis += (cam ? cam->Visible() : o.CamVisible[static_cast<std::size_t>(i)]) ? '1' : '0';
    names.push_back(cam ? cam->Description : std::string());
  }
  ini_.WriteString(sec, "CamVisible", vis);
  ini_.WriteString(sec, "Cameras", JoinQuotedList(names));
  std::vector<std::string> gauges(o.Gauges.begin() + 1, o.Gauges.end());
  ini_.WriteString(sec, "Gauges", JoinQuotedList(gauges));
}

void Settings::WriteAbonent(int n) {
  const std::string sec = "Abonent" + std::to_string(n);
  const TAbonentRecord& a = Abonents[static_cast<std::size_t>(n)];
  ini_.WriteText(sec, "Name", a.Name);
  ini_.WriteText(sec, "PhoneNumber", a.PhoneNumber);
  ini_.WriteText(sec, "VoiceFile", a.VoiceFile);
  ini_.WriteBool(sec, "ConnectToServerMode", a.ConnectToServerMode);
  ini_.WriteInteger(sec, "WaitAnswerTimeout", a.WaitAnswerTimeout);
  ini_.WriteInteger(sec, "RecallTime", a.RecallTime);
  ini_.WriteInteger(sec, "RecallDelay", a.RecallDelay);
}

void Settings::SaveFormProperties() {
  // Re-read so that sections written by others since the load are kept.
  ini_.Load();
  WriteFormProperties();
  Flush();
}

void Settings::SaveSettings() {
  ini_.Load();
  WriteFormProperties();
  ini_.WriteInteger(kMain, "ObjectsCount", ObjectsCount);
  ini_.WriteInteger(kMain, "AbonentsCount", AbonentsCount);
  if (ServerMode) {
    for (int n = 0; n <= ObjectsCount; ++n) {
      try {
        WriteObject(n);
        if (n >= 1) {
          try {
            WriteObjectLists(n);
          } catch (const std::exception& e) {
            journal_.ReportError(e.what(), jcWriteObjectLists, 1);
          }
        }
      } catch (const std::exception& e) {
        journal_.ReportError(e.what(), jcWriteObject, 1);
      }
    }
  } else {
    for (int n = 0; n <= AbonentsCount; ++n) {
      try {
        WriteAbonent(n);
      } catch (const std::exception& e) {
        journal_.ReportError(e.what(), jcWriteAbonent, 1);
      }
    }
  }
  // Cameras write their own sections into the same file.
  for (int k = 1; k <= cameras_.CameraCount(); ++k)
    if (TCameraInfo* cam = cameras_.Get(k)) cam->SaveToIni(ini_);
  Flush();
}

}  // namespace zv
