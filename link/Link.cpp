#include "link/Link.h"

#include <algorithm>

#include <cstdio>
#include <cstring>
#include <exception>

#include "app/Text.h"
#include "detect/PictureCodec.h"
#include "video/Camera.h"

namespace zv {

namespace {
// The site stops queueing pictures while this much is still unsent: the next
// frame is newer anyway, and a station that reads slowly is not flooded.
constexpr std::size_t kPictureBacklog = 2u * 1024 * 1024;
constexpr double kConnectionTimeout = 300 * kOneSecond;
// A site on the direct line repeats its status this often, so that a
// station started after it soon knows who is on the line.
constexpr double kSerialStatusRepeat = 10 * kOneSecond;
// Silence the modem needs around the escape sequence to take it as one.
constexpr int kEscapeGuardMs = 1000;
// The bytes of one message come together on a line; a pause this long in
// the middle of one means its sender is gone.
constexpr double kLineSilence = 2 * kOneSecond;
// A link port that went away is tried again this often.
constexpr double kPortRetry = 3 * kOneSecond;
const std::string kNoCarrier = "\r\nNO CARRIER\r\n";

}  // namespace

LinkSubsystem::LinkSubsystem(const LinkContext& context)
    : ctx(context),
      status(ctx.services, ctx.journal, ctx.form, ctx.settings),
      dispatch(*this),
      station(*this),
      ModemLogFile1(ctx.services.clock),
      ModemLogFile2(ctx.services.clock),
      VoiceModem1(ctx.services.clock, ctx.services.dispatcher, ctx.services.ports,
                  ctx.serialDevices),
      CommPort1(ctx.services.dispatcher, ctx.services.ports, ctx.serialDevices),
      clientAssembler_([this](const LinkMessage& m) { HandleLinkMessage(m, stationPeer_); }),
      serialAssembler_([this](const LinkMessage& m) { HandleLinkMessage(m, serialPeer_); }),
      modemReceiver_(
          [this](const std::uint8_t* p, std::size_t n) { station.ModemPicture(p, n, modemPeer_); },
          [this](std::int64_t n) {
            ctx.journal.AddFailure(
                "размер картинки " + std::to_string(n) + " байт превышает буфер приёма",
                jcModemPicture);
          }) {
  // The voice modem as the main window sets it up: an SM56 on its line,
  // PCM voice files without a header, recordings of at most 20 seconds,
  // speaker off, and its log and trace in the data folder.
  ModemProfile1.Port = 3;
  ModemProfile1.ModemName = "Motorola SM56";
  ModemProfile1.ModemInitCmd = "ATL0";
  ModemProfile1.ModemLogging = true;
  ModemProfile1.RecCompression = 1;
  ModemProfile1.RecMaxLen = 20;
  ModemProfile1.DialMode = "P";
  ModemProfile1.AnswerRecognition = true;
  ModemProfile1.RawData = true;
  ModemLogFile1.Title = "Zorvenix";
  ModemLogFile2.Title = "Zorvenix";
  VoiceModem1.SetProfile(&ModemProfile1);
  VoiceModem1.SetDriver(&MotorolaSM561);
  VoiceModem1.SetLogFile(&ModemLogFile1);
  VoiceModem1.SetTraceFile(&ModemLogFile2);
  VoiceModem1.OnYield = [this] {
    ctx.services.pump.ProcessEvents();
    dispatch.StopCallIfDisarmed();
  };
  // During a data connection the stream is read as it arrives, not only on
  // the heartbeat: a picture is not held up in the port's buffers.
  VoiceModem1.Port()->OnDataAvail = [this](int) {
    if (st.DataConnected && !VoiceModem1.InUse() && !readingData_) ReadDataConnection();
  };
  // The modem reports a data connection while dialling or answering too:
  // the line is kept for the connection's journal entry.
  VoiceModem1.OnReadString = [this](const std::string& line) {
    if (line.rfind("CONNECT", 0) == 0) connectLine_ = line;
  };
  VoiceModem1.OnEvent = [this](ModemEvent ev, TEventData d, int& r) {
    dispatch.VoiceModem1Event(ev, d, r);
  };
  VoiceModem1.OnRead = [this](const std::uint8_t* p, int n) { VoiceModem1Read(p, n); };
  CommPort1.SetBaudRate(br115200);
  CommPort1.OnDataAvail = [this](int n) { CommPort1DataAvail(n); };

  TFormModel& f = ctx.form;
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

  status.IsRecording = [this] { return Recording(); };
}

LinkSubsystem::~LinkSubsystem() {
  Shutdown();
  TFormModel& f = ctx.form;
  f.Button1.OnClick = nullptr;
  f.ServerAddresses.OnChange = nullptr;
  f.ClientComPort.OnChange = nullptr;
  f.ServerComPort.OnChange = nullptr;
  f.ObjectListBox.OnClickCheck = nullptr;
  VoiceModem1.OnYield = nullptr;
  VoiceModem1.OnEvent = nullptr;
  VoiceModem1.OnRead = nullptr;
  VoiceModem1.OnReadString = nullptr;
  VoiceModem1.Port()->OnDataAvail = nullptr;
  VoiceModem1.SetLogFile(nullptr);
  VoiceModem1.SetTraceFile(nullptr);
}

bool LinkSubsystem::ServerMode() const {
  return ctx.settings.ServerMode;
}

int LinkSubsystem::CommKind() const {
  return ServerMode() ? ctx.form.ServerCommType.ItemIndex() : ctx.form.ClientCommType.ItemIndex();
}

bool LinkSubsystem::Recording() const {
  return IsRecording ? IsRecording() : ctx.form.RecordBtn.Down();
}

std::string LinkSubsystem::SoundFile() const {
  return ctx.settings.DataDir() + "/Sound.wav";
}

std::vector<const LinkPeer*> LinkSubsystem::Peers() const {
  std::vector<const LinkPeer*> out;
  for (const auto& c : connections_)
    if (!c.dead) out.push_back(&c.peer);
  out.push_back(&serialPeer_);
  out.push_back(&modemPeer_);
  return out;
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
  for (int k = 1; k <= ctx.cameras.CameraCount(); ++k) ReceivedBytes(k) = 0;
}

void LinkSubsystem::ResetReceivedBytes(int objectId) {
  const int i = station.FindObject(objectId);
  if (i == 0) return;
  const TObjectRecord& o = ctx.settings.Objects[static_cast<std::size_t>(i)];
  for (int k = 1; k <= o.Cams && k <= kMaxCamsPerObject; ++k)
    if (const TCameraInfo* cam = o.Cameras[static_cast<std::size_t>(k)])
      ReceivedBytes(cam->Number) = 0;
}

// ---------------------------------------------------------------- start and stop

void LinkSubsystem::OpenPorts(const std::string& modemLog, const std::string& modemTrace) {
  // The modem's log and trace lie in the data folder; they are there from
  // the start, and written while the profile's logging is on.
  ModemLogFile1.SetFileName(modemLog);
  ModemLogFile2.SetFileName(modemTrace);
  for (const std::string& f : {modemLog, modemTrace}) {
    if (f.empty() || !ModemProfile1.ModemLogging) continue;
    if (std::FILE* fp = std::fopen(f.c_str(), "ab")) std::fclose(fp);
  }
  ApplyDialMode();
  ClientComPortChange(ServerMode());
}

void LinkSubsystem::ApplyDialMode() {
  ModemProfile1.DialMode = ctx.form.DialType.ItemIndex() == 0 ? "P" : "T";
}

void LinkSubsystem::StartNetwork() {
  const auto addresses = SplitAddresses(ctx.form.ServerAddresses.Text());
  ClientSocketAddress = addresses.empty() ? std::string() : addresses.front();
  if (!ServerMode() || !net_) return;
  listener_ = net_->CreateListener();
  listener_->OnAccept = [this](std::unique_ptr<INetSocket> s) { Accept(std::move(s)); };
  // Reported only when the station's link is the network.
  if (!listener_->Listen(ctx.settings.LinkPort) && CommKind() == 2)
    ctx.journal.ReportError("Невозможно открыть серверный сокет !", jcServerSocket, 1);
}

void LinkSubsystem::Shutdown() {
  if (client_) client_->Close();
  if (listener_) listener_->Close();
  for (auto& c : connections_) {
    closedHandled_ += c.assembler.Handled();
    c.socket->Close();
  }
  connections_.clear();
  // The modem: what runs is told to stop, and a call still up is hung up.
  if (VoiceModem1.IsOpen()) {
    VoiceModem1.Stop();
    if ((st.DataConnected || st.RingTime != 0) && VoiceModem1.Acquire(this)) {
      HangUpLine();
      VoiceModem1.Release();
    }
  }
  CommPort1.Close();
  VoiceModem1.Close();
}

// ---------------------------------------------------------------- sockets

void LinkSubsystem::Accept(std::unique_ptr<INetSocket> s) {
  connections_.push_back(Connection{std::move(s), LinkPeer(), LinkAssembler(nullptr)});
  Connection& c = connections_.back();
  c.peer.SetAddress(c.socket->PeerAddress());
  c.assembler = LinkAssembler([this, &c](const LinkMessage& m) { HandleLinkMessage(m, c.peer); });
  c.socket->OnData = [this, &c] {
    if (!c.dead) Drain(*c.socket, c.assembler);
  };
  c.socket->OnDisconnect = [this, &c] {
    if (c.dead) return;
    c.dead = true;
    status.PeerGone(c.peer);
    // The counters of the site that went, not those of every other site.
    if (c.peer.Bound()) ResetReceivedBytes(c.peer.ObjectId());
    // The connection's own event is still running: it goes later.
    if (!sweepPosted_) {
      sweepPosted_ = true;
      ctx.services.dispatcher.Post([this] { SweepConnections(); });
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

void LinkSubsystem::ReceiveDirectLine(int count) {
  // A line tells nothing when the other end dies: half a message of a site
  // (or station) that went, followed by silence, must not take in the
  // first bytes of the next message, which stands on its own.
  const TDateTime now = ctx.services.clock.Now();
  if (!serialAssembler_.Searching() && now - serialLastData_ > kLineSilence)
    serialAssembler_.Reset();
  serialLastData_ = now;
  while (count > 0 && CommPort1.InCount() > 0) {
    const std::size_t room = serialAssembler_.Space();
    const int want = static_cast<std::size_t>(count) < room ? count : static_cast<int>(room);
    const int got = CommPort1.Read(serialAssembler_.WritePtr(), want);
    if (got <= 0) break;
    serialAssembler_.ReceiveBytes(static_cast<std::size_t>(got));
    count -= got;
  }
}

void LinkSubsystem::HandleLinkMessage(const LinkMessage& m, LinkPeer& peer) {
  if (ServerMode()) {
    station.HandleLinkMessage(m, peer);
  } else if ((m.Type == link::mtArm && !ctx.site.Armed) ||
             (m.Type == link::mtDisarm && ctx.site.Armed)) {
    ctx.defence.RemoteSwitchMode();
  }
  if (OnMessage) OnMessage(m);
}

// ---------------------------------------------------------------- sender

void LinkSubsystem::WriteStatusBlock(std::uint8_t* p) const {
  const SiteStatus& s = ctx.site;
  p[0] = s.Armed ? 1 : 0;
  p[1] = s.GaugeEnabledMask;
  p[2] = s.GaugeAlarmMask;
  p[3] = s.CameraAlarmMask;
}

void LinkSubsystem::SendNextPicture() {
  const int kind = CommKind();
  if (!ServerMode() && kind == 2 && net_ && (!client_ || !client_->Active())) {
    if (!client_) {
      client_ = net_->CreateClient();
      client_->OnData = [this] { Drain(*client_, clientAssembler_); };
      client_->OnError = [](const std::string&) {};
      client_->OnConnected = [this] { ClientConnected(); };
    }
    client_->Open(ClientSocketAddress, ctx.settings.LinkPort);  // a failure is ignored
  }
  if (ServerMode()) return;
  const bool armed = ctx.site.Armed;
  if (!armed && !LastSentArmed) return;
  if (armed) LastSentArmed = true;
  const int cams = ctx.cameras.CameraCount();
  bool sent = false;
  if (kind == 0 && st.DataConnected && cams > 0) sent = QueueModemPicture(Button1Tag % cams + 1);
  if (kind == 2 && client_ && client_->Connected() && cams > 0)
    sent = SendPictureMessage(Button1Tag % cams + 1);
  // The picture that tells the station of the disarming must really go out:
  // skipped (a full queue, no connection) it is due again with the next.
  if (sent && !armed) LastSentArmed = false;
  ++Button1Tag;
}

void LinkSubsystem::ClientConnected() {
  // A new connection: nothing of the old one's bytes counts, and the site
  // introduces itself with its status, so that the station knows which
  // Object this connection speaks for (and can send it commands).
  clientAssembler_.Reset();
  if (SendPictureMessage(1)) {
    ServiceCallPending = false;
    if (!ctx.site.Armed) LastSentArmed = false;
  }
}

bool LinkSubsystem::SendPictureMessage(int c, bool overSerial) {
  TCamera* cam = ctx.cameras.GetAs<TCamera>(c);
  if (!cam || cam->CurrentPicture.Empty()) return false;
  TPicture& pic = cam->CurrentPicture;
  const std::size_t size =
      static_cast<std::size_t>(pic.Stride()) * static_cast<std::size_t>(pic.Height());
  if (size + link::kHeaderSize > static_cast<std::size_t>(link::kMaxLength) || size < 4)
    return false;
  if (!overSerial && (!client_ || !client_->Connected() || client_->Pending() > kPictureBacklog))
    return false;
  if (overSerial && !CommPort1.IsOpen()) return false;
  WriteStatusBlock(pic.Data());
  // A whole picture would hold the direct line (115200 bit/s) for half a
  // minute: over it the message carries the status block alone.
  const std::size_t payload = overSerial ? 4 : size;
  const auto header = BuildHeader(
      static_cast<std::int32_t>(payload + link::kHeaderSize), link::mtPicture,
      static_cast<std::uint8_t>(ctx.form.ObjNum.Value()), static_cast<std::uint8_t>(c), 0xFF, 0x00);
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
      ctx.journal.AddFailure(e.what());
    }
  };
  send(header.data(), header.size());
  if (ok) send(pic.Data(), payload);  // never a payload without its header
  return ok;
}

void LinkSubsystem::SerialStatus() {
  if (ServerMode() || CommKind() != 1 || !CommPort1.IsOpen()) return;
  std::array<std::uint8_t, 4> now{};
  WriteStatusBlock(now.data());
  const TDateTime t = ctx.services.clock.Now();
  if (now == serialSent_ && serialSentAt_ != 0 && t - serialSentAt_ < kSerialStatusRepeat) return;
  if (SendPictureMessage(1, true)) {
    serialSent_ = now;
    serialSentAt_ = t;
    if (!ctx.site.Armed) LastSentArmed = false;
  }
}

bool LinkSubsystem::QueueModemPicture(int c) {
  if (modemOutPos_ < modemOut_.size()) {
    PumpModemPicture();  // the picture before is still going out
    return false;
  }
  TCamera* cam = ctx.cameras.GetAs<TCamera>(c);
  if (!cam || cam->CurrentPicture.Empty()) return false;
  WriteStatusBlock(cam->CurrentPicture.Data());
  if (!codec_) codec_ = std::make_unique<JpegCodec>();
  const auto jpeg = codec_->EncodePicture(cam->CurrentPicture, 75, cam->Colored);
  if (jpeg.empty()) return false;
  // The stream itself is a count and a JPEG picture; the picture carries the
  // site's ID, the camera and the status block in a comment segment.
  PictureStatus status;
  status.ObjectId = static_cast<std::uint8_t>(ctx.form.ObjNum.Value());
  status.Camera = static_cast<std::uint8_t>(c);
  WriteStatusBlock(status.Block);
  const auto coded = AddStatusSegment(jpeg, status);
  modemOut_.resize(4 + coded.size());
  const auto size = static_cast<std::uint32_t>(coded.size());
  for (int i = 0; i < 4; ++i)
    modemOut_[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (8 * i));
  std::copy(coded.begin(), coded.end(), modemOut_.begin() + 4);
  modemOutPos_ = 0;
  PumpModemPicture();
  return true;
}

void LinkSubsystem::PumpModemPicture() {
  // Never waits: the port takes what its output buffer has room for, the
  // rest goes with the next frame or tick.
  while (modemOutPos_ < modemOut_.size()) {
    const int want = static_cast<int>(std::min<std::size_t>(modemOut_.size() - modemOutPos_, 4096));
    const int n = VoiceModem1.WriteSome(modemOut_.data() + modemOutPos_, want);
    if (n < 0) {
      modemOut_.clear();
      modemOutPos_ = 0;
      return;
    }
    if (n == 0) return;
    modemOutPos_ += static_cast<std::size_t>(n);
  }
}

bool LinkSubsystem::SendCommand(bool armed, int index) {
  const auto cmd = BuildCommand(armed, index);
  const int record = index + 1;
  const TObjectRecord* o =
      record >= 1 && record <= ctx.settings.ObjectsCount && record <= static_cast<int>(kMaxObjects)
          ? &ctx.settings.Objects[static_cast<std::size_t>(record)]
          : nullptr;
  // Only the connection that speaks for the Object carries its command:
  // a site's TCP connection, or the direct line a site speaks on.
  int sent = 0;
  if (o && CommPort1.IsOpen() && serialPeer_.ObjectId() == o->ID &&
      CommPort1.Write(cmd.data(), static_cast<int>(cmd.size())) == static_cast<int>(cmd.size()))
    ++sent;
  for (auto& c : connections_) {
    if (!o || c.dead || c.peer.ObjectId() != o->ID) continue;
    try {
      if (!c.socket->Send(cmd.data(), cmd.size()))
        throw std::runtime_error("команда не передана на " + c.socket->PeerAddress());
      ++sent;
    } catch (const std::exception& e) {
      ctx.journal.AddFailure(e.what());
    }
  }
  const std::string what = armed ? "постановки на охрану" : "снятия с охраны";
  const std::string who =
      o ? "№" + std::to_string(o->ID) + "(" + o->Name + ")" : "№" + std::to_string(record);
  ObjectNews news;
  news.kind = ObjectNews::Command;
  news.record = o ? record : 0;
  news.objectId = o ? o->ID : 0;
  news.source = status.CommandSource;
  news.sent = sent > 0;
  if (sent == 0) {
    news.text = "Команда " + what + " не передана: объект " + who + " не на связи !";
    news.journalKind = jkAlarm;
    Journal::Subject about(ctx.journal, news.objectId);
    ctx.journal.ShowStatus(news.text, jkAlarm, 1);
  } else {
    // A command that went out is not journaled: the site's next status tells.
    news.text = "Команда " + what + " передана объекту " + who;
    news.journalKind = jkNotice;
  }
  if (o) status.Announce(news);
  return sent > 0;
}

void LinkSubsystem::ServerAddressesChange() {
  const bool active = client_ && client_->Active();
  if (client_) client_->Close();
  const auto addresses = SplitAddresses(ctx.form.ServerAddresses.Text());
  ClientSocketAddress = addresses.empty() ? std::string() : addresses.front();
  if (active) client_->Open(ClientSocketAddress, ctx.settings.LinkPort);
}

// ---------------------------------------------------------------- ports

void LinkSubsystem::ClientComPortChange(bool fromServerControl) {
  if (!ctx.settings.SettingsLoaded) return;
  const bool server = ServerMode();
  if (server != fromServerControl) return;
  TFormModel& f = ctx.form;
  const int port = server ? f.ServerComPort.Value() : f.ClientComPort.Value();
  const std::string name = "Com" + std::to_string(port) + ":";
  if (!server) {
    if (f.UseSwitcher.Checked() && f.SwitcherComPort.Value() == port) {
      ctx.journal.ReportError("Порт " + name + " зарезервирован для управления видеокоммутатором !",
                              jcLinkPortTakenBySwitcher, 1);
      return;
    }
    if (f.UseGaugesOnCom.Checked() && f.EventComPort.Value() == port) {
      ctx.journal.ReportError(
          "Порт " + name + " зарезервирован для получения сигналов с датчиков !",
          jcLinkPortTakenByGauges, 1);
      return;
    }
  }
  CommPort1.Close();
  VoiceModem1.Close();
  watched_.clear();
  // Whatever comes on the line from now on is a new conversation.
  serialAssembler_.Reset();
  status.PeerGone(serialPeer_);
  serialPeer_.Reset();
  serialPeer_.SetAddress(name);
  const int kind = CommKind();
  if (kind != 2) OpenLinkPort(port, kind);
  // A station may have a direct line to one site besides its modem or the
  // network (a key of its settings file, 0 for none).
  const auto direct =
      static_cast<int>(ctx.settings.Ini().ReadInteger("Main", "DirectLineComPort", 0));
  if (server && kind != 1 && direct >= 1 && direct <= 8 && !(kind == 0 && direct == port)) {
    serialPeer_.SetAddress("Com" + std::to_string(direct) + ":");
    OpenLinkPort(direct, 1);
  }
}

void LinkSubsystem::OpenLinkPort(int port, int kind) {
  const bool server = ServerMode();
  const std::string name = "Com" + std::to_string(port) + ":";
  // The port must exist and open as a serial line; the device layer says
  // why when it does not.
  const DeviceResult probe = ProbeLinkPort(port);
  bool ok = static_cast<bool>(probe);
  std::string reason = probe.reason;
  // Journaled as open only when it really is.
  if (ok && kind == 0) {
    ModemProfile1.Port = port;
    // A modem opened (again) has not been set up for voice yet.
    st.VoiceEntries = 0;
    if (VoiceModem1.Open() != 0) {
      ok = false;
      reason = port > 4 ? std::string("модем подключается только к Com1-Com4")
                        : VoiceModem1.Port()->OpenError();
    } else {
      int init = -1;
      try {
        dispatch.LockModem();
        init = VoiceModem1.Init();
        dispatch.UnlockModem();
      } catch (const ModemAbort&) {
      }
      if (init != 0)
        ctx.journal.AddJournal("Модем на порту " + name + " не отвечает на команды !", jkError);
    }
  } else if (ok && kind == 1) {
    ok = OpenDirectLine(port, reason);
  }
  const std::string text = name + " для связи с " + (server ? "объектами" : "сервером");
  if (ok) {
    // Watched from now on, so that it comes back after going away.
    watched_.push_back(WatchedPort{port, kind, false, 0});
    ctx.journal.ShowStatus("Порт " + text + " открыт", jkDevice, 1);
  } else {
    // The system's reason in the same line, as for every port.
    ctx.journal.ReportError(
        "Ошибка открытия порта " + text + (reason.empty() ? "" : " (" + reason + ")") + " !",
        jcLinkPortOpen, 1);
  }
  serialSentAt_ = 0;
  if (ok && kind == 1) SerialStatus();
}

DeviceResult LinkSubsystem::ProbeLinkPort(int port) const {
  const std::string device = ctx.services.ports.ComDevice(port);
  std::unique_ptr<ISerialDevice> line = ctx.serialDevices ? ctx.serialDevices() : nullptr;
  return line ? line->Probe(device) : DeviceResult::NoDevice(device);
}

bool LinkSubsystem::OpenDirectLine(int port, std::string& reason) {
  if (port < 1 || port > 8) {
    reason = "нет такого порта";
    return false;
  }
  CommPort1.SetComNumber(static_cast<TComNumber>(port - 1));
  CommPort1.SetBaudRate(br115200);
  CommPort1.Open();
  if (CommPort1.IsOpen()) return true;
  reason = CommPort1.OpenError();
  return false;
}

// ---------------------------------------------------------------- modem

void LinkSubsystem::ReadModemStream(const std::uint8_t* data, int count) {
  // Only the data connection's bytes are pictures; command answers are not.
  if (!st.DataConnected || count <= 0 || carrierLost_) return;
  // The modem's "NO CARRIER" ends the connection: the bytes before it are
  // the last of the stream.
  std::string seen = carrierTail_;
  seen.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count));
  std::size_t take = static_cast<std::size_t>(count);
  const auto at = seen.find(kNoCarrier);
  if (at != std::string::npos) {
    carrierLost_ = true;
    take = at > carrierTail_.size() ? at - carrierTail_.size() : 0;
  }
  carrierTail_ =
      seen.size() > kNoCarrier.size() ? seen.substr(seen.size() - kNoCarrier.size() + 1) : seen;
  if (ServerMode() && take > 0) modemReceiver_.Receive(data, take);
}

