#pragma once
// The composition root: the foundation's objects (journal, settings, the
// window's control state, the camera table, the frame and the timers), the
// subsystems' pages made with the devices they use, the wiring of what
// they tell each other, and the start-up (FormCreate) and shutdown
// (FormClose) in a fixed order.  The Qt window (ui/) renders this state and
// forwards user actions to it.
#include <memory>
#include <string>
#include <vector>

#include "app/Cameras.h"
#include "app/Devices.h"
#include "app/FormModel.h"
#include "app/Journal.h"
#include "app/MainFrame.h"
#include "app/Picture.h"
#include "app/Settings.h"
#include "platform/Mqtt.h"
#include "platform/Services.h"
#include "platform/Timer.h"

namespace zv {

struct AppPaths {
  std::string programDir;  // the executable's folder
  std::string dataDir;     // settings file, journal, modem logs
};

class VideoInput;
class AlarmInputs;
class RecordPanel;
class ViewerPanel;
class Directory;
class LinkSubsystem;
class StationRemote;

class Application {
 public:
  // With the program's Linux devices.
  Application(Services& services, AppPaths paths);
  Application(Services& services, AppPaths paths, Devices devices);
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  void FormCreate();
  // Runs the shutdown once; later calls return at once.
  void FormClose();
  // An exception that escaped an event handler.
  void AppEvents1Exception(const std::string& message);

  Services& services() { return s_; }
  const AppPaths& paths() const { return paths_; }

  Journal journal;
  TFormModel form;
  CameraTable cameras;
  Settings settings;
  MainFrame frame;
  TTimer Timer1, Timer2, Timer3, Timer4;

  bool Closing = false;
  bool Created = false;
  // Start-up results other subsystems read.
  std::string ModemLogPath, ModemTracePath;
  char DialMode = 'P';

  // The viewer reads coded pictures into it; allocated at start-up.  (The
  // link's receive buffer, allocated with it, is the link's from then on.)
  std::vector<unsigned char> FrameReadBuffer;

  // The timers' handlers and the capture control's frame notification;
  // each runs the parts' work in a fixed order.
  void Timer1Timer();
  void Timer2Timer();
  void Timer3Timer();
  void Timer4Timer();
  void VideoVideoFrameBmp(TDateTime stamp, const TPicture& frame);

  // Subsystems, built after everything above and taken down before it.
  std::unique_ptr<VideoInput> video;    // capture device and cameras
  std::unique_ptr<AlarmInputs> alarm;   // gauges, camera alarms, defence mode
  std::unique_ptr<RecordPanel> record;  // processing tick, recording page, switcher
  std::unique_ptr<ViewerPanel> viewer;  // playback page
  std::unique_ptr<LinkSubsystem> link;  // site-station link, alarm dispatch, station side
  // Last, so that it goes first: its handlers sit on the others' controls.
  std::unique_ptr<Directory> directory;  // Objects and Abonents
  // The station's events on MQTT and what its web view reads; made at
  // start-up in server mode only.
  std::unique_ptr<StationRemote> remote;

 private:
  void DisplayCheck();
  void ShapeForServer();
  void ShapeForClient();

  Services& s_;
  AppPaths paths_;
  std::unique_ptr<IMqttFactory> mqtt_;
};

}  // namespace zv
