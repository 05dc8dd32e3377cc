#include "modem/MotorolaSM56.h"

#include "modem/Format.h"
#include "modem/VoiceModem.h"

namespace zv {

namespace {
constexpr TCodeName kCompressions[] = {{1, "PCM"}, {2, "ADPCM"}};
constexpr TCodeName kDevices[] = {{2, "Dialup Line"},
                                  {3, "External Microphone"},
                                  {5, "External Speaker"},
                                  {6, "Internal Speaker"},
                                  {8, "Speakerphone"}};

// A gain in percent (-1 for the default of 50) as the modem's 0..255.
int Gain(int percent) {
  return (percent == -1 ? 50 : percent) * 255 / 100;
}
}  // namespace

TMotorolaSM56::TMotorolaSM56() {
  PickPhoneCmd = "ATA";
}

int TMotorolaSM56::CompressionTable(const TCodeName*& table) const {
  table = kCompressions;
  return 2;
}

int TMotorolaSM56::DeviceTable(const TCodeName*& table) const {
  table = kDevices;
  return 5;
}

int TMotorolaSM56::Init() {
  if (!CheckModem("Init", true)) return -1;
  TVoiceModem& m = *Modem();
  Log(1, "Initializing Motorola SM56 voice modem");
  m.SetState(msInitializing);
  int result = 0;
  if (m.Command("AT&R1\\Q3", "OK") != ModemAnswer::Expected) {
    Log(3, "Can't turn on hardware flow control");
    result = -1;
  } else if (m.Command("ATX4", "OK") != ModemAnswer::Expected) {
    Log(3, "Can't set extended verbal result messages");
    result = -1;
  }
  m.SetState(msIdle);
  return result;
}

int TMotorolaSM56::InitVoice() {
  if (!CheckModem("InitVoice", true)) return -1;
  TVoiceModem& m = *Modem();
  const TModemProfile& p = *Profile();
  Log(1, "Initializing Motorola SM56 voice params");
  m.SetState(msInitializing);
  if (m.Command("AT+VNH=1", "OK") != ModemAnswer::Expected) Log(3, "Can't disable autohangup");
  if (m.Command(Fmt("AT+VSD=%d,%d", p.RecSilenceSens * 129 / 100, p.RecSilenceLen), "OK") !=
      ModemAnswer::Expected)
    Log(3, "Setting silence preferences didn't work");
  if (m.Command(Fmt("AT+VGT=%d", Gain(p.TransmitGain)), "OK") != ModemAnswer::Expected)
    Log(3, "Setting transmit gain didn't work");
  if (m.Command(Fmt("AT+VGR=%d", Gain(p.ReceiveGain)), "OK") != ModemAnswer::Expected)
    Log(3, "Setting receive gain didn't work");
  if (m.Command(Fmt("AT+VRA=%d+VRN=%d", p.RingbackGoesAway, p.RingbackNeverCame), "OK") !=
      ModemAnswer::Expected)
    Log(4, "Can't set ringback timeouts");
  m.SetState(msIdle);
  return 0;
}

int TMotorolaSM56::SetCompression(int& compression, int& speed, int& bits) {
  if (!CheckModem("SetCompression", true)) return -1;
  TVoiceModem& m = *Modem();
  if (compression == 0) compression = 2;
  if (compression != 1 && compression != 2) {
    LogFmt(3, "Motorola SM56: Illegal voice compression method (%d)", compression);
    m.SetLastError(18);
    return -1;
  }
  if (speed == 0) speed = 8000;
  if (speed != 8000) {
    LogFmt(3, "Motorola SM56: Illegal sample rate (%d)", speed);
    return -1;
  }
  bits = 8;
  return m.Command(Fmt("AT+VSM=%d,%d,0,0", compression + 127, speed), "OK") == ModemAnswer::Expected
             ? 0
             : -1;
}

int TMotorolaSM56::SetDevice(int device) {
  if (!CheckModem("SetDevice", true)) return -1;
  TVoiceModem& m = *Modem();
  switch (device) {
    case 1:
      m.Command("AT+VLS=0", "OK");
      return 0;
    case 2:
      // The handset's voice connection ("VCON") is told by a result of its own.
      return m.Command("AT+VLS=1", "OK|VCON") == ExpectedAnswer(1) ? kVoiceConnected : 0;
    case 3:
      m.Command("AT+VLS=11", "OK|VCON");
      return 0;
    case 5:
      m.Command("AT+VLS=8", "OK|VCON");
      return 0;
    case 6:
      m.Command("AT+VLS=9", "OK|VCON");
      return 0;
    case 8:
      m.Command("AT+VLS=13", "OK|VCON");
      return 0;
    default:
      LogFmt(3, "Motorola SM56: Unknown output device (%d)", device);
      m.SetLastError(19);
      return -1;
  }
}

}  // namespace zv
