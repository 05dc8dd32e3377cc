#pragma once
// The outside world as the core sees it: one bundle of platform interfaces,
// handed to every subsystem.  The program fills it with Qt and Linux
// implementations; tests with fakes.
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Dispatcher.h"
#include "platform/Display.h"
#include "platform/EventPump.h"
#include "platform/PortMap.h"
#include "platform/Speaker.h"
#include "platform/Timer.h"

namespace zv {

struct Services {
  IClock& clock;
  IDispatcher& dispatcher;
  IEventPump& pump;
  ITimerFactory& timers;
  IDialogs& dialogs;
  ISpeaker& speaker;
  IDisplayInfo& display;
  PortMap& ports;
};

}  // namespace zv
