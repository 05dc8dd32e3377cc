#include "app/Devices.h"

#include "platform/LinuxModemLines.h"
#include "platform/LinuxParallelPort.h"
#include "platform/LinuxSerialDevice.h"
#include "platform/LinuxSwitcherLines.h"
#include "platform/MosquittoClient.h"
#include "platform/V4l2Capture.h"
#include "video/EmulatedCamera.h"

namespace zv {

Devices LinuxDevices(IClock& clock, IDispatcher& dispatcher) {
  Devices d;
  d.capture = std::make_unique<V4l2Capture>();
  d.emulatedCapture = std::make_unique<EmulatedCamera>(clock);
  d.switcherLines = MakeLinuxSwitcherLines();
  d.gaugeLines = MakeLinuxModemLines();
  d.gaugeParallelPort = MakeLinuxParallelStatus();
  d.serialLines = MakeLinuxSerialDevice;
  d.mqtt = std::make_unique<MosquittoFactory>(dispatcher);
  return d;
}

}  // namespace zv
