#include "platform/LinuxSwitcherLines.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace zv {

LinuxSwitcherLines::~LinuxSwitcherLines() {
  Close();
}

DeviceResult LinuxSwitcherLines::Open(const std::string& path) {
  Close();
  if (path.empty()) return DeviceResult::NoDevice(path);
  // No O_CREAT: only an existing device.  O_NONBLOCK: a port without
  // carrier must not hold the caller up.
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return DeviceResult::FromErrno(path, errno);
  // Exclusive: refused while another program (or another handle of ours)
  // holds the device.
  DeviceResult r;
  if (!::isatty(fd))
    r = DeviceResult::FromErrno(path, ENOTTY);
  else if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0)
    r = DeviceResult::FromErrno(path, errno == EWOULDBLOCK ? EBUSY : errno);
  if (!r) {
    ::close(fd);
    return r;
  }
  fd_ = fd;
  vanished_ = false;
  return r;
}

void LinuxSwitcherLines::Close() {
  if (fd_ < 0) return;
  ::ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  fd_ = -1;
}

bool LinuxSwitcherLines::Set(int line, bool on) {
  if (fd_ < 0) return false;
  if (::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line) == 0) return true;
  vanished_ = errno == EIO || errno == ENODEV || errno == ENXIO;
  return false;
}

bool LinuxSwitcherLines::SetDtr(bool on) {
  return Set(TIOCM_DTR, on);
}
bool LinuxSwitcherLines::SetRts(bool on) {
  return Set(TIOCM_RTS, on);
}

std::unique_ptr<ISwitcherLines> MakeLinuxSwitcherLines() {
  return std::make_unique<LinuxSwitcherLines>();
}

}  // namespace zv