void LinkSubsystem::DataConnectionUp(std::string connectLine) {
  st.DataConnected = true;
  carrierTail_.clear();
  carrierLost_ = false;
  connectLine_.clear();
  if (ServerMode()) {
    modemReceiver_.Reset();
    status.PeerGone(modemPeer_);
    modemPeer_.Reset();
  }
  std::string speed;
  const auto sp = connectLine.find(' ');
  if (sp != std::string::npos) {
    const auto start = connectLine.find_first_not_of(' ', sp);
    if (start != std::string::npos)
      speed = connectLine.substr(start, connectLine.find(' ', start) - start);
  }
  ctx.journal.ShowStatus("Установлено соединение в режиме приёма/передачи данных" +
                             (speed.empty() ? std::string() : " (скорость: " + speed + ")"),
                         jkNotice, 1);
}

void LinkSubsystem::DataConnectionDown() {
  st.DataConnected = false;
  st.RingTime = 0;
  st.CallInProgress = false;
  carrierLost_ = false;
  carrierTail_.clear();
  modemOut_.clear();
  modemOutPos_ = 0;
  modemReceiver_.Reset();
  status.PeerGone(modemPeer_);
  modemPeer_.Reset();
  ctx.journal.ShowStatus("Завершение соединения", jkNotice, 1);
}

