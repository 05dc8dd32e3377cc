#include "modem/ModemProfile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <variant>

namespace zv {

namespace {

bool ParseInt(const std::string& s, int& out) {
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (errno != 0 || end == s.c_str() || *end != '\0' || v < INT_MIN || v > INT_MAX) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

// The stored settings in their declaration order (RecRemoveSilence is not
// stored).
template <class F>
void TModemProfile::ForEachStored(F&& f) {
  f("Port", Port);
  f("PortBaudRate", PortBaudRate);
  f("PortParity", PortParity);
  f("PortDataBits", PortDataBits);
  f("PortStopBits", PortStopBits);
  f("PortTimeOut", PortTimeOut);
  f("PortStatusDelay", PortStatusDelay);
  f("PortReadDelay", PortReadDelay);
  f("PortWriteDelay", PortWriteDelay);
  f("PortInBuffSize", PortInBuffSize);
  f("PortOutBuffSize", PortOutBuffSize);
  f("ModemName", ModemName);
  f("ModemInitCmd", ModemInitCmd);
  f("ModemInitAnsw", ModemInitAnsw);
  f("ModemLogging", ModemLogging);
  f("PlayDevice", PlayDevice);
  f("PlayMaxLen", PlayMaxLen);
  f("PlayFileName", PlayFileName);
  f("PlayPreview", PlayPreview);
  f("PlayPreviewLen", PlayPreviewLen);
  f("RecCompression", RecCompression);
  f("RecSpeed", RecSpeed);
  f("RecSilenceLen", RecSilenceLen);
  f("RecSilenceSens", RecSilenceSens);
  f("RecIgnoreSilence", RecIgnoreSilence);
  f("RecDevice", RecDevice);
  f("RecMaxLen", RecMaxLen);
  f("TransmitGain", TransmitGain);
  f("ReceiveGain", ReceiveGain);
  f("DTMFLen", DTMFLen);
  f("DTMFSens", DTMFSens);
  f("DTMFWait", DTMFWait);
  f("BeepFrequency", BeepFrequency);
  f("BeepLength", BeepLength);
  f("CommandDelay", CommandDelay);
  f("CommandEcho", CommandEcho);
  f("DialTimeOut", DialTimeOut);
  f("DialMode", DialMode);
  f("AnswerRecognition", AnswerRecognition);
  f("RingbackGoesAway", RingbackGoesAway);
  f("RingbackNeverCame", RingbackNeverCame);
  f("RawData", RawData);
}

void TModemProfile::AssignTo(TModemProfile& target) const {
  if (&target == this) return;
  const bool keep = target.RecRemoveSilence;
  target = *this;
  target.RecRemoveSilence = keep;
}

void TModemProfile::LoadFromRegistry(const TKeyStore& store, const std::string& rootKey,
                                     const std::string& keyPath) {
  TKeyStore::Values values;
  if (!store.ReadKey(rootKey, keyPath, values)) return;
  ForEachStored([&](const char* name, auto& field) {
    auto it = values.find(name);
    if (it == values.end()) return;
    using T = std::decay_t<decltype(field)>;
    if constexpr (std::is_same_v<T, std::string>) {
      field = it->second;
    } else {
      int v;
      if (!ParseInt(it->second, v)) return;
      if constexpr (std::is_same_v<T, bool>)
        field = v != 0;
      else
        field = v;
    }
  });
}

void TModemProfile::SaveToRegistry(const TKeyStore& store, const std::string& rootKey,
                                   const std::string& keyPath) const {
  TKeyStore::Values values;
  const_cast<TModemProfile*>(this)->ForEachStored([&](const char* name, auto& field) {
    using T = std::decay_t<decltype(field)>;
    if constexpr (std::is_same_v<T, std::string>)
      values[name] = field;
    else if constexpr (std::is_same_v<T, bool>)
      values[name].assign(1, field ? '1' : '0');
    else
      values[name] = std::to_string(field);
  });
  store.WriteKey(rootKey, keyPath, values);
}

}  // namespace zv
