#pragma once
// Maps the program's port names ("COM1".."COM8", "LPT1".."LPT3") to Linux
// devices.  Unmapped names fall back to /dev/ttyS<n-1> and /dev/parport<n-1>.
// Journal texts keep the port names; only the device layer sees the paths.
#include <map>
#include <string>

namespace zv {

class PortMap {
 public:
  // "COM3" -> "/dev/ttyS2" unless set otherwise.  Case-insensitive names.
  std::string DeviceFor(const std::string& portName) const;
  std::string ComDevice(int number) const { return DeviceFor("COM" + std::to_string(number)); }
  std::string LptDevice(int number) const { return DeviceFor("LPT" + std::to_string(number)); }
  void Set(const std::string& portName, const std::string& device);
  // Forgets the explicit mappings (the fallback folder stays).
  void Clear() { map_.clear(); }
  // When set, unmapped names map to "<dir>/<NAME>" instead of the standard
  // devices: tests point it at a folder that does not exist, so that nothing
  // they start can reach a real port.
  void SetFallbackDir(std::string dir) { fallbackDir_ = std::move(dir); }
  const std::map<std::string, std::string>& Entries() const { return map_; }

  static std::string DefaultDevice(const std::string& portName);

 private:
  std::map<std::string, std::string> map_;  // upper-case name -> device
  std::string fallbackDir_;
};

}  // namespace zv
