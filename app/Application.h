#pragma once
// The program's core as one object graph: journal, settings, the window's
// control state, the camera table, the frame and the timers, brought up by
// FormCreate and taken down by FormClose in a fixed order.  The Qt window
// (ui/) renders this state and forwards user actions to it.
#include <memory>
#include <string>
#include <vector>

#include "app/Cameras.h"
#include "app/FormModel.h"
#include "app/Journal.h"
#include "app/MainFrame.h"
#include "app/Settings.h"
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

class Application {
 public:
  Application(Services& services, AppPaths paths);
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
  std::string ClientSocketAddress;
  char DialMode = 'P';
  int CaptureWidth = 352, CaptureHeight = 288;
  // The viewer reads coded pictures into it; allocated at start-up.  (The
  // link's receive buffer, allocated with it, is the link's from then on.)
  std::vector<unsigned char> FrameReadBuffer;

  // Handlers of the heartbeat and the processing tick; subsystems chain
  // their work in here as they are attached.
  std::vector<std::function<void()>> OnTimer1, OnTimer2, OnTimer3, OnTimer4;

  // Subsystems, built after everything above and taken down before it.
  std::unique_ptr<VideoInput> video;    // capture device and cameras
  std::unique_ptr<AlarmInputs> alarm;   // gauges, camera alarms, defence mode
  std::unique_ptr<RecordPanel> record;  // processing tick, recording page, switcher
  std::unique_ptr<ViewerPanel> viewer;  // playback page
  std::unique_ptr<LinkSubsystem> link;  // site-station link, alarm dispatch, station side
  // Last, so that it goes first: its handlers sit on the others' controls.
  std::unique_ptr<Directory> directory;  // Objects and Abonents

 private:
  void DisplayCheck();
  void ShapeForServer();
  void ShapeForClient();

  Services& s_;
  AppPaths paths_;
};

// Splits "a, b; c" into items at blanks, commas and semicolons.
std::vector<std::string> SplitAddresses(const std::string& text);

}  // namespace zv
