#include "modem/ModemDriver.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "modem/MotorolaSM56.h"
#include "modem/VoiceModem.h"

namespace zv {

namespace {

bool SameText(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return i == a.size() && !b[i];
}

int NumberOrMinusOne(const std::string& s) {
  if (s.empty()) return -1;
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (end == s.c_str() || *end != '\0' || v < -2147483647L || v > 2147483647L) return -1;
  return static_cast<int>(v);
}

struct Registry {
  std::mutex mu;
  std::vector<std::pair<std::string, TModemDriverClass>> entries;
};

Registry& TheRegistry() {
  static Registry* r = [] {
    auto* reg = new Registry;
    // The drivers that come with the library register themselves here, so
    // that no linker can leave their registration out.
    reg->entries.emplace_back(TMotorolaSM56().ModemDescription(),
                              [] { return std::make_unique<TMotorolaSM56>(); });
    return reg;
  }();
  return *r;
}

}  // namespace

TModemDriver::~TModemDriver() {
  if (modem_ && modem_->driver_ == this) modem_->driver_ = nullptr;
}

void TModemDriver::SetModem(TVoiceModem* modem) {
  if (modem_ == modem) return;
  if (modem_ && modem_->driver_ == this) modem_->driver_ = nullptr;
  modem_ = nullptr;
  if (modem) modem->SetDriver(this);
}

TModemProfile* TModemDriver::Profile() const {
  if (profile_) return profile_;
  return modem_ ? modem_->Profile() : nullptr;
}

void TModemDriver::Log(int level, const std::string& text) {
  if (modem_) modem_->Log(level, text);
}

void TModemDriver::Progress(int done) {
  if (modem_) modem_->Progress(done);
}

void TModemDriver::Yield() {
  if (modem_) modem_->Yield();
}

void TModemDriver::LogFmt(int level, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  char buf[1024];
  const int n = std::vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  if (n >= 0) Log(level, buf);
}

bool TModemDriver::CheckModem(const char* slotName, bool complain) {
  if (modem_) return true;
  if (complain) LogFmt(4, "%s: No modem name specified, unable to complete operation", slotName);
  return false;
}

int TModemDriver::CompressionTable(const TCodeName*& table) const {
  table = nullptr;
  return 0;
}

int TModemDriver::DeviceTable(const TCodeName*& table) const {
  table = nullptr;
  return 0;
}

int TModemDriver::PlayingTime(int, int, int) const {
  return 0;
}

int TModemDriver::CompressionFromName(const std::string& name) const {
  const TCodeName* t;
  const int n = CompressionTable(t);
  for (int i = 0; i < n; ++i)
    if (SameText(name, t[i].name)) return t[i].code;
  return NumberOrMinusOne(name);
}

std::string TModemDriver::CompressionName(int code) const {
  const TCodeName* t;
  const int n = CompressionTable(t);
  for (int i = 0; i < n; ++i)
    if (t[i].code == code) return t[i].name;
  return std::to_string(code);
}

int TModemDriver::DeviceFromName(const std::string& name) const {
  const TCodeName* t;
  const int n = DeviceTable(t);
  for (int i = 0; i < n; ++i)
    if (SameText(name, t[i].name)) return t[i].code;
  return NumberOrMinusOne(name);
}

std::string TModemDriver::DeviceName(int code) const {
  const TCodeName* t;
  const int n = DeviceTable(t);
  for (int i = 0; i < n; ++i)
    if (t[i].code == code) return t[i].name;
  return std::to_string(code);
}

void TModemDriver::EnumTable(bool devices, const std::function<bool(int)>& keep,
                             const TNameProc& proc) const {
  const TCodeName* t;
  const int n = devices ? DeviceTable(t) : CompressionTable(t);
  for (int i = 0; i < n; ++i)
    if (keep(t[i].code)) proc(t[i].name);
}

void TModemDriver::EnumCompressions(const TNameProc& proc) const {
  EnumTable(
      false, [](int) { return true; }, proc);
}

void TModemDriver::EnumDevices(const TNameProc& proc) const {
  EnumTable(
      true, [](int) { return true; }, proc);
}

void TModemDriver::EnumPlayDevices(const TNameProc& proc) const {
  EnumTable(
      true, [](int c) { return c != 3 && c != 4; }, proc);
}

void TModemDriver::EnumRecordDevices(const TNameProc& proc) const {
  EnumTable(
      true, [](int c) { return c != 5 && c != 6; }, proc);
}

std::vector<std::string> TModemDriver::CompressionList() const {
  std::vector<std::string> v;
  EnumCompressions([&](const std::string& s) { v.push_back(s); });
  return v;
}

std::vector<std::string> TModemDriver::DeviceList() const {
  std::vector<std::string> v;
  EnumDevices([&](const std::string& s) { v.push_back(s); });
  return v;
}

std::vector<std::string> TModemDriver::PlayDeviceList() const {
  std::vector<std::string> v;
  EnumPlayDevices([&](const std::string& s) { v.push_back(s); });
  return v;
}

std::vector<std::string> TModemDriver::RecordDeviceList() const {
  std::vector<std::string> v;
  EnumRecordDevices([&](const std::string& s) { v.push_back(s); });
  return v;
}

// ---------------------------------------------------------------- null driver

int TNoModem::NotSupported(const char* slotName) {
  LogFmt(4, "%s called", slotName);
  if (Modem()) Modem()->SetLastError(1);
  return -1;
}

int TNoModem::AnswerPhone() {
  return NotSupported("AnswerPhone");
}
int TNoModem::Beep(int, int) {
  return NotSupported("Beep");
}
int TNoModem::Dial(const std::string&) {
  return NotSupported("Dial");
}
int TNoModem::HandleDLE(int) {
  return NotSupported("HandleDLE");
}
int TNoModem::HandleEvent(ModemEvent, TEventData) {
  return NotSupported("HandleEvent");
}
int TNoModem::HangUp() {
  return NotSupported("HangUp");
}
int TNoModem::Init() {
  return NotSupported("Init");
}
int TNoModem::InitVoice() {
  return NotSupported("InitVoice");
}
int TNoModem::PlayDTMF(const std::string&) {
  return NotSupported("PlayDTMF");
}
int TNoModem::PlayStream(std::istream&, int) {
  return NotSupported("PlayStream");
}
int TNoModem::RecordStream(std::ostream&, int) {
  return NotSupported("RecordStream");
}
int TNoModem::RestoreVoiceMode() {
  return NotSupported("RestoreVoiceMode");
}
int TNoModem::SetCompression(int&, int&, int&) {
  return NotSupported("SetCompression");
}
int TNoModem::SetDevice(int) {
  return NotSupported("SetDevice");
}
int TNoModem::StartPlayStream() {
  return NotSupported("StartPlayStream");
}
int TNoModem::StartRecordStream() {
  return NotSupported("StartRecordStream");
}
int TNoModem::StopDialing() {
  return NotSupported("StopDialing");
}
int TNoModem::StopPlayStream() {
  return NotSupported("StopPlayStream");
}
int TNoModem::StopPlaying() {
  return NotSupported("StopPlaying");
}
int TNoModem::StopRecordStream() {
  return NotSupported("StopRecordStream");
}
int TNoModem::StopRecording() {
  return NotSupported("StopRecording");
}
int TNoModem::StopWaiting() {
  return NotSupported("StopWaiting");
}
int TNoModem::SwitchToDataFax(const std::string&) {
  return NotSupported("SwitchToDataFax");
}
int TNoModem::VoiceModeOff() {
  return NotSupported("VoiceModeOff");
}
int TNoModem::VoiceModeOn() {
  return NotSupported("VoiceModeOn");
}
int TNoModem::Wait(int) {
  return NotSupported("Wait");
}
int TNoModem::WaitAnswer(const std::string&, int) {
  return NotSupported("WaitAnswer");
}

// ------------------------------------------------------------------- registry

void RegisterModemDriver(const std::string& name, TModemDriverClass cls) {
  Registry& r = TheRegistry();
  std::lock_guard lk(r.mu);
  r.entries.emplace_back(name, std::move(cls));
}

bool FindModemDriver(const std::string& name, TModemDriverClass& cls) {
  Registry& r = TheRegistry();
  std::lock_guard lk(r.mu);
  for (const auto& [n, c] : r.entries)
    if (n == name) {
      cls = c;
      return true;
    }
  return false;
}

}  // namespace zv
