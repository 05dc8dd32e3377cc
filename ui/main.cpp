// Zorvenix: one program for a protected site (client mode) and for the
// monitoring station (server mode), chosen by the settings file.
//
//   zorvenix [--dir DIR] [--seconds N] [--screenshot FILE]
//
// --dir DIR    keep the settings file, the journal and the modem logs in DIR
// --seconds N  close the window (running the whole shutdown) after N seconds
// --screenshot FILE  once every camera view shows a picture, write a picture
//              of the window to FILE and close it
#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>

#include "app/Application.h"
#include "detect/ViewerPanel.h"
#include "link/Link.h"
#include "platform/Clock.h"
#include "platform/Speaker.h"
#include "ui/CameraView.h"
#include "ui/Guard.h"
#include "ui/MainWindow.h"
#include "ui/QtMediaPlayer.h"
#include "ui/QtNet.h"
#include "ui/QtPlatform.h"
#include "ui/ZvApplication.h"

namespace {

int gSignalFd[2] = {-1, -1};

void OnSignal(int) {
  const char c = 1;
  [[maybe_unused]] ssize_t n = ::write(gSignalFd[0], &c, 1);
}

bool DirWritable(const QString& dir) {
  QFileInfo fi(dir);
  return fi.isDir() && fi.isWritable();
}

QString ResolveDataDir(const QString& explicitDir) {
  if (!explicitDir.isEmpty()) {
    QDir().mkpath(explicitDir);
    return QDir(explicitDir).absolutePath();
  }
  const QString exeDir = QCoreApplication::applicationDirPath();
  if (DirWritable(exeDir)) return exeDir;
  QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (base.isEmpty()) base = QDir::homePath() + "/.config";
  const QString dir = base + "/zorvenix";
  QDir().mkpath(dir);
  return dir;
}

}  // namespace

int main(int argc, char** argv) {
  zv::ui::ZvApplication qapp(argc, argv);
  QString dirArg;
  int seconds = 0;
  QString screenshot;
  const QStringList args = qapp.arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == "--dir" && i + 1 < args.size()) {
      dirArg = args[++i];
    } else if (args[i] == "--screenshot" && i + 1 < args.size()) {
      screenshot = args[++i];
    } else if (args[i] == "--seconds" && i + 1 < args.size()) {
      seconds = args[++i].toInt();
    } else if (args[i] == "--help" || args[i] == "-h") {
      std::printf("usage: zorvenix [--dir DIR] [--seconds N] [--screenshot FILE]\n");
      return 0;
    } else {
      std::fprintf(stderr, "zorvenix: unknown argument %s\n", args[i].toLocal8Bit().constData());
      return 2;
    }
  }
  const QString dataDir = ResolveDataDir(dirArg);
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

  zv::Application core(
      services, {QCoreApplication::applicationDirPath().toStdString(), dataDir.toStdString()});
  qapp.core = &core;
  zv::ui::SetExceptionSink([&core](const std::string& m) { core.AppEvents1Exception(m); });

  zv::ui::QtNetFactory net;
  core.link->SetNet(&net);
  zv::ui::QtMediaPlayer sound;
  core.viewer->SetMediaPlayer(&sound);
  core.link->SetMediaPlayer(&sound);

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
  window.show();

  if (!screenshot.isEmpty()) zv::ui::ScreenshotWhenLive(&window, core, screenshot);
  if (seconds > 0) QTimer::singleShot(seconds * 1000, &window, [&window] { window.close(); });

  const int rc = qapp.exec();
  core.FormClose();  // a no-op when the window already ran it
  dispatcher.Shutdown();
  qapp.core = nullptr;
  zv::ui::SetExceptionSink(nullptr);
  return rc;
}
