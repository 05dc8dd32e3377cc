#pragma once
// The devices the program talks through.  The composition root makes the
// program's (LinuxDevices) and hands each to the part that uses it; tests
// hand in their own.  No other part makes a device.
#include <memory>

#include "platform/Capture.h"
#include "platform/Clock.h"
#include "platform/Dispatcher.h"
#include "platform/MediaPlayer.h"
#include "platform/ModemLines.h"
#include "platform/Mqtt.h"
#include "platform/Net.h"
#include "platform/ParallelPort.h"
#include "platform/SerialDevice.h"
#include "platform/SwitcherLines.h"

namespace zv {

struct Devices {
  std::unique_ptr<ICaptureDriver> capture;             // the capture card
  std::unique_ptr<IEmulatedCapture> emulatedCapture;   // the card without hardware
  std::unique_ptr<ISwitcherLines> switcherLines;       // the video switcher's port
  std::unique_ptr<IModemLines> gaugeLines;             // the serial gauges' port
  std::unique_ptr<IParallelStatus> gaugeParallelPort;  // the parallel gauges' port
  SerialDeviceFactory serialLines;                     // the link's port and the modem's
  INetFactory* net = nullptr;                          // sockets (none: no network link)
  IMediaPlayer* player = nullptr;                      // the alarm sound (none: no sound)
  std::unique_ptr<IMqttFactory> mqtt;                  // the station's MQTT client (none: no MQTT)
};

// The devices of the program on Linux: V4L2, the emulated card, ttys, ppdev.
// The sockets and the sound player are the toolkit's; the program adds them.
// The MQTT client posts its events to the main loop through dispatcher.
Devices LinuxDevices(IClock& clock, IDispatcher& dispatcher);

}  // namespace zv
