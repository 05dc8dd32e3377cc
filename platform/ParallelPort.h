#pragma once
// The status register of a parallel port, read through the Linux parallel
// port device (ppdev): open, claim the port, read the register, release,
// close.  Bits as the hardware has them: 0x80 Busy (inverted pin 11),
// 0x40 Ack, 0x20 Paper out, 0x10 Select in, 0x08 Error.  Claiming waits
// while another driver (a print job) holds the port.
#include <cstdint>
#include <memory>
#include <string>

namespace zv {

class IParallelStatus {
 public:
  virtual ~IParallelStatus() = default;
  // Reads the status register of the port at path; false when the device
  // is missing, not a parallel port, or not accessible to the program.
  virtual bool ReadStatus(const std::string& path, std::uint8_t& status) = 0;
};

class LinuxParallelStatus final : public IParallelStatus {
 public:
  bool ReadStatus(const std::string& path, std::uint8_t& status) override;
};

std::unique_ptr<IParallelStatus> MakeLinuxParallelStatus();

}  // namespace zv
