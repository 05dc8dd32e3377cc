#include "platform/LinuxSerialDevice.h"

// termios2 (arbitrary rates) comes from the kernel headers; <termios.h> must
// stay out of this file because the two declare the same names.
#include <asm/termbits.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>

namespace zv {

namespace {

struct RateCode {
  unsigned baud;
  unsigned code;
};

// Rates termios has a constant for; the others go through BOTHER.
constexpr RateCode kRates[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool IsGone(int err) {
  return err == EIO || err == ENODEV || err == ENXIO || err == EBADF;
}

}  // namespace

std::unique_ptr<ISerialDevice> MakeLinuxSerialDevice() {
  return std::make_unique<LinuxSerialDevice>();
}

LinuxSerialDevice::LinuxSerialDevice() {
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

LinuxSerialDevice::~LinuxSerialDevice() {
  Close();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

DeviceResult LinuxSerialDevice::Open(const std::string& path) {
  if (path.empty()) return DeviceResult::NoDevice(path);
  if (fd_ >= 0) return DeviceResult::FromErrno(path, EBUSY);
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return DeviceResult::FromErrno(path, errno);
  // Exclusive use: a second open of the same device fails (except for root).
  if (::ioctl(fd, TIOCEXCL) != 0) {
    const int err = errno;
    ::close(fd);
    return DeviceResult::FromErrno(path, err);
  }
  fd_ = fd;
  return DeviceResult::Success();
}

DeviceResult LinuxSerialDevice::Probe(const std::string& path) {
  if (path.empty()) return DeviceResult::NoDevice(path);
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return DeviceResult::FromErrno(path, errno);
  ::close(fd);
  return DeviceResult::Success();
}

void LinuxSerialDevice::Close() {
  if (fd_ < 0) return;
  ::ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  fd_ = -1;
}

bool LinuxSerialDevice::SetLine(const SerialLine& line) {
  if (fd_ < 0) return false;
  struct termios2 tio {};
  if (::ioctl(fd_, TCGETS2, &tio) != 0) return false;

  tcflag_t size;
  switch (line.dataBits) {
    case 5:
      size = CS5;
      break;
    case 6:
      size = CS6;
      break;
    case 7:
      size = CS7;
      break;
    case 8:
      size = CS8;
      break;
    default:
      return false;  // termios knows no 4-bit characters
  }
  // One and a half stop bits exist on a UART only with 5-bit characters,
  // where the two-stop-bit setting gives them.
  if (line.stopBits == SerialStopBits::OneAndHalf && line.dataBits != 5) return false;
  if (line.baud == 0) return false;

  // Raw binary line: no echo, no line editing, no translations, no XON/XOFF,
  // no parity checking of input; output flow by hardware handshake.
  tio.c_iflag &=
      ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
  tio.c_oflag &= ~OPOST;
  tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= size | CREAD | CLOCAL | CRTSCTS;
  switch (line.parity) {
    case SerialParity::None:
      break;
    case SerialParity::Odd:
      tio.c_cflag |= PARENB | PARODD;
      break;
    case SerialParity::Even:
      tio.c_cflag |= PARENB;
      break;
    case SerialParity::Mark:
      tio.c_cflag |= PARENB | PARODD | CMSPAR;
      break;
    case SerialParity::Space:
      tio.c_cflag |= PARENB | CMSPAR;
      break;
  }
  if (line.stopBits != SerialStopBits::One) tio.c_cflag |= CSTOPB;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;

  unsigned code = BOTHER;
  for (const auto& r : kRates)
    if (r.baud == line.baud) code = r.code;
  tio.c_cflag |= code;
  tio.c_ispeed = line.baud;
  tio.c_ospeed = line.baud;
  if (::ioctl(fd_, TCSETS2, &tio) != 0) return false;

  // Read back: a driver silently dropping a setting must not pass.
  struct termios2 got {};
  if (::ioctl(fd_, TCGETS2, &got) != 0) return false;
  const tcflag_t mask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
  if ((got.c_cflag & mask) != (tio.c_cflag & mask)) return false;
  const long want = static_cast<long>(line.baud);
  const long have = static_cast<long>(got.c_ospeed);
  // Real UARTs divide a base clock; accept what lies within 2 % of the rate.
  if (std::labs(have - want) * 50 > want) return false;
  return true;
}

long LinuxSerialDevice::Read(void* buf, std::size_t n, bool& gone) {
  gone = false;
  if (fd_ < 0) return -1;
  const ssize_t r = ::read(fd_, buf, n);
  if (r > 0) return static_cast<long>(r);
  if (r == 0) return 0;
  if (errno == EAGAIN || errno == EINTR) return 0;
  gone = IsGone(errno);
  return -1;
}

long LinuxSerialDevice::Write(const void* buf, std::size_t n, bool& gone) {
  gone = false;
  if (fd_ < 0) return -1;
  const ssize_t r = ::write(fd_, buf, n);
  if (r >= 0) return static_cast<long>(r);
  if (errno == EAGAIN || errno == EINTR) return 0;
  gone = IsGone(errno);
  return -1;
}

int LinuxSerialDevice::InQueue() {
  int n = 0;
  if (fd_ < 0 || ::ioctl(fd_, FIONREAD, &n) != 0) return -1;
  return n;
}

int LinuxSerialDevice::OutQueue() {
  int n = 0;
  if (fd_ < 0 || ::ioctl(fd_, TIOCOUTQ, &n) != 0) return -1;
  return n;
}

bool LinuxSerialDevice::GetModemLines(SerialModemLines& lines) {
  int bits = 0;
  if (fd_ < 0 || ::ioctl(fd_, TIOCMGET, &bits) != 0) return false;
  lines.cts = bits & TIOCM_CTS;
  lines.dsr = bits & TIOCM_DSR;
  lines.rlsd = bits & TIOCM_CD;
  lines.ring = bits & TIOCM_RI;
  return true;
}

bool LinuxSerialDevice::GetCounters(SerialCounters& c) {
  struct serial_icounter_struct ic {};
  if (fd_ < 0 || ::ioctl(fd_, TIOCGICOUNT, &ic) != 0) return false;
  c.cts = static_cast<std::uint32_t>(ic.cts);
  c.dsr = static_cast<std::uint32_t>(ic.dsr);
  c.rlsd = static_cast<std::uint32_t>(ic.dcd);
  c.ring = static_cast<std::uint32_t>(ic.rng);
  c.brk = static_cast<std::uint32_t>(ic.brk);
  c.frame = static_cast<std::uint32_t>(ic.frame);
  c.overrun = static_cast<std::uint32_t>(ic.overrun);
  c.parity = static_cast<std::uint32_t>(ic.parity);
  c.bufOverrun = static_cast<std::uint32_t>(ic.buf_overrun);
  return true;
}

SerialWait LinuxSerialDevice::WaitInput(int timeoutMs) {
  if (fd_ < 0) return SerialWait::Gone;
  struct pollfd p[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
  const int r = ::poll(p, wakeFd_ >= 0 ? 2 : 1, timeoutMs);
  if (r < 0) return errno == EINTR ? SerialWait::Timeout : SerialWait::Gone;
  if (r == 0) return SerialWait::Timeout;
  if (wakeFd_ >= 0 && (p[1].revents & POLLIN)) {
    std::uint64_t v;
    [[maybe_unused]] ssize_t n = ::read(wakeFd_, &v, sizeof v);
    return SerialWait::Woken;
  }
  if (p[0].revents & POLLIN) return SerialWait::Readable;
  if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return SerialWait::Gone;
  return SerialWait::Timeout;
}

void LinuxSerialDevice::Wake() {
  if (wakeFd_ < 0) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void LinuxSerialDevice::PurgeInput() {
  if (fd_ >= 0) ::ioctl(fd_, TCFLSH, TCIFLUSH);
}

void LinuxSerialDevice::PurgeOutput() {
  if (fd_ >= 0) ::ioctl(fd_, TCFLSH, TCOFLUSH);
}

}  // namespace zv
