#include "platform/LinuxParallelPort.h"

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zv {

namespace {
ParallelRead Failure(int err) {
  ParallelRead r;
  r.status = ParallelRead::Failed;
  r.error = std::strerror(err);
  return r;
}
}  // namespace

ParallelRead ReadParallelStatusNow(const std::string& path) {
  if (path.empty()) return Failure(ENOENT);
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Failure(errno);
  ParallelRead r;
  if (::ioctl(fd, PPCLAIM) != 0) {
    r = Failure(errno);
  } else {
    unsigned char value = 0;
    if (::ioctl(fd, PPRSTATUS, &value) == 0) {
      r.status = ParallelRead::Ok;
      r.value = value;
    } else {
      r = Failure(errno);
    }
    ::ioctl(fd, PPRELEASE);
  }
  ::close(fd);
  return r;
}

std::unique_ptr<IParallelStatus> MakeLinuxParallelStatus() {
  return std::make_unique<AsyncParallelStatus>(ReadParallelStatusNow);
}

}  // namespace zv
