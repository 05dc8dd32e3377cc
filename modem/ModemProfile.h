#pragma once
// Every setting of one voice modem: the serial line, the pacing of the port
// threads, the modem's name and extra initialisation, play and record
// parameters, gains, dialling and ringback time-outs.
#include <string>

#include "modem/KeyStore.h"

namespace zv {

class TModemProfile {
 public:
  int Port = 2;
  int PortBaudRate = 38400;
  int PortParity = 0;
  int PortDataBits = 8;
  int PortStopBits = 0;
  int PortTimeOut = 10;
  int PortStatusDelay = 50;
  int PortReadDelay = 75;
  int PortWriteDelay = 75;
  int PortInBuffSize = 4096;
  int PortOutBuffSize = 4096;
  std::string ModemName;
  std::string ModemInitCmd;
  std::string ModemInitAnsw = "OK";
  bool ModemLogging = false;
  int PlayDevice = 5;
  int PlayMaxLen = 0;
  std::string PlayFileName;
  bool PlayPreview = false;
  int PlayPreviewLen = 10;
  int RecCompression = 0;
  int RecSpeed = 0;
  int RecSilenceLen = 20;
  int RecSilenceSens = 40;
  bool RecRemoveSilence = false;  // carried only: neither copied nor stored
  bool RecIgnoreSilence = false;
  int RecDevice = 3;
  int RecMaxLen = 300;
  int TransmitGain = -1;
  int ReceiveGain = -1;
  int DTMFLen = 30;
  int DTMFSens = 40;
  int DTMFWait = 7;
  int BeepFrequency = 933;
  int BeepLength = 1500;
  int CommandDelay = 100;
  bool CommandEcho = false;
  int DialTimeOut = 90;
  std::string DialMode = "P";
  bool AnswerRecognition = false;
  int RingbackGoesAway = 45;
  int RingbackNeverCame = 120;
  bool RawData = false;

  // Copies every setting except RecRemoveSilence.
  void AssignTo(TModemProfile& target) const;
  bool IsModemInitAnswStored() const { return ModemInitAnsw != "OK"; }

  // Reads the values named like the settings from KeyPath; a missing key
  // changes nothing, a missing or non-numeric value keeps the current one.
  void LoadFromRegistry(const TKeyStore& store, const std::string& rootKey,
                        const std::string& keyPath);
  // Writes every value (creating the key if needed).  Integers as decimal
  // text, booleans as "0"/"1", strings as they are.
  void SaveToRegistry(const TKeyStore& store, const std::string& rootKey,
                      const std::string& keyPath) const;

 private:
  template <class F>
  void ForEachStored(F&& f);
};

}  // namespace zv
