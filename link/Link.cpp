#include "link/Link.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <exception>

#include "alarm/AlarmInputs.h"
#include "app/Application.h"
#include "detect/PictureCodec.h"
#include "video/Camera.h"
#include "video/VideoInput.h"

namespace zv {

namespace {
// The site stops queueing pictures while this much is still unsent: the next
// frame is newer anyway, and a station that reads slowly is not flooded.
constexpr std::size_t kPictureBacklog = 2u * 1024 * 1024;
constexpr double kConnectionTimeout = 300 * kOneSecond;

std::string ErrorText(const std::exception& e) {
  return std::string("Ошибка: ") + e.what() + " !";
}
}  // namespace

LinkSubsystem::LinkSubsystem(Application& a)
    : app(a),
      dispatch(*this),
      station(*this),
      VoiceModem1(a.services().clock, a.services().dispatcher, a.services().ports),
      CommPort1(a.services().dispatcher, a.services().ports),
      clientAssembler_([this](const LinkMessage& m) { HandleLinkMessage(m); }),
      serialAssembler_([this](const LinkMessage& m) { HandleLinkMessage(m); }),
      modemReceiver_([this](const std::uint8_t* p, std::size_t n) { station.ModemPicture(p, n); },
                     [this](std::int64_t n) {
                       app.journal.AddJournal("Ошибка: размер картинки " + std::to_string(n) +
                                                  " байт превышает буфер приёма !",
                                              0, 0, 0, 0, 33);
                     }) {
  ModemProfile1.ModemName = "Motorola SM56";
  VoiceModem1.SetProfile(&ModemProfile1);
  VoiceModem1.SetDriver(&MotorolaSM561);
  VoiceModem1.OnYield = [this] { app.services().pump.ProcessEvents(); };
  VoiceModem1.OnEvent = [this](int ev, TEventData d, int& r) {
    dispatch.VoiceModem1Event(ev, d, r);
  };
  VoiceModem1.OnRead = [this](const std::uint8_t* p, int n) { VoiceModem1Read(p, n); };
  CommPort1.SetBaudRate(br115200);
  CommPort1.OnDataAvail = [this](int n) { CommPort1DataAvail(n); };

  TFormModel& f = app.form;
  f.Button1.OnClick = [this] { Button1Click(); };
  f.ServerAddresses.OnChange = [this] { ServerAddressesChange(); };
  f.ClientComPort.OnChange = [this] { ClientComPortChange(false); };
  f.ServerComPort.OnChange = [this] { ClientComPortChange(true); };
  f.ObjectListBox.OnClickCheck = [this](int i) { station.ObjectListBoxClickCheck(i); };
  WaveTest.OnClick = [this] { dispatch.WaveTestClick(); };
  WaveRec.OnClick = [this] { dispatch.WaveRecClick(); };
  RecStopBtn.OnClick = [this] { dispatch.RecStopBtnClick(); };
  WaveTest.SetCaption("Прослушать");
  WaveRec.SetCaption("Записать");
  RecStopBtn.SetCaption("Стоп");
  RecStopBtn.SetVisible(false);

  app.OnTimer3.push_back([this] { Timer3Timer(); });
  app.OnTimer4.push_back([this] { dispatch.Timer4Timer(); });
  // At a site with the network link every frame is followed by a picture.
  previousFrameHandler_ = app.video->Video.OnVideoFrameBmp;
  app.video->Video.OnVideoFrameBmp = [this](TDateTime t, const TPicture& frame) {
    if (previousFrameHandler_) previousFrameHandler_(t, frame);
    if (!ServerMode() && CommKind() == 2) Button1Click();
  };
}

LinkSubsystem::~LinkSubsystem() {
  Shutdown();
  app.video->Video.OnVideoFrameBmp = previousFrameHandler_;
  TFormModel& f = app.form;
  f.Button1.OnClick = nullptr;
  f.ServerAddresses.OnChange = nullptr;
  f.ClientComPort.OnChange = nullptr;
  f.ServerComPort.OnChange = nullptr;
  f.ObjectListBox.OnClickCheck = nullptr;
  VoiceModem1.OnYield = nullptr;
  VoiceModem1.OnEvent = nullptr;
  VoiceModem1.OnRead = nullptr;
}

bool LinkSubsystem::ServerMode() const {
  return app.settings.ServerMode;
}

int LinkSubsystem::CommKind() const {
  return ServerMode() ? app.form.ServerCommType.ItemIndex() : app.form.ClientCommType.ItemIndex();
}

bool LinkSubsystem::Recording() const {
  return IsRecording ? IsRecording() : app.form.RecordBtn.Down();
}

std::string LinkSubsystem::SoundFile() const {
  return app.settings.DataDir() + "/Sound.wav";
}

int LinkSubsystem::ConnectionCount() const {
  int n = 0;
  for (const auto& c : connections_)
    if (!c.dead) ++n;
  return n;
}

long long LinkSubsystem::MessagesHandled() const {
  long long n = closedHandled_ + clientAssembler_.Handled() + serialAssembler_.Handled();
  for (const auto& c : connections_) n += c.assembler.Handled();
  return n;
}

void LinkSubsystem::ResetReceivedBytes() {
  for (int k = 1; k <= app.cameras.CameraCount(); ++k) ReceivedBytes(k) = 0;
}

// ---------------------------------------------------------------- start and stop

void LinkSubsystem::OpenPorts() {
  ClientComPortChange(ServerMode());
}

void LinkSubsystem::StartNetwork() {
  const auto addresses = SplitAddresses(app.form.ServerAddresses.Text());
  app.ClientSocketAddress = addresses.empty() ? std::string() : addresses.front();
  if (!ServerMode() || !net_) return;
  listener_ = net_->CreateListener();
  listener_->OnAccept = [this](std::unique_ptr<INetSocket> s) { Accept(std::move(s)); };
  if (!listener_->Listen(app.settings.LinkPort))
    app.journal.ReportError("Ошибка открытия порта " + std::to_string(app.settings.LinkPort) +
                                " для связи с объектами !",
                            12, 1);
}

void LinkSubsystem::Shutdown() {
  if (client_) client_->Close();
  if (listener_) listener_->Close();
  for (auto& c : connections_) {
    closedHandled_ += c.assembler.Handled();
    c.socket->Close();
  }
  connections_.clear();
  CommPort1.Close();
  VoiceModem1.Close();
}

// ---------------------------------------------------------------- sockets

void LinkSubsystem::Accept(std::unique_ptr<INetSocket> s) {
  connections_.push_back(Connection{
      std::move(s), LinkAssembler([this](const LinkMessage& m) { HandleLinkMessage(m); })});
  Connection& c = connections_.back();
  c.socket->OnData = [this, &c] {
    if (!c.dead) Drain(*c.socket, c.assembler);
  };
  c.socket->OnDisconnect = [this, &c] {
    c.dead = true;
    ResetReceivedBytes();
    // The connection's own event is still running: it goes later.
    if (!sweepPosted_) {
      sweepPosted_ = true;
      app.services().dispatcher.Post([this] { SweepConnections(); });
    }
  };
  c.socket->OnError = [](const std::string&) {};  // socket errors are not reported
  if (c.socket->BytesAvailable() > 0) Drain(*c.socket, c.assembler);
}

void LinkSubsystem::SweepConnections() {
  sweepPosted_ = false;
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (it->dead) {
      closedHandled_ += it->assembler.Handled();
      it->socket->Close();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void LinkSubsystem::Drain(INetSocket& s, LinkAssembler& a) {
  // Never more than the room after the write position; what is left waits
  // in the socket and is taken by the next pass of this loop.
  for (std::size_t avail = s.BytesAvailable(); avail > 0; avail = s.BytesAvailable()) {
    const std::size_t room = a.Space();
    const std::size_t got = s.Read(a.WritePtr(), avail < room ? avail : room);
    if (got == 0) break;
    a.ReceiveBytes(got);
  }
}

void LinkSubsystem::CommPort1DataAvail(int count) {
  while (count > 0 && CommPort1.InCount() > 0) {
    const std::size_t room = serialAssembler_.Space();
    const int want = static_cast<std::size_t>(count) < room ? count : static_cast<int>(room);
    const int got = CommPort1.Read(serialAssembler_.WritePtr(), want);
    if (got <= 0) break;
    serialAssembler_.ReceiveBytes(static_cast<std::size_t>(got));
    count -= got;
  }
}

void LinkSubsystem::HandleLinkMessage(const LinkMessage& m) {
  if (ServerMode()) {
    station.HandleLinkMessage(m);
  } else if ((m.Type == link::mtArm && !app.alarm->Status.Armed) ||
             (m.Type == link::mtDisarm && app.alarm->Status.Armed)) {
    app.alarm->RemoteSwitchMode();
  }
  if (OnMessage) OnMessage(m);
}

// ---------------------------------------------------------------- sender

void LinkSubsystem::WriteStatusBlock(std::uint8_t* p) const {
  const SiteStatus& s = app.alarm->Status;
  p[0] = s.Armed ? 1 : 0;
  p[1] = s.GaugeEnabledMask;
  p[2] = s.GaugeAlarmMask;
  p[3] = s.CameraAlarmMask;
}

void LinkSubsystem::Button1Click() {
  const int kind = CommKind();
  if (!ServerMode() && kind == 2 && net_ && (!client_ || !client_->Active())) {
    if (!client_) {
      client_ = net_->CreateClient();
      client_->OnData = [this] { Drain(*client_, clientAssembler_); };
      client_->OnError = [](const std::string&) {};
      client_->OnConnected = [this] {
        // Nothing of a lost connection (half a command) may complete a
        // message of the new one.
        clientAssembler_.Reset();
        if (ServiceCallPending && SendPictureMessage(1)) ServiceCallPending = false;
      };
    }
    client_->Open(app.ClientSocketAddress, app.settings.LinkPort);  // a failure is ignored
  }
  if (ServerMode()) return;
  const bool armed = app.alarm->Status.Armed;
  if (!armed && !LastSentArmed) return;
  LastSentArmed = armed;
  const int cams = app.cameras.CameraCount();
  if (kind == 0 && st.DataConnected && cams > 0) {
    // Over a modem connection: camera 1's picture, JPEG-coded, after its size.
    if (TCamera* cam = app.cameras.GetAs<TCamera>(1); cam && !cam->CurrentPicture.Empty()) {
      WriteStatusBlock(cam->CurrentPicture.Data());
      if (!codec_) codec_ = std::make_unique<JpegCodec>();
      const auto jpeg = codec_->EncodePicture(cam->CurrentPicture, 75, cam->Colored);
      if (!jpeg.empty()) {
        std::uint8_t n[4];
        const auto size = static_cast<std::uint32_t>(jpeg.size());
        for (int i = 0; i < 4; ++i) n[i] = static_cast<std::uint8_t>(size >> (8 * i));
        VoiceModem1.WriteBytes(n, 4);
        VoiceModem1.WriteBytes(jpeg.data(), static_cast<int>(jpeg.size()));
      }
    }
  }
  if (kind == 2 && client_ && client_->Connected() && cams > 0)
    SendPictureMessage(Button1Tag % cams + 1);
  ++Button1Tag;
}

bool LinkSubsystem::SendPictureMessage(int c, bool overSerial) {
  TCamera* cam = app.cameras.GetAs<TCamera>(c);
  if (!cam || cam->CurrentPicture.Empty()) return false;
  TPicture& pic = cam->CurrentPicture;
  const std::size_t size =
      static_cast<std::size_t>(pic.Stride()) * static_cast<std::size_t>(pic.Height());
  if (size + link::kHeaderSize > static_cast<std::size_t>(link::kMaxLength) || size < 4)
    return false;
  if (!overSerial && (!client_ || client_->Pending() > kPictureBacklog)) return false;
  WriteStatusBlock(pic.Data());
  // A whole picture would hold the direct line (115200 bit/s) for half a
  // minute: over it the message carries the status block alone.
  const std::size_t payload = overSerial ? 4 : size;
  const auto header = BuildHeader(
      static_cast<std::int32_t>(payload + link::kHeaderSize), link::mtPicture,
      static_cast<std::uint8_t>(app.form.ObjNum.Value()), static_cast<std::uint8_t>(c), 0xFF, 0x00);
  bool ok = true;
  auto send = [&](const void* p, std::size_t n) {
    try {
      bool sent;
      if (overSerial)
        sent = CommPort1.IsOpen() && CommPort1.Write(p, static_cast<int>(n)) == static_cast<int>(n);
      else
        sent = client_->Send(p, n);
      if (!sent) throw std::runtime_error("данные не переданы");
    } catch (const std::exception& e) {
      ok = false;
      app.journal.AddJournal(ErrorText(e), 0, 0, 0, 0, 1);
    }
  };
  send(header.data(), header.size());
  if (ok) send(pic.Data(), payload);  // never a payload without its header
  return ok;
}

void LinkSubsystem::SendCommand(bool armed, int index) {
  const auto cmd = BuildCommand(armed, index);
  const int kind = app.form.ServerCommType.ItemIndex();
  if (kind == 1) {
    if (CommPort1.IsOpen()) CommPort1.Write(cmd.data(), static_cast<int>(cmd.size()));
  } else if (kind == 2) {
    for (auto& c : connections_) {
      if (c.dead) continue;
      try {
        if (!c.socket->Send(cmd.data(), cmd.size()))
          throw std::runtime_error("команда не передана на " + c.socket->PeerAddress());
      } catch (const std::exception& e) {
        app.journal.AddJournal(ErrorText(e), 0, 0, 0, 0, 1);
      }
    }
  }
}

void LinkSubsystem::ServerAddressesChange() {
  const bool active = client_ && client_->Active();
  if (client_) client_->Close();
  const auto addresses = SplitAddresses(app.form.ServerAddresses.Text());
  app.ClientSocketAddress = addresses.empty() ? std::string() : addresses.front();
  if (active) client_->Open(app.ClientSocketAddress, app.settings.LinkPort);
}

// ---------------------------------------------------------------- ports

void LinkSubsystem::ClientComPortChange(bool fromServerControl) {
  if (!app.settings.SettingsLoaded) return;
  const bool server = ServerMode();
  if (server != fromServerControl) return;
  TFormModel& f = app.form;
  const int port = server ? f.ServerComPort.Value() : f.ClientComPort.Value();
  const std::string name = "Com" + std::to_string(port) + ":";
  if (!server) {
    if (f.UseSwitcher.Checked() && f.SwitcherComPort.Value() == port) {
      app.journal.ReportError("Порт " + name + " зарезервирован для управления видеокоммутатором !",
                              9, 1);
      return;
    }
    if (f.UseGaugesOnCom.Checked() && f.EventComPort.Value() == port) {
      app.journal.ReportError(
          "Порт " + name + " зарезервирован для получения сигналов с датчиков !", 10, 1);
      return;
    }
  }
  CommPort1.Close();
  VoiceModem1.Close();
  const int kind = CommKind();
  if (kind == 2) return;

  // The port must exist and take writing.
  const std::string device = app.services().ports.ComDevice(port);
  const int fd = ::open(device.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  bool ok = fd >= 0;
  if (fd >= 0) ::close(fd);
  if (ok && kind == 0) {
    ModemProfile1.Port = port;
    if (VoiceModem1.Open() == 0) {
      try {
        dispatch.LockModem();
        VoiceModem1.Init();
        dispatch.UnlockModem();
      } catch (const ModemAbort&) {
      }
    }
  } else if (ok && kind == 1) {
    if (port >= 1 && port <= 4) CommPort1.SetComNumber(static_cast<TComNumber>(port - 1));
    CommPort1.SetBaudRate(br115200);
    serialAssembler_.Reset();  // a new line: no old bytes complete its messages
    CommPort1.Open();
  }
  const std::string text = name + " для связи с " + (server ? "объектами" : "сервером");
  if (ok)
    app.journal.ShowStatus("Порт " + text + " открыт", 1, 1);
  else
    app.journal.ReportError("Ошибка открытия порта " + text + " !", 12, 1);
}

// ---------------------------------------------------------------- modem

void LinkSubsystem::VoiceModem1Read(const std::uint8_t* data, int count) {
  // Only the data connection's bytes are pictures; command answers are not.
  if (!ServerMode() || !st.DataConnected || count <= 0) return;
  modemReceiver_.Receive(data, static_cast<std::size_t>(count));
}

// ---------------------------------------------------------------- heartbeat

void LinkSubsystem::Timer3Timer() {
  if (app.Closing) return;
  if (ServerMode())
    station.Supervise();
  else
    dispatch.TickSteps(app.alarm->LastAllClear);
  ++st.Timer3Tag;
  ConnectionTimeout();
  LineReader();
  if (app.settings.DebugMode) Button1Click();
  if (sweepPosted_) SweepConnections();
}

void LinkSubsystem::ConnectionTimeout() {
  if (st.RingTime == 0 || app.services().clock.Now() - st.RingTime <= kConnectionTimeout) return;
  st.DataConnected = false;
  st.RingTime = 0;
  if (st.ModemDataMode && VoiceModem1.IsOpen()) {
    VoiceModem1.WriteString("+++\r");
    VoiceModem1.WriteString("ATH0\r");
  }
  if (VoiceModem1.IsOpen()) VoiceModem1.HangUp();
  st.CallInProgress = false;
  app.journal.ShowStatus("Завершение соединения", 2, 1);
}

void LinkSubsystem::LineReader() {
  if (VoiceModem1.InUse() || !VoiceModem1.IsOpen()) return;
  if (st.DataConnected) {
    // A data connection is open: the station takes the picture stream.
    // (every read raises the engine's data event, VoiceModem1Read)
    if (ServerMode()) {
      std::uint8_t buf[4096];
      for (int n = 0; n < 64 && VoiceModem1.InputWaiting(); ++n)
        if (VoiceModem1.ReadBytes(buf, sizeof buf) <= 0) break;
    }
    VoiceModem1.ProcessEvents();
    return;
  }
  std::string line;
  if (VoiceModem1.InputWaiting() && VoiceModem1.ReadLine(line) != -1) {
    const TDateTime now = app.services().clock.Now();
    if (line.find("RING") != std::string::npos) {
      app.journal.ShowStatus("Входящий звонок !", 2, 1);
      if (ServerMode()) {
        st.ModemDataMode = true;
        ResetReceivedBytes();
        modemReceiver_.Reset();
        VoiceModem1.AnswerPhone();
      } else {
        dispatch.EnterVoice();
        VoiceModem1.Command("AT+VLS=1", "OK");
      }
      st.RingTime = now;
      st.DtmfBuffer.clear();
    } else if (st.ModemDataMode && line.find("CONNECT") != std::string::npos) {
      st.DataConnected = true;
      std::string speed;
      const auto sp = line.find(' ');
      if (sp != std::string::npos) {
        const auto start = line.find_first_not_of(' ', sp);
        if (start != std::string::npos) speed = line.substr(start, line.find(' ', start) - start);
      }
      app.journal.ShowStatus("Установлено соединение в режиме приёма/передачи данных" +
                                 (speed.empty() ? std::string() : " (скорость: " + speed + ")"),
                             2, 1);
    }
  }
  VoiceModem1.ProcessEvents();
}

}  // namespace zv