void LinkSubsystem::ReadDataConnection() {
  // Every read raises the engine's data event (VoiceModem1Read): at the
  // station the picture stream, at both ends the modem's "NO CARRIER".
  readingData_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{readingData_};
  std::uint8_t buf[4096];
  for (int n = 0; n < 64 && !carrierLost_ && VoiceModem1.InputWaiting(); ++n)
    if (VoiceModem1.ReadBytes(buf, sizeof buf) <= 0) break;
  if (carrierLost_) DataConnectionDown();
}

void LinkSubsystem::Pause(int ms) {
  IClock& clock = ctx.services.clock;
  const std::uint64_t end = clock.TickMs() + static_cast<std::uint64_t>(ms);
  while (clock.TickMs() < end) {
    clock.Sleep(20);
    ctx.services.pump.ProcessEvents();
  }
}

// ---------------------------------------------------------------- heartbeat

void LinkSubsystem::FrameTaken() {
  // With the network link, and over a modem data connection while it is up.
  if (ServerMode()) return;
  const int kind = CommKind();
  if (kind == 2 || (kind == 0 && st.DataConnected)) Button1Click();
}

void LinkSubsystem::Heartbeat() {
  if (closing_) return;
  if (ServerMode())
    status.Supervise();
  else
    dispatch.TickSteps(ctx.defence.LastPollQuiet());
  ++st.Timer3Tag;
  WatchLinkPorts();
  ConnectionTimeout();
  LineReader();
  SerialStatus();
  if (st.DataConnected) PumpModemPicture();
  if (ctx.settings.DebugMode) Button1Click();
  if (sweepPosted_) SweepConnections();
}

