#pragma once
// The status register of a parallel port, read through the Linux parallel
// port device (ppdev): open, claim the port, read the register, release,
// close.
#include <memory>
#include <string>

#include "platform/ParallelPort.h"

namespace zv {

// One read through ppdev, waiting as long as the claim takes.
ParallelRead ReadParallelStatusNow(const std::string& path);

// The program's reader: ppdev on a worker thread.
std::unique_ptr<IParallelStatus> MakeLinuxParallelStatus();

}  // namespace zv
