// Zorvenix: one program for a protected site (client mode) and for the
// monitoring station (server mode), chosen by the settings file.
//
//   zorvenix [--dir DIR] [--seconds N] [--page CAPTION] [--screenshot FILE]
//   zorvenix --export PAIR.dsc --camera N [--from T] [--to T] [--h264] OUT
//
// The options are described in ui/StartOptions.cpp and in docs/zorvenix.1.
#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QDir>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>

#include "app/Application.h"
#include "app/BeepQueue.h"
#include "app/DataFolder.h"
#include "app/Remote.h"
#include "platform/Clock.h"
#include "platform/FfmpegCamera.h"
#include "platform/FfmpegClipWriter.h"
#include "platform/FfmpegLog.h"
#include "platform/PcSpeaker.h"
#include "ui/CameraView.h"
#include "ui/ExportMain.h"
#include "ui/Guard.h"
#include "ui/MainWindow.h"
#include "ui/QtMediaPlayer.h"
#include "ui/QtNet.h"
#include "ui/QtPlatform.h"
#include "ui/RemoteDialog.h"
#include "ui/StartOptions.h"
#include "ui/WebFront.h"
#include "ui/ZvApplication.h"
#include "ui/web/PasswordCommand.h"

namespace {

int gSignalFd[2] = {-1, -1};

void OnSignal(int) {
  const char c = 1;
  [[maybe_unused]] ssize_t n = ::write(gSignalFd[0], &c, 1);
}

}  // namespace

int main(int argc, char** argv) {
  // Answered before Qt starts, so that they need no display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("%s", zv::ui::StartUsage());
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("zorvenix %s\n", ZV_VERSION);
      return 0;
    }
  }
  // A clip export needs no window, and so no display.
  if (zv::ui::ExportAsked(argc, argv)) return zv::ui::ExportMain(argc, argv);
  // The web view's password is set without the window system.
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (zv::web::WantsPasswordCommand(args)) {
    std::error_code ec;
    const std::string programDir =
        std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().string();
    const auto folder = [&](const std::string& dir, std::string& error) {
      const char* xdg = std::getenv("XDG_CONFIG_HOME");
      const char* home = std::getenv("HOME");
      return zv::ChooseDataFolder(
          {dir, programDir, ZV_INSTALL_BINDIR, xdg ? xdg : "", home ? home : ""}, error);
    };
    return zv::web::RunPasswordCommand(args, folder, std::cin, std::cout, std::cerr,
                                       ::isatty(STDIN_FILENO) != 0);
  }
  zv::ui::ZvApplication qapp(argc, argv);
  zv::ui::StartOptions opt;
  QString error;
  if (!zv::ui::ParseStartOptions(qapp.arguments().mid(1), opt, error)) {
    std::fprintf(stderr, "zorvenix: %s\n%s", error.toLocal8Bit().constData(), zv::ui::StartUsage());
    return 2;
  }
  std::string folderError;
  const QString dataDir = QString::fromStdString(zv::ChooseDataFolder(
      {opt.dir.toStdString(), QCoreApplication::applicationDirPath().toStdString(),
       ZV_INSTALL_BINDIR, qEnvironmentVariable("XDG_CONFIG_HOME").toStdString(),
       qEnvironmentVariable("HOME").toStdString()},
      folderError));
  if (dataDir.isEmpty()) {
    std::fprintf(stderr, "zorvenix: %s\n", folderError.c_str());
    return 1;
  }
  // The journal file is opened by its bare name in the working folder.
  QDir::setCurrent(dataDir);

  zv::SystemClock clock;
  zv::ui::QtDispatcher dispatcher;
  zv::ui::QtEventPump pump(dispatcher);
  zv::ui::QtTimerFactory timers;
  zv::ui::QtDialogs dialogs;
  zv::ui::QtToneSpeaker toneSpeaker;
  zv::PcSpeaker speaker(&toneSpeaker);
  zv::ui::QtDisplayInfo display;
  zv::PortMap ports;
  zv::Services services{clock, dispatcher, pump, timers, dialogs, speaker, display, ports};

  // The program's devices, handed to the core: the Linux ones and the
  // toolkit's sockets and sound player.
  zv::ui::QtNetFactory net;
  zv::ui::QtMediaPlayer sound;
  // Network cameras: the decoder library's log goes through the hook that
  // removes credentials before any stream is opened.
  zv::InstallFfmpegLogHook();
  zv::FfmpegCameraFactory netCameras;
  zv::FfmpegClipWriterFactory clipWriters;
  // The station's beeps play on a thread of their own, never holding the loop.
  zv::BeepQueue beeps(speaker);
  zv::Devices devices = zv::LinuxDevices(clock, dispatcher);
  devices.net = &net;
  devices.player = &sound;
  devices.netCameras = &netCameras;
  devices.clipWriters = &clipWriters;
  devices.beeps = &beeps;
  zv::Application core(
      services, {QCoreApplication::applicationDirPath().toStdString(), dataDir.toStdString()},
      std::move(devices));
  qapp.core = &core;
  zv::ui::SetExceptionSink([&core](const std::string& m) { core.AppEvents1Exception(m); });

  zv::ui::TForm1 window(core);
  // SIGTERM and SIGINT close the window as the menu's "Exit" does.  Set up
  // before start-up, so that a signal arriving during it is not lost.
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, gSignalFd) == 0) {
    auto* notifier = new QSocketNotifier(gSignalFd[1], QSocketNotifier::Read, &qapp);
    QObject::connect(notifier, &QSocketNotifier::activated, [&window] {
      char buf[16];
      [[maybe_unused]] ssize_t n = ::read(gSignalFd[1], buf, sizeof buf);
      window.close();
    });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
  }
  core.FormCreate();
  // A stop that came during start-up (the arming countdown lets events run)
  // has run the shutdown already: the window is not shown, the program ends.
  const bool stopped = core.Closing;
  // The station's web view, beside the window: it reads what the core made.
  std::unique_ptr<zv::ui::WebFront> web;
  if (core.remote && !stopped) {
    web = std::make_unique<zv::ui::WebFront>(*core.remote, core.journal);
    web->Apply(core.remote->Web());
    core.remote->Closing.Connect([&web] { web->Stop(); });
    window.SetRemoteSettings([&window, &core, &web] {
      zv::ui::RemoteDialog dialog(*core.remote, *web, &window);
      dialog.exec();
    });
  }
  if (!stopped) window.show();

  int failed = 0;
  if (!opt.page.isEmpty()) {
    if (zv::TTabSheet* page = zv::ui::ShownPage(core, opt.page)) {
      zv::ui::OpenPageWhenShown(&window, core, page);
    } else {
      std::fprintf(stderr, "zorvenix: no page \"%s\" in this mode\n",
                   opt.page.toLocal8Bit().constData());
      failed = 2;
      QTimer::singleShot(0, &window, [&window] { window.close(); });
    }
  }
  if (!opt.screenshot.isEmpty()) zv::ui::ScreenshotWhenLive(&window, core, opt.screenshot);
  if (opt.seconds > 0)
    QTimer::singleShot(opt.seconds * 1000, &window, [&window] { window.close(); });

  const int rc = stopped ? 0 : qapp.exec();
  // The web view goes before the core it reads.
  window.SetRemoteSettings(nullptr);
  web.reset();
  core.FormClose();  // a no-op when the window already ran it
  dispatcher.Shutdown();
  qapp.core = nullptr;
  zv::ui::SetExceptionSink(nullptr);
  return failed ? failed : rc;
}