void LinkSubsystem::WatchLinkPorts() {
  // Not while a call holds the modem: the call's own failure comes first.
  if (VoiceModem1.InUse()) return;
  const TDateTime now = ctx.services.clock.Now();
  const bool server = ServerMode();
  for (std::size_t i = 0; i < watched_.size(); ++i) {
    WatchedPort w = watched_[i];
    const bool open = w.kind == 0 ? VoiceModem1.IsOpen() : CommPort1.IsOpen();
    const std::string text =
        "Com" + std::to_string(w.port) + ": для связи с " + (server ? "объектами" : "сервером");
    if (open) continue;
    if (!w.lost) {
      // The device went away (a USB modem or adapter pulled out): told
      // once, and tried again until it is back.
      watched_[i].lost = true;
      watched_[i].tried = now;
      if (w.kind == 0) {
        st.DataConnected = false;
        st.RingTime = 0;
        st.CallInProgress = false;
      }
      ctx.journal.ReportError("Порт " + text + " потерян !", jcLinkPortOpen, 1);
      continue;
    }
    if (now - w.tried < kPortRetry) continue;
    watched_[i].tried = now;
    if (!ProbeLinkPort(w.port)) continue;
    // Back: opened as at the start, which journals it.
    watched_.erase(watched_.begin() + static_cast<std::ptrdiff_t>(i));
    if (w.kind == 0) {
      VoiceModem1.Close();
    } else {
      CommPort1.Close();
      serialAssembler_.Reset();
      serialPeer_.Reset();
    }
    OpenLinkPort(w.port, w.kind);
    return;
  }
}

