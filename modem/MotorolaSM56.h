#pragma once
// The Motorola SM56 voice modem: the IS-101 driver with its own pick-up
// command, initialisation, compression and device selection.
#include "modem/IS101.h"

namespace zv {

class TMotorolaSM56 : public TIS101 {
 public:
  // SetDevice(2): the modem answered "VCON", a voice connection.
  static constexpr int kVoiceConnected = 0x2001;

  TMotorolaSM56();

  std::string ModemDescription() const override { return "Motorola SM56"; }
  std::string ModemType() const override { return "Motorola SM56"; }
  int CompressionTable(const TCodeName*& table) const override;
  int DeviceTable(const TCodeName*& table) const override;

  int Init() override;
  int InitVoice() override;
  int SetCompression(int& compression, int& speed, int& bits) override;
  int SetDevice(int device) override;
};

}  // namespace zv
