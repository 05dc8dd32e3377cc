// The voice-modem engine reading what a modem sends: answer lines, echoes,
// DLE-shielded event codes and voice data, XON/XOFF, garbage and silence,
// during every kind of operation (initialisation, commands, dialling,
// waiting, recording, playing, DTMF).  No input may crash or hang it; every
// operation ends with the engine idle; the event queue stays within its
// bounds and a DTMF event carries a DTMF digit.
//
// Input: a control byte (read size, echo, a vanishing device), the number
// of operations and their codes, then the bytes the modem sends.
#include <sstream>
#include <string>

#include "fuzz/FakeModem.h"
#include "fuzz/FuzzSupport.h"

namespace {

using zv::fuzz::Check;

bool DtmfDigit(int c) {
  return (c >= '0' && c <= '9') || c == '*' || c == '#' || (c >= 'A' && c <= 'D');
}

void Run(zv::TVoiceModem& m, zv::TModemProfile& p, int op) {
  std::string line;
  switch (op % 16) {
    case 0:
      m.Init();
      break;
    case 1:
      m.Command("ATQ0V1", "OK");
      break;
    case 2:
      m.Command("AT+VLS=1", "OK|VCON");
      break;
    case 3:
      m.Dial("5551234");
      break;
    case 4:
      m.WaitAnswer("RING|CONNECT", 3000);
      break;
    case 5:
      m.Wait(2000);
      break;
    case 6:
      m.ReadLine(line);
      break;
    case 7:
      m.Flush(300);
      break;
    case 8: {
      p.RawData = op & 16;
      std::ostringstream out;
      m.RecordStream(out);
      break;
    }
    case 9: {
      p.RawData = true;
      std::istringstream in(std::string(300, '\x10'));  // every byte needs shielding
      m.PlayStream(in);
      break;
    }
    case 10:
      m.AnswerPhone();
      break;
    case 11:
      m.HangUp();
      break;
    case 12:
      m.InitVoice();
      break;
    case 13:
      m.Stop();
      m.ProcessEvents();
      break;
    case 14:
      m.PlayDTMF("1234#");
      break;
    default:
      m.SetDevice(2);
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 65536) return 0;
  zv::fuzz::Input in(data, size);
  const std::uint8_t control = in.Byte();
  const int ops = 1 + in.Byte() % 8;
  const std::vector<std::uint8_t> codes = in.Bytes(static_cast<std::size_t>(ops));
  const std::vector<std::uint8_t> rest = in.Rest();

  zv::fuzz::ModemRig rig;
  rig.port.input.assign(rest.begin(), rest.end());
  rig.port.chunk = 1 + (control & 0x0F) * 17;
  rig.port.failAtEnd = control & 0x80;
  rig.profile.CommandEcho = control & 0x40;
  rig.profile.RecIgnoreSilence = control & 0x20;
  rig.modem.OnEvent = [&](zv::ModemEvent event, zv::TEventData d, int&) {
    if (event == zv::ModemEvent::Dtmf)
      Check(DtmfDigit(d.value), "a DTMF event carries a DTMF digit");
  };
  for (const std::uint8_t op : codes) {
    Run(rig.modem, rig.profile, op);
    Check(rig.modem.GetState() == zv::msIdle, "every operation ends with the engine idle");
    Check(rig.modem.QueuedEvents() < zv::TVoiceModem::kQueueSlots, "event queue within bounds");
  }
  rig.modem.ProcessEvents();
  return 0;
}
