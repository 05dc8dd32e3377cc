#include "platform/ParallelPort.h"

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace zv {

bool LinuxParallelStatus::ReadStatus(const std::string& path, std::uint8_t& status) {
  if (path.empty()) return false;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = false;
  if (::ioctl(fd, PPCLAIM) == 0) {
    unsigned char value = 0;
    ok = ::ioctl(fd, PPRSTATUS, &value) == 0;
    if (ok) status = value;
    ::ioctl(fd, PPRELEASE);
  }
  ::close(fd);
  return ok;
}

std::unique_ptr<IParallelStatus> MakeLinuxParallelStatus() {
  return std::make_unique<LinuxParallelStatus>();
}

}  // namespace zv
