#include "platform/LinuxModemLines.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace zv {

LinuxModemLines::~LinuxModemLines() {
  Close();
}

DeviceResult LinuxModemLines::Open(const std::string& path) {
  if (path.empty()) return DeviceResult::NoDevice(path);
  if (fd_ >= 0) return DeviceResult::FromErrno(path, EBUSY);
  // O_NONBLOCK: a port without carrier must not hold the caller up.  No
  // O_CREAT: only an existing device will do.
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return DeviceResult::FromErrno(path, errno);
  DeviceResult r;
  // A port another holder keeps exclusively is busy, also for root (whom
  // the kernel lets in): taking it over would clear the holder's claim.
  int held = 0;
  if (!::isatty(fd))
    r = DeviceResult::FromErrno(path, ENOTTY);
  else if (::ioctl(fd, TIOCGEXCL, &held) == 0 && held)
    r = DeviceResult::FromErrno(path, EBUSY);
  else if (::ioctl(fd, TIOCEXCL) != 0)
    r = DeviceResult::FromErrno(path, errno);
  if (!r) {
    ::close(fd);
    return r;
  }
  fd_ = fd;
  return r;
}

bool LinuxModemLines::Read(SerialModemLines& lines) {
  int bits = 0;
  if (fd_ < 0 || ::ioctl(fd_, TIOCMGET, &bits) != 0) return false;
  lines.cts = bits & TIOCM_CTS;
  lines.dsr = bits & TIOCM_DSR;
  lines.rlsd = bits & TIOCM_CD;
  lines.ring = bits & TIOCM_RI;
  return true;
}

void LinuxModemLines::Close() {
  if (fd_ < 0) return;
  ::ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  fd_ = -1;
}

std::unique_ptr<IModemLines> MakeLinuxModemLines() {
  return std::make_unique<LinuxModemLines>();
}

}  // namespace zv
