#include "app/Application.h"

#include <cmath>
#include <filesystem>
#include <new>

#include "alarm/AlarmInputs.h"
#include "app/BeepQueue.h"
#include "app/Remote.h"
#include "app/Text.h"
#include "app/Thresholds.h"
#include "detect/RecordPanel.h"
#include "detect/Viewer.h"
#include "detect/ViewerPanel.h"
#include "directory/Directory.h"
#include "link/Link.h"
#include "video/VideoInput.h"

namespace zv {

Application::Application(Services& services, AppPaths paths)
    : Application(services, std::move(paths), LinuxDevices(services.clock, services.dispatcher)) {}

Application::Application(Services& services, AppPaths paths, Devices devices)
    : journal(services.clock, paths.dataDir),
      settings(services, journal, form, cameras, paths.dataDir),
      frame(services, form, settings),
      Timer1(services.timers, [this] { Timer1Timer(); }),
      Timer2(services.timers, [this] { Timer2Timer(); }),
      Timer3(services.timers, [this] { Timer3Timer(); }),
      Timer4(services.timers, [this] { Timer4Timer(); }),
      s_(services),
      paths_(std::move(paths)),
      mqtt_(std::move(devices.mqtt)) {
  // --- the parts, each with the devices it uses
  video = std::make_unique<VideoInput>(s_, journal, form, settings, frame, cameras,
                                       std::move(devices.capture),
                                       std::move(devices.emulatedCapture), devices.netCameras);
  alarm = std::make_unique<AlarmInputs>(s_, journal, form, frame, settings, cameras,
                                        std::move(devices.gaugeLines),
                                        std::move(devices.gaugeParallelPort));
  record = std::make_unique<RecordPanel>(s_, journal, form, frame, settings, cameras, video->Intake,
                                         alarm->Status, Timer1, std::move(devices.switcherLines));
  viewer = std::make_unique<ViewerPanel>(journal, form, settings, cameras, Timer2, record->Codec,
                                         FrameReadBuffer);
  viewer->SetMediaPlayer(devices.player);
  ClipWriters = devices.clipWriters;
  link = std::make_unique<LinkSubsystem>(LinkContext{s_, journal, form, settings, cameras,
                                                     video->Intake, video->Video, alarm->Status,
                                                     *alarm, Timer4, devices.serialLines});
  link->SetNet(devices.net);
  link->SetMediaPlayer(devices.player);
  if (BeepQueue* beeps = devices.beeps)
    link->status.PlayPattern = [beeps](std::string_view pattern) { beeps->Play(pattern); };
  directory = std::make_unique<Directory>(s_.dialogs, journal, form, settings, cameras);

  // --- what the parts tell each other (docs/architecture.md, "Cross-subsystem facts")
  // The capture control's frames go through VideoVideoFrameBmp below.
  video->Video.OnVideoFrameBmp = [this](TDateTime stamp, const TPicture& picture) {
    VideoVideoFrameBmp(stamp, picture);
  };
  // So do the pictures of the cameras with their own network source.
  video->OnCameraFrame = [this](int k, TDateTime stamp, const TPicture& picture) {
    CameraFrameBmp(k, stamp, picture);
  };
  // A stop in the middle of the arming countdown ends the countdown too.
  alarm->defence.Closing = [this] { return Closing; };
  // Recording on: the recording page states it, the capture page reads it.
  video->IsRecording = [this] { return record->Recording(); };
  // The frame cycle steps the video switcher through the recording page's port.
  video->Intake.SwitchCamera = [this](int n) { record->SwitchCamera(n); };
  // The playback page follows the camera count and lays the views out again.
  video->CameraCountChanged.Connect([this](int n) {
    if (viewer) viewer->CameraCountChanged(n);
  });
  viewer->RelayoutCameras = [this] { video->ViewPanelResize(); };
  // The playback page follows the pair being recorded.
  record->PairChosen.Connect([this](const std::string& dsc) { viewer->PointAt(dsc); });
  record->RecordWritten.Connect(
      [this](const std::string& dsc, std::int32_t n) { viewer->RecorderWrote(dsc, n); });
  record->ThresholdsChanged.Connect([this] { viewer->DrawChangeGraph(); });
  // The voice file edit of "Дозвон" is the link's; the directory shows the
  // selected Abonent's file in it.
  directory->BindWaveFile(&link->WaveFile);
  directory->CamerasChanged.Connect([this] { video->ViewPanelResize(); });
  frame.RepaintCameras = [this] {
    for (int k = 1; k <= cameras.CameraCount(); ++k)
      if (TCameraInfo* c = cameras.Get(k)) c->Repaint();
  };
}

Application::~Application() {
  // Down in the reverse order of building: the directory's handlers sit on
  // the others' controls, the link on the capture control's frames.
  remote.reset();
  directory.reset();
  video->Video.OnVideoFrameBmp = [this](TDateTime stamp, const TPicture& picture) {
    video->Intake.VideoVideoFrameBmp(stamp, picture);
  };
  video->OnCameraFrame = [this](int k, TDateTime stamp, const TPicture& picture) {
    video->Intake.CameraFrameBmp(k, stamp, picture);
  };
  link.reset();
  video->IsRecording = nullptr;
  video->Intake.SwitchCamera = nullptr;
  record.reset();
  viewer.reset();
  alarm.reset();
  video.reset();
}

void Application::DisplayCheck() {
  const DisplayMetrics m = s_.display.Query();
  if (m.bitsPerPixel < 16 || m.width < 800) {
    s_.dialogs.MessageBox(
        "Для нормальной работы программы с видео необходимо установить режим дисплея\r\n"
        "не менее 65536 цветов (16 бит) на точку и разрешение не менее 800 x 600 !\r\n"
        "\r\n"
        "Проверьте, пожалуйста, правильность установки драйверов видеокарточки в Windows и "
        "конфигурацию\r\n"
        "видеоадаптера (см. \"Свойства экрана\" --> \"Настройка\" (и \"Дополнительно\" --> "
        "\"Адаптер\")) !",
        "Zorvenix", MsgButtons::Ok, MsgIcon::Warning);
    journal.AddJournal("Низкое разрешение экрана (" + std::to_string(m.width) + "x" +
                           std::to_string(m.height) + "x" + std::to_string(m.bitsPerPixel) + ") !",
                       jkNotice);
  }
}

void Application::ShapeForServer() {
  form.TabSheet1.SetTabVisible(false);
  form.TabSheet3.SetTabVisible(false);
  form.TabSheet4.SetTabVisible(false);
  form.TabSheet5.SetTabVisible(false);
  form.TabSheet7.SetTabVisible(true);
  frame.SetActivePage(&form.TabSheet7);
  form.Caption += " (Сервер)";
  form.SwitchModeBtn.SetVisible(false);
  form.Video.SetVisible(false);
  form.LiveVideoPanel.SetVisible(false);
  form.CamerasAmount.SetValue(cameras.CameraCount());
  form.SoundPanel.SetVisible(false);
}

void Application::ShapeForClient() {
  form.ObjViewPanel.SetVisible(false);
  form.CamViewListBox.OwnerDraw = false;
  form.ViewCamsExpand.SetVisible(false);
  form.TabSheet6.Tag = 204;
  form.TabSheet7.SetTabVisible(false);
  form.AllCams.SetVisible(false);
  form.TabSheet5.SetTabVisible(true);
  frame.SetActivePage(&form.TabSheet5);
  form.Caption += " (Клиент)";
  video->StartClient();
  record->WriteCamChange();
}

void Application::FormCreate() {
  // 1. The journal view starts empty.
  journal.ClearView();
  journal.ResetStatus();
  journal.AddJournal("Старт программы...", jkInfo);

  // 2. Working buffers: the viewer's read buffer and the link's receive
  // buffer (its read and write positions start at its beginning).
  try {
    FrameReadBuffer.assign(kReadBufferSize, 0);
    link->AdoptReceiveBuffer(std::make_unique<std::uint8_t[]>(link::kReceiveBufferSize));
  } catch (const std::bad_alloc&) {
    const std::string msg = "Для работы программы не хватает оперативной памяти !";
    journal.AddJournal(msg, jkError);
    s_.dialogs.MessageBox(msg, "Zorvenix", MsgButtons::Ok, MsgIcon::Error);
    frame.CloseRequested();
  }

  // 3. Display check.  4. Numbers are always written with ".".
  DisplayCheck();

  // 5. Status texts, capture size.
  journal.ResetStatus();
  video->Intake.CaptureWidth = 352;
  video->Intake.CaptureHeight = 288;

  // 6. The modem's log files lie in the data folder.
  ModemLogPath = (std::filesystem::path(paths_.dataDir) / "Debug.log").string();
  ModemTracePath = (std::filesystem::path(paths_.dataDir) / "Trace.log").string();

  // 7. Settings.
  settings.LoadSettings();

  // 9. The window's shape for the mode.
  if (settings.ServerMode)
    ShapeForServer();
  else
    ShapeForClient();
  // The pair restored with the settings was opened before any camera
  // existed: its record is shown now that they do.
  if (viewer->Session.IsOpen()) viewer->ShowRecord(viewer->Session.nav.value);

  // 10. The port handlers, held back while the settings were loading.
  alarm->OpenPorts();
  if (!settings.ServerMode) record->SwitcherComPortChange();
  link->OpenPorts(ModemLogPath, ModemTracePath);
  // The station's outside connections (MQTT; the web view reads them too).
  if (settings.ServerMode) {
    remote = std::make_unique<StationRemote>(s_, journal, settings, form, *link, mqtt_.get(),
                                             paths_.dataDir);
    remote->Start();
  }

  // 11. The change indicators.
  record->DrawChangeBar();
  viewer->DrawChangeGraph();

  // 12.
  journal.AddJournal("Программа запущена", jkInfo);

  // 13. Auto-start of recording and arming (a site only).
  if (!settings.ServerMode) {
    if (form.AutoStartRecord.Checked()) form.RecordBtn.Click();
    if (form.AutoStartDefence.Checked()) form.SwitchModeBtn.Click();
  }
  // Stopped during the arming countdown (it lets events run): the shutdown
  // has run already, nothing more is started.
  if (Closing) return;

  // 14. Dial mode.
  DialMode = form.DialType.ItemIndex() == 0 ? 'P' : 'T';

  // 15. Timers.
  const double freq = form.RecFreq.Value() > 0 ? form.RecFreq.Value() : 100.0;
  Timer1.SetInterval(static_cast<unsigned>(RoundToEven(60000.0 / freq)));
  Timer1.SetEnabled(true);
  Timer3.SetInterval(1000);
  Timer3.SetEnabled(true);

  // 16. The station address the site connects to.
  const auto addresses = SplitAddresses(form.ServerAddresses.Text());
  link->ClientSocketAddress = addresses.empty() ? std::string() : addresses.front();
  // 17. The station's listening socket.
  link->StartNetwork();
  Created = true;
}

void Application::FormClose() {
  if (Closing) return;
  Closing = true;
  link->ProgramClosing();
  journal.AddJournal("Завершение программы...", jkInfo);
  video->Shutdown();
  Timer1.SetEnabled(false);
  Timer2.SetEnabled(false);
  Timer3.SetEnabled(false);
  Timer4.SetEnabled(false);
  if (remote) remote->Shutdown();
  link->Shutdown();
  settings.SaveSettings();
  record->CloseFiles();
  viewer->Shutdown();
  cameras.FreeAll();
  FrameReadBuffer.clear();
  FrameReadBuffer.shrink_to_fit();
  journal.AddJournal("Программа завершена", jkInfo);
}

// --- the timers and the frame notification, each doing its parts in a
// fixed order

void Application::Timer1Timer() {
  record->Timer1Timer();  // the processing tick
}

void Application::Timer2Timer() {
  viewer->Timer2Timer();  // playback stepping
}

void Application::Timer3Timer() {
  // The heartbeat.  The gauge poll comes first: the alarm dispatch in the
  // link's part decides on this beat's answer.
  alarm->PollGauges();
  viewer->FollowSound();
  link->Heartbeat();
  if (remote) remote->Heartbeat();
}

void Application::Timer4Timer() {
  link->dispatch.CountAlarmSecond();
}

void Application::VideoVideoFrameBmp(TDateTime stamp, const TPicture& frame) {
  // The frame intake first; then, at a site, the next picture follows the
  // frame to the station.
  video->Intake.VideoVideoFrameBmp(stamp, frame);
  link->FrameTaken();
}

void Application::CameraFrameBmp(int k, TDateTime stamp, const TPicture& frame) {
  // As a captured frame: the intake, then the link's next picture.
  video->Intake.CameraFrameBmp(k, stamp, frame);
  link->FrameTaken();
}

void Application::AppEvents1Exception(const std::string& message) {
  journal.AddFailure(message);
}

}  // namespace zv
