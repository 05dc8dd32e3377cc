#include "platform/PortMap.h"

#include <cctype>

namespace zv {

namespace {
std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}
}  // namespace

std::string PortMap::DefaultDevice(const std::string& portName) {
  const std::string n = Upper(portName);
  auto number = [&](std::size_t prefix) -> int {
    if (n.size() <= prefix) return -1;
    int v = 0;
    for (std::size_t i = prefix; i < n.size(); ++i) {
      if (!std::isdigit(static_cast<unsigned char>(n[i])) || v > 1000) return -1;
      v = v * 10 + (n[i] - '0');
    }
    return v;
  };
  if (n.rfind("COM", 0) == 0) {
    const int v = number(3);
    if (v >= 1) return "/dev/ttyS" + std::to_string(v - 1);
  } else if (n.rfind("LPT", 0) == 0) {
    const int v = number(3);
    if (v >= 1) return "/dev/parport" + std::to_string(v - 1);
  }
  return {};
}

std::string PortMap::DeviceFor(const std::string& portName) const {
  auto it = map_.find(Upper(portName));
  if (it != map_.end() && !it->second.empty()) return it->second;
  if (!fallbackDir_.empty()) return fallbackDir_ + "/" + Upper(portName);
  return DefaultDevice(portName);
}

void PortMap::Set(const std::string& portName, const std::string& device) {
  map_[Upper(portName)] = device;
}

}  // namespace zv