void LinkSubsystem::ConnectionTimeout() {
  if (st.RingTime == 0 || ctx.services.clock.Now() - st.RingTime <= kConnectionTimeout) return;
  // The hang-up needs the modem to itself; in use, it waits for the next tick.
  if (VoiceModem1.IsOpen() && !VoiceModem1.Acquire(this)) return;
  HangUpLine();
  if (VoiceModem1.IsOpen()) VoiceModem1.Release();
  ctx.journal.ShowStatus("Завершение соединения", jkNotice, 1);
}

void LinkSubsystem::HangUpLine() {
  const bool data = st.DataConnected;
  st.DataConnected = false;
  st.RingTime = 0;
  modemOut_.clear();
  modemOutPos_ = 0;
  if (VoiceModem1.IsOpen()) {
    if (st.ModemDataMode && data) {
      // The escape to command mode: "+++" between two pauses with nothing
      // sent, then the hang-up command; one carriage return after each.
      for (int i = 0; i < 50 && VoiceModem1.OutputQueued() > 0; ++i) Pause(20);
      Pause(kEscapeGuardMs);
      VoiceModem1.WriteString("+++");
      Pause(kEscapeGuardMs);
      VoiceModem1.WriteString("ATH0");
    } else if (st.ModemDataMode) {
      VoiceModem1.WriteString("+++");
      VoiceModem1.WriteString("ATH0");
    }
    VoiceModem1.HangUp();
  }
  carrierLost_ = false;
  carrierTail_.clear();
  modemReceiver_.Reset();
  status.PeerGone(modemPeer_);
  modemPeer_.Reset();
  st.CallInProgress = false;
}

