#include "directory/DirectoryRules.h"

#include <algorithm>

#include "app/Cameras.h"

namespace zv {

std::string ObjectIdRefusal(const Settings& settings, int n, int id) {
  if (id < kMinObjectId || id > kMaxObjectId)
    return "ID объекта должен быть от " + std::to_string(kMinObjectId) + " до " +
           std::to_string(kMaxObjectId) + " !";
  if (const int other = FindObjectById(settings, id); other != 0 && other != n)
    return "ID " + std::to_string(id) + " уже есть у объекта \"" +
           settings.Objects[static_cast<std::size_t>(other)].Name + "\" !";
  return {};
}

int FreeObjectId(const Settings& settings, int n) {
  if (n >= kMinObjectId && n <= kMaxObjectId && FindObjectById(settings, n) == 0) return n;
  for (int id = kMinObjectId; id <= kMaxObjectId; ++id)
    if (FindObjectById(settings, id) == 0) return id;
  return n;
}

int NextCameraNumber(const Settings& settings, int n) {
  int last = 0;
  for (int j = 1; j <= n && j <= kMaxObjects; ++j) {
    const TObjectRecord& o = settings.Objects[static_cast<std::size_t>(j)];
    for (int i = 1; i <= o.Cams && i <= kMaxCamsPerObject; ++i)
      if (const TCameraInfo* cam = o.Cameras[static_cast<std::size_t>(i)])
        last = std::max(last, cam->Number);
  }
  return last + 1;
}

void RenumberObjects(Settings& settings) {
  for (int j = 1; j <= settings.ObjectsCount && j <= kMaxObjects; ++j) {
    TObjectRecord& o = settings.Objects[static_cast<std::size_t>(j)];
    o.FirstCamera = o.Cams >= 1 && o.Cameras[1] ? o.Cameras[1]->Number : 0;
  }
}

namespace {
std::string DefaultGaugeName(int i) {
  return "Датчик" + std::to_string(i);
}
}  // namespace

void NewObjectRecord(Settings& settings, int n, const std::string& name) {
  TObjectRecord& o = settings.Objects[static_cast<std::size_t>(n)];
  o = TObjectRecord{};  // nothing left from an Object deleted before
  const TObjectRecord& t = settings.Objects[0];
  o.Name = name;
  o.ID = FreeObjectId(settings, n);
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
}

void NewAbonentRecord(Settings& settings, int n, const std::string& name) {
  TAbonentRecord& a = settings.Abonents[static_cast<std::size_t>(n)];
  a = TAbonentRecord{};  // no call state left from an entry deleted before
  const TAbonentRecord& t = settings.Abonents[0];
  a.Name = name;
  a.PhoneNumber.clear();
  a.WaitAnswerTimeout = t.WaitAnswerTimeout;
  a.RecallTime = t.RecallTime;
  a.RecallDelay = t.RecallDelay;
  a.ConnectToServerMode = t.ConnectToServerMode;
  a.VoiceFile = t.VoiceFile;
}

void ObjectRecordToTemplate(Settings& settings, int n) {
  const TObjectRecord& o = settings.Objects[static_cast<std::size_t>(n)];
  TObjectRecord& t = settings.Objects[0];
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
}

void AbonentRecordToTemplate(Settings& settings, int n) {
  const TAbonentRecord& a = settings.Abonents[static_cast<std::size_t>(n)];
  TAbonentRecord& t = settings.Abonents[0];
  t.Name = a.Name;
  t.PhoneNumber = a.PhoneNumber;
  t.ConnectToServerMode = a.ConnectToServerMode;
  t.WaitAnswerTimeout = a.WaitAnswerTimeout;
  t.RecallTime = a.RecallTime;
  t.RecallDelay = a.RecallDelay;
  t.VoiceFile = a.VoiceFile;
}

void RemoveObjectRecord(Settings& settings, int n, int count) {
  count = std::min(count, kMaxObjects);
  for (int k = n; k < count; ++k)
    settings.Objects[static_cast<std::size_t>(k)] =
        settings.Objects[static_cast<std::size_t>(k + 1)];
  if (count >= n) settings.Objects[static_cast<std::size_t>(count)] = TObjectRecord{};
}

void RemoveAbonentRecord(Settings& settings, int n, int count) {
  for (int k = n; k < count && k < kMaxAbonents; ++k)
    settings.Abonents[static_cast<std::size_t>(k)] =
        settings.Abonents[static_cast<std::size_t>(k + 1)];
  if (count <= kMaxAbonents) settings.Abonents[static_cast<std::size_t>(count)] = TAbonentRecord{};
}

}  // namespace zv
