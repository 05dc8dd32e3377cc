#pragma once
// What opening a device came to.  A failure keeps the system's reason in
// the words the system gives it, prefixed by the device, so that the
// journal line can say it as it came ("/dev/ttyS5: Permission denied").
#include <cstring>
#include <string>

namespace zv {

struct DeviceResult {
  enum class Kind {
    Ok,
    NoDevice,     // no device named (an empty path, no device layer)
    SystemError,  // the system refused: error holds errno
    Unsupported,  // the device is there but is not of the kind needed
  };
  Kind kind = Kind::Ok;
  int error = 0;       // errno of a SystemError
  std::string reason;  // "<device>: <why>"; empty when Ok

  explicit operator bool() const { return kind == Kind::Ok; }

  static DeviceResult Success() { return {}; }
  static DeviceResult NoDevice(const std::string& device) {
    return {Kind::NoDevice, 0, (device.empty() ? std::string("(none)") : device) + ": no device"};
  }
  static DeviceResult FromErrno(const std::string& device, int err) {
    return {Kind::SystemError, err, device + ": " + std::strerror(err)};
  }
  static DeviceResult NotSupported(const std::string& device, const std::string& why) {
    return {Kind::Unsupported, 0, device + ": " + why};
  }
};

}  // namespace zv