void LinkSubsystem::LineReader() {
  if (VoiceModem1.InUse() || !VoiceModem1.IsOpen()) return;
  if (st.DataConnected) {
    ReadDataConnection();
    VoiceModem1.ProcessEvents();
    return;
  }
  std::string line;
  connectLine_.clear();
  if (VoiceModem1.InputWaiting() && VoiceModem1.ReadLine(line) != -1) {
    const TDateTime now = ctx.services.clock.Now();
    if (line.find("RING") != std::string::npos) {
      ctx.journal.ShowStatus("Входящий звонок !", jkNotice, 1);
      st.RingTime = now;
      st.DtmfBuffer.clear();
      if (ServerMode()) {
        st.ModemDataMode = true;
        ResetReceivedBytes();
        modemReceiver_.Reset();
        status.PeerGone(modemPeer_);
        modemPeer_.Reset();
        connectLine_.clear();
        VoiceModem1.AnswerPhone();
        // Answering, the modem reports the connection itself.
        if (!connectLine_.empty()) DataConnectionUp(connectLine_);
      } else {
        dispatch.EnterVoice();
        VoiceModem1.Command("AT+VLS=1", "OK");
      }
    } else if (st.ModemDataMode && line.find("CONNECT") != std::string::npos) {
      DataConnectionUp(line);
    }
  }
  VoiceModem1.ProcessEvents();
}

}  // namespace zv
