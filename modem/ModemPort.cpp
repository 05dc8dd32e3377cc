#include "modem/ModemPort.h"

#include "modem/ModemProfile.h"

namespace zv {

int TModemPort::Open() {
  if (!Profile) return -1;
  const TModemProfile& p = *Profile;
  TBaudRate rate;
  if (p.Port < 1 || p.Port > 4) return -1;
  if (!BaudRateFromValue(p.PortBaudRate, rate)) return -1;
  if (p.PortDataBits < 4 || p.PortDataBits > 8) return -1;
  if (p.PortParity < 0 || p.PortParity > 4) return -1;
  if (p.PortStopBits < 0 || p.PortStopBits > 2) return -1;
  SetComNumber(static_cast<TComNumber>(p.Port - 1));
  SetBaudRate(rate);
  SetDataBits(static_cast<TDataBits>(p.PortDataBits - 4));
  SetParity(static_cast<TParity>(p.PortParity));
  SetStopBits(static_cast<TStopBits>(p.PortStopBits));
  StatusDelay = p.PortStatusDelay;
  ReadDelay = p.PortReadDelay;
  WriteDelay = p.PortWriteDelay;
  SetInBuffSize(p.PortInBuffSize);
  SetOutBuffSize(p.PortOutBuffSize);
  TCustomCommPort::Open();
  return IsOpen() ? 0 : -1;
}

int TModemPort::Close() {
  TCustomCommPort::Close();
  return 0;
}

int TModemPort::Read(void* buffer, int count) {
  if (!IsOpen()) return -1;
  return TCustomCommPort::Read(buffer, count);
}

int TModemPort::Write(const void* buffer, int count) {
  if (!IsOpen()) return -1;
  return TCustomCommPort::Write(buffer, count);
}

}  // namespace zv
