#include "app/Application.h"

#include <cmath>
#include <filesystem>
#include <new>

#include "alarm/AlarmInputs.h"
#include "detect/RecordPanel.h"
#include "detect/Rounding.h"
#include "detect/Viewer.h"
#include "detect/ViewerPanel.h"
#include "directory/Directory.h"
#include "link/Link.h"
#include "video/VideoInput.h"

namespace zv {

namespace {
void RunAll(const std::vector<std::function<void()>>& handlers) {
  for (const auto& h : handlers) h();
}
}  // namespace

Application::Application(Services& services, AppPaths paths)
    : journal(services.clock, paths.dataDir),
      settings(services, journal, form, cameras, paths.dataDir),
      frame(services, form, settings),
      Timer1(services.timers, [this] { RunAll(OnTimer1); }),
      Timer2(services.timers, [this] { RunAll(OnTimer2); }),
      Timer3(services.timers, [this] { RunAll(OnTimer3); }),
      Timer4(services.timers, [this] { RunAll(OnTimer4); }),
      s_(services),
      paths_(std::move(paths)) {
  video = std::make_unique<VideoInput>(*this);
  alarm = std::make_unique<AlarmInputs>(*this);
  record = std::make_unique<RecordPanel>(*this);
  viewer = std::make_unique<ViewerPanel>(*this, record->Codec);
  link = std::make_unique<LinkSubsystem>(*this);
  directory = std::make_unique<Directory>(*this);
  directory->BindWaveFile(&link->WaveFile);
  frame.RepaintCameras = [this] {
    for (int k = 1; k <= cameras.CameraCount(); ++k)
      if (TCameraInfo* c = cameras.Get(k)) c->Repaint();
  };
}

Application::~Application() = default;

std::vector<std::string> SplitAddresses(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : text) {
    if (c == ' ' || c == ',' || c == ';' || c == '\t') {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
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
                       2);
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
  journal.AddJournal("Старт программы...", 0);

  // 2. Working buffers: the viewer's read buffer and the link's receive
  // buffer (its read and write positions start at its beginning).
  try {
    FrameReadBuffer.assign(kReadBufferSize, 0);
    link->AdoptReceiveBuffer(std::make_unique<std::uint8_t[]>(link::kReceiveBufferSize));
  } catch (const std::bad_alloc&) {
    const std::string msg = "Для работы программы не хватает оперативной памяти !";
    journal.AddJournal(msg, 4);
    s_.dialogs.MessageBox(msg, "Zorvenix", MsgButtons::Ok, MsgIcon::Error);
    frame.CloseRequested();
  }

  // 3. Display check.  4. Numbers are always written with ".".
  DisplayCheck();

  // 5. Status texts, capture size.
  journal.ResetStatus();
  CaptureWidth = 352;
  CaptureHeight = 288;

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
  link->OpenPorts();

  // 11. The change indicators.
  record->DrawChangeBar();
  viewer->DrawChangeGraph();

  // 12.
  journal.AddJournal("Программа запущена", 0);

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
  ClientSocketAddress = addresses.empty() ? std::string() : addresses.front();
  // 17. The station's listening socket.
  link->StartNetwork();
  Created = true;
}

void Application::FormClose() {
  if (Closing) return;
  Closing = true;
  journal.AddJournal("Завершение программы...", 0);
  video->Shutdown();
  Timer1.SetEnabled(false);
  Timer2.SetEnabled(false);
  Timer3.SetEnabled(false);
  Timer4.SetEnabled(false);
  link->Shutdown();
  settings.SaveSettings();
  record->CloseFiles();
  viewer->Shutdown();
  cameras.FreeAll();
  FrameReadBuffer.clear();
  FrameReadBuffer.shrink_to_fit();
  journal.AddJournal("Программа завершена", 0);
}

void Application::AppEvents1Exception(const std::string& message) {
  journal.AddJournal("Ошибка: " + message + " !", 0, 0, 0, 0, 1);
}

}  // namespace zv
