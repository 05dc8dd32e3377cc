#pragma once
// The status register of a parallel port.  Bits as the hardware has them:
// 0x80 Busy (inverted pin 11), 0x40 Ack, 0x20 Paper out, 0x10 Select in,
// 0x08 Error.
//
// Claiming a port waits while another driver (a print job) holds it, for as
// long as it holds it.  The program's reader (LinuxParallelPort.h) therefore
// claims on a thread of its own and waits for it only a few milliseconds: a
// port held elsewhere reads as busy, and the main loop goes on.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zv {

struct ParallelRead {
  enum Status {
    Ok,      // value holds the status register
    Busy,    // the port is held elsewhere (or the read has not ended yet)
    Failed,  // missing, not a parallel port, or not accessible: error says why
  };
  Status status = Failed;
  std::uint8_t value = 0;
  std::string error;
};

class IParallelStatus {
 public:
  virtual ~IParallelStatus() = default;
  virtual ParallelRead Read(const std::string& path) = 0;
};

// Runs a (possibly blocking) reader on a worker thread started at the first
// read.  Read waits at most waitMs for it; a read still running then is
// answered Busy, and its result goes to a later call for the same port.
class AsyncParallelStatus final : public IParallelStatus {
 public:
  using Reader = std::function<ParallelRead(const std::string&)>;
  explicit AsyncParallelStatus(Reader reader, unsigned waitMs = 20);
  // Never waits for a worker stuck in a claim: it is left to end by itself.
  ~AsyncParallelStatus() override;
  AsyncParallelStatus(const AsyncParallelStatus&) = delete;
  AsyncParallelStatus& operator=(const AsyncParallelStatus&) = delete;

  ParallelRead Read(const std::string& path) override;

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
  unsigned waitMs_;
};

}  // namespace zv
