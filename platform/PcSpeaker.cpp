#include "platform/PcSpeaker.h"

#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace zv {

PcSpeaker::PcSpeaker(ISpeaker* fallback, std::string devicePath) : fallback_(fallback) {
  if (devicePath.empty()) devicePath = FindDevice();
  if (!devicePath.empty()) fd_ = ::open(devicePath.c_str(), O_WRONLY | O_CLOEXEC);
}

PcSpeaker::~PcSpeaker() {
  if (fd_ >= 0) {
    SetDirectTone(0);
    ::close(fd_);
  }
}

std::string PcSpeaker::FindDevice() {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path base = "/sys/class/input";
  if (!fs::exists(base, ec)) return {};
  for (const auto& entry : fs::directory_iterator(base, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("event", 0) != 0) continue;
    std::ifstream f(entry.path() / "device" / "name");
    std::string devName;
    std::getline(f, devName);
    if (devName.find("PC Speaker") != std::string::npos) return "/dev/input/" + name;
  }
  return {};
}

void PcSpeaker::SetDirectTone(unsigned hz) {
  if (fd_ < 0) return;
  input_event ev{};
  ev.type = EV_SND;
  ev.code = SND_TONE;
  ev.value = static_cast<int>(hz);
  [[maybe_unused]] ssize_t n = ::write(fd_, &ev, sizeof ev);
}

void PcSpeaker::Beep(unsigned hz, unsigned ms) {
  if (fallback_) {
    fallback_->Beep(hz, ms);
    return;
  }
  if (fd_ >= 0) {
    SetDirectTone(hz);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    SetDirectTone(0);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void PcSpeaker::DefaultBeep() {
  if (fallback_)
    fallback_->DefaultBeep();
  else
    Beep(800, 100);
}

}  // namespace zv
