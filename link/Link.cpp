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
// What a call left in the way (its data, the modem's answers) is passed
// over after it was hung up, a second at a time until the modem is quiet,
// this many times at most.
constexpr int kDrainAfterHangUp = 10;
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
      serialAssembler_([this](const LinkMessage& m) { SerialMessage(m); }),
      modemReceiver_(
          [this](const std::uint8_t* p, std::size_t n) {
            station.ModemPicture(p, n, modemPeer_);
            // A keyless site calling for an Object that has a key: told why.
            if (modemPeer_.KeyRefused() && !modemRefusalSent_) {
              modemRefusalSent_ = true;
              const auto refusal = BuildRefusal(secure::Refusal::KeyRequired);
              ModemSend(refusal.data(), refusal.size());
            }
          },
          [this](std::uint32_t n) {
            // Bytes lost or added on the line: the pictures up to the next
            // one that can be found are dropped.
            ctx.journal.AddFailure(
                static_cast<std::size_t>(n) + 4 > link::kModemBufferSize
                    ? "размер картинки " + std::to_string(n) + " байт превышает буфер приёма"
                    : std::string("поток картинок по модему нарушен, данные до следующей "
                                  "картинки пропущены"),
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
    dispatch.PollDuringCall();
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
  f.NewLinkKey.OnClick = [this] { NewLinkKeyClick(); };
  f.LinkKey.OnChange = [this] {
    // A new key takes effect with the next connection.
    badKeyReported_ = keyRefusalReported_ = false;
    clientFault_ = SecureFault::None;
    if (ServerMode()) return;
    if (client_ && client_->Active()) client_->Close();
    // The direct line begins anew with the new key (or without one).
    if (serialSecure_ || (CommPort1.IsOpen() && CommKind() == 1)) {
      serialSecure_.reset();
      serialAssembler_.Reset();
      serialPeer_.SetSecure(false);
      if (CommPort1.IsOpen()) StartSerialSecure();
    }
  };
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
  f.NewLinkKey.OnClick = nullptr;
  f.LinkKey.OnChange = nullptr;
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
  maxConnections_ = static_cast<int>(
      ctx.settings.Ini().ReadInteger("Main", "MaxConnections", kDefaultMaxConnections));
  if (maxConnections_ < 1) maxConnections_ = kDefaultMaxConnections;
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
  const std::uint64_t now = NowMs();
  if (ConnectionCount() >= maxConnections_) {
    // Journaled once a minute at most: a flood of connections must not
    // flood the journal too.
    if (!capReported_ || now - capReportedAt_ >= 60000) {
      capReported_ = true;
      capReportedAt_ = now;
      ctx.journal.ShowStatus("Соединение " + s->PeerAddress() + " отклонено: открыто " +
                                 std::to_string(maxConnections_) +
                                 " соединений, больше не принимается",
                             jkAlarm, 1);
    }
    s->Close();
    return;
  }
  connections_.emplace_back();
  Connection& c = connections_.back();
  c.socket = std::move(s);
  c.acceptedAt = now;
  c.peer.SetAddress(c.socket->PeerAddress());
  c.assembler = LinkAssembler([this, &c](const LinkMessage& m) {
    c.lastMessageAt = NowMs() + 1;
    HandleLinkMessage(m, c.peer);
    // A keyless site of an Object that has a key: told why, then closed.
    if (c.peer.KeyRefused() && !c.secure && !c.closing && !c.dead) {
      const auto refusal = BuildRefusal(secure::Refusal::KeyRequired);
      c.socket->Send(refusal.data(), refusal.size());
      DropConnection(c, true);  // once the refusal has gone
    }
  });
  c.socket->OnData = [this, &c] { ReadConnection(c); };
  c.socket->OnDisconnect = [this, &c] {
    if (c.dead) return;
    if (c.secure) {
      c.secure->EndOfInput(NowMs());
      Unproven(c.peer);
    }
    ConnectionGone(c);
  };
  c.socket->OnError = [](const std::string&) {};  // socket errors are not reported
  if (c.socket->BytesAvailable() > 0) ReadConnection(c);
}

void LinkSubsystem::ReadConnection(Connection& c) {
  if (c.dead || c.closing) return;
  INetSocket& s = *c.socket;
  const std::uint64_t now = NowMs();
  // The first bytes say whether the site speaks with a key.
  while (!c.decided && s.BytesAvailable() > 0) {
    std::uint8_t buf[512];
    const std::size_t got = s.Read(buf, sizeof buf);
    if (got == 0) return;
    c.received += got;
    c.head.insert(c.head.end(), buf, buf + got);
    const LinkStartScan scan = DetectLinkStart(c.head);
    if (scan.kind == LinkStart::NeedMore) {
      c.head.erase(c.head.begin(), c.head.begin() + static_cast<std::ptrdiff_t>(scan.at));
      if (c.received > kUnboundReceiveCap) {
        DropConnection(c, false);
        return;
      }
      continue;
    }
    c.decided = true;
    std::vector<std::uint8_t> head;
    head.swap(c.head);
    if (scan.kind == LinkStart::Secure) {
      StartSecure(c);
      c.secure->Receive(head.data() + scan.at, head.size() - scan.at, now);
      SendSealed(c);
      if (c.secure->GetState() == SecureChannel::State::Closed) {
        DropConnection(c, false);
        return;
      }
    } else {
      c.assembler.Feed(head.data() + scan.at, head.size() - scan.at);
    }
  }
  if (!c.decided) return;
  if (c.secure) {
    while (!c.dead && !c.closing && c.secure->GetState() != SecureChannel::State::Closed) {
      const std::size_t avail = s.BytesAvailable();
      if (avail == 0) break;
      const std::span<std::uint8_t> room = c.secure->ReceiveSpace();
      if (room.empty()) break;
      const std::size_t got = s.Read(room.data(), std::min(avail, room.size()));
      if (got == 0) break;
      c.received += got;
      c.secure->Received(got, now);
      // A refusal goes out before the connection closes.
      const bool said = SendSealed(c);
      if (c.secure->GetState() == SecureChannel::State::Closed) {
        DropConnection(c, said);
        return;
      }
    }
    return;
  }
  // Never more than the room after the write position; what is left waits
  // in the socket and is taken by the next pass of this loop.
  for (std::size_t avail = s.BytesAvailable(); avail > 0 && !c.dead && !c.closing;
       avail = s.BytesAvailable()) {
    const std::size_t room = c.assembler.Space();
    const std::size_t got = s.Read(c.assembler.WritePtr(), avail < room ? avail : room);
    if (got == 0) break;
    c.received += got;
    c.assembler.ReceiveBytes(got);
    // Bytes that never make a message may not come without end.
    if (c.lastMessageAt == 0 && c.received > kUnboundReceiveCap && !c.closing) {
      DropConnection(c, false);
      return;
    }
  }
}

void LinkSubsystem::StartSecure(Connection& c) {
  c.secure = std::make_unique<SecureChannel>([this](std::uint32_t id) { return KeyOfObject(id); },
                                             ChannelOptions::Network(), c.acceptedAt);
  SecureChannel& ch = *c.secure;
  ch.PlainRoom = [&c](std::size_t n) -> std::span<std::uint8_t> {
    if (c.assembler.Space() < n) return {};
    return {c.assembler.WritePtr(), n};
  };
  ch.PlainCommit = [&c](std::size_t n) { c.assembler.ReceiveBytes(n); };
  ch.OnPlain = [&c](std::span<std::uint8_t> p) { c.assembler.Feed(p.data(), p.size()); };
  ch.OnEstablished = [this, &c] { ObjectProven(c.peer, static_cast<int>(c.secure->ObjectId())); };
  ch.OnFault = [this, &c](SecureFault f, bool) {
    const std::int64_t claimed = c.secure->ObjectId();
    const std::string who = claimed >= 0 ? std::to_string(claimed) : c.peer.Address();
    if (!FirstFault(who, f)) return;
    std::string text = PeerText(c.peer);
    if (!c.peer.Bound() && claimed >= 0)
      text = "№" + std::to_string(claimed) + " (" + c.peer.Address() + ")";
    ctx.journal.ShowStatus(
        "Защищённая связь с объектом " + text + ": " + SecureFaultText(f, SecureRole::Station),
        jkAlarm, 1);
  };
}

void LinkSubsystem::ObjectProven(LinkPeer& peer, int id) {
  status.BindProven(peer, id);
  std::string fingerprint;
  if (const int i = station.FindObject(id); i > 0) {
    TObjectRecord& o = ctx.settings.Objects[static_cast<std::size_t>(i)];
    o.LinkSecure = true;
    LinkKey key;
    if (LinkKey::Parse(o.LinkKey, key) == KeyTextError::Ok) fingerprint = key.Fingerprint();
  }
  faultsReported_.erase(std::to_string(id));
  ctx.journal.ShowStatus(
      "Защищённая связь с объектом " + PeerText(peer) + " установлена (ключ " + fingerprint + ")",
      jkNotice, 1);
}

void LinkSubsystem::Unproven(const LinkPeer& peer) {
  if (!peer.Secure()) return;
  if (const int i = station.FindObject(peer.ObjectId()); i > 0)
    ctx.settings.Objects[static_cast<std::size_t>(i)].LinkSecure = false;
}

bool LinkSubsystem::FirstFault(const std::string& who, SecureFault f) {
  auto it = faultsReported_.find(who);
  if (it != faultsReported_.end() && it->second == f) return false;
  faultsReported_[who] = f;
  return true;
}

bool LinkSubsystem::SendSealed(Connection& c) {
  if (!c.secure) return false;
  ByteBuffer& out = c.secure->Outbox();
  if (out.empty()) return false;
  if (!c.dead) c.socket->Send(out.data(), out.size());
  out.clear();
  return true;
}

void LinkSubsystem::DropConnection(Connection& c, bool afterSend) {
  if (c.dead) return;
  afterSend = SendSealed(c) || afterSend;
  if (afterSend && c.socket->Pending() > 0) {
    c.closing = true;
    c.closeBy = NowMs() + 2000;
    return;
  }
  if (c.secure) c.secure->Close();
  Unproven(c.peer);
  ConnectionGone(c);
}

void LinkSubsystem::ConnectionGone(Connection& c) {
  c.dead = true;
  status.PeerGone(c.peer);
  // The counters of the site that went, not those of every other site.
  if (c.peer.Bound()) ResetReceivedBytes(c.peer.ObjectId());
  // The connection's own event may still be running: it goes later.
  if (!sweepPosted_) {
    sweepPosted_ = true;
    ctx.services.dispatcher.Post([this] { SweepConnections(); });
  }
}

std::string LinkSubsystem::PeerText(const LinkPeer& peer) const {
  if (peer.Bound()) {
    const int i = station.FindObject(peer.ObjectId());
    if (i > 0) {
      const TObjectRecord& o = ctx.settings.Objects[static_cast<std::size_t>(i)];
      return "№" + std::to_string(o.ID) + "(" + o.Name + ") (" + peer.Address() + ")";
    }
    return "№" + std::to_string(peer.ObjectId()) + " (" + peer.Address() + ")";
  }
  return peer.Address();
}

void LinkSubsystem::SuperviseConnections() {
  const std::uint64_t now = NowMs();
  for (auto& c : connections_) {
    if (c.dead) continue;
    if (c.closing) {
      if (c.socket->Pending() == 0 || now >= c.closeBy) {
        c.closing = false;
        DropConnection(c, false);
      }
      continue;
    }
    if (c.secure) {
      c.secure->Tick(now);
      const bool said = SendSealed(c);
      if (c.secure->Expired(now) || c.secure->GetState() == SecureChannel::State::Closed)
        DropConnection(c, said);
      continue;
    }
    // The first message is due soon after the connection; and what never
    // became a site goes when it falls silent.
    if (c.lastMessageAt == 0 && now - c.acceptedAt > kFirstMessageMs) {
      DropConnection(c, false);
      continue;
    }
    const std::uint64_t heard = c.lastMessageAt == 0 ? c.acceptedAt : c.lastMessageAt - 1;
    if (!c.peer.Bound() && now - heard > kIdleMs) DropConnection(c, false);
  }
  if (serialSecure_) {
    serialSecure_->Tick(now);
    FlushSerialSecure();
  }
  if (modemSecure_ && st.DataConnected) {
    modemSecure_->Tick(now);
    FlushModemSecure();
  }
  if (clientClosing_ && client_ && (client_->Pending() == 0 || now >= clientCloseBy_)) {
    clientClosing_ = false;
    client_->Close();
  } else if (clientSecure_ && client_ && client_->Connected() && !clientClosing_) {
    clientSecure_->Tick(now);
    if (clientSecure_->Expired(now) || clientSecure_->GetState() == SecureChannel::State::Closed)
      CloseClient();
    else
      FlushClientSecure();
  }
}

LinkKey LinkSubsystem::SiteKey() {
  LinkKey key;
  const KeyTextError e = LinkKey::Parse(ctx.form.LinkKey.Text(), key);
  if (e != KeyTextError::Ok && e != KeyTextError::Empty && !badKeyReported_) {
    badKeyReported_ = true;
    ctx.journal.ReportError(LinkKey::ErrorText(e) + " (ключ связи в настройках связи) !",
                            jcCaughtFailure, 1);
  }
  return key;
}

void LinkSubsystem::NewLinkKeyClick() {
  ctx.form.LinkKey.SetText(LinkKey::Generate().ToText());
}

ObjectKey LinkSubsystem::KeyOfObject(std::uint32_t id) const {
  ObjectKey k;
  if (id > static_cast<std::uint32_t>(INT32_MAX)) return k;
  const int i = station.FindObject(static_cast<int>(id));
  if (i <= 0) return k;
  k.known = true;
  LinkKey::Parse(ctx.settings.Objects[static_cast<std::size_t>(i)].LinkKey, k.key);
  return k;
}

// ---------------------------------------------------------------- the site's connection

void LinkSubsystem::ReadClient() {
  if (!client_) return;
  if (!clientSecure_) {
    // Keyless: a station that requires a key for this Object says so
    // before it closes; the receive assembler skips it as noise.
    for (std::size_t avail = client_->BytesAvailable(); avail > 0;
         avail = client_->BytesAvailable()) {
      const std::size_t room = clientAssembler_.Space();
      std::uint8_t* at = clientAssembler_.WritePtr();
      const std::size_t got = client_->Read(at, avail < room ? avail : room);
      if (got == 0) break;
      NoteRefusal({at, got}, ClientSocketAddress);
      clientAssembler_.ReceiveBytes(got);
    }
    return;
  }
  if (clientClosing_) return;
  const std::uint64_t now = NowMs();
  while (clientSecure_->GetState() != SecureChannel::State::Closed) {
    const std::size_t avail = client_->BytesAvailable();
    if (avail == 0) break;
    const std::span<std::uint8_t> room = clientSecure_->ReceiveSpace();
    if (room.empty()) break;
    const std::size_t got = client_->Read(room.data(), std::min(avail, room.size()));
    if (got == 0) break;
    clientSecure_->Received(got, now);
    if (clientSecure_->GetState() == SecureChannel::State::Closed) break;
    FlushClientSecure();
  }
  if (clientSecure_->GetState() == SecureChannel::State::Closed) CloseClient();
}

void LinkSubsystem::CloseClient() {
  // A refusal the channel left goes out first; the heartbeat closes the
  // connection once it has (or gives up after two seconds).
  const bool said = !clientSecure_->Outbox().empty();
  FlushClientSecure();
  if (said && client_->Pending() > 0) {
    clientClosing_ = true;
    clientCloseBy_ = NowMs() + 2000;
    return;
  }
  clientClosing_ = false;
  client_->Close();
}

void LinkSubsystem::StartClientSecure() {
  const LinkKey key = SiteKey();
  clientSecure_.reset();
  if (key.Empty()) return;
  auto ch = std::make_unique<SecureChannel>(static_cast<std::uint32_t>(ctx.form.ObjNum.Value()),
                                            key, ChannelOptions::Network(), NowMs());
  ch->PlainRoom = [this](std::size_t n) -> std::span<std::uint8_t> {
    if (clientAssembler_.Space() < n) return {};
    return {clientAssembler_.WritePtr(), n};
  };
  ch->PlainCommit = [this](std::size_t n) { clientAssembler_.ReceiveBytes(n); };
  ch->OnPlain = [this](std::span<std::uint8_t> p) { clientAssembler_.Feed(p.data(), p.size()); };
  const std::string fingerprint = key.Fingerprint();
  ch->OnEstablished = [this, fingerprint] {
    stationPeer_.SetSecure(true);
    clientFault_ = SecureFault::None;
    ctx.journal.ShowStatus("Защищённая связь с сервером " + ClientSocketAddress +
                               " установлена (ключ " + fingerprint + ")",
                           jkNotice, 1);
    // The site introduces itself now that it may speak.
    if (SendPictureMessage(1)) {
      ServiceCallPending = false;
      if (!ctx.site.Armed) LastSentArmed = false;
    }
  };
  ch->OnFault = [this](SecureFault f, bool) {
    if (f == clientFault_) return;
    clientFault_ = f;
    ctx.journal.ShowStatus(
        "Связь с сервером " + ClientSocketAddress + ": " + SecureFaultText(f, SecureRole::Site),
        jkAlarm, 1);
  };
  clientSecure_ = std::move(ch);
  clientSecure_->Start(NowMs());
  FlushClientSecure();
}

bool LinkSubsystem::FlushClientSecure() {
  if (!clientSecure_ || !client_) return false;
  ByteBuffer& out = clientSecure_->Outbox();
  if (out.empty()) return true;
  const bool ok = client_->Send(out.data(), out.size());
  out.clear();
  return ok;
}

bool LinkSubsystem::SendToStation(const void* p, std::size_t n) {
  if (!clientSecure_) return client_->Send(p, n);
  if (!clientSecure_->Seal({static_cast<const std::uint8_t*>(p), n})) return false;
  return FlushClientSecure();
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

void LinkSubsystem::ReceiveDirectLine(int count) {
  const std::uint64_t now = NowMs();
  // A line tells nothing when the other end dies: half a message of a site
  // (or station) that went, followed by silence, must not take in the
  // first bytes of the next message, which stands on its own.  (A sealed
  // line starts its session anew instead.)
  const TDateTime stamp = ctx.services.clock.Now();
  if (!serialSecure_ && !serialAssembler_.Searching() && stamp - serialLastData_ > kLineSilence)
    serialAssembler_.Reset();
  serialLastData_ = stamp;
  std::uint8_t buf[4096];
  while (count > 0 && CommPort1.InCount() > 0) {
    if (!serialSecure_ && !ServerMode()) {
      // A keyless site reads straight into its assembler, and looks for a
      // station's refusal among the bytes.
      const std::size_t room = serialAssembler_.Space();
      const int want = static_cast<std::size_t>(count) < room ? count : static_cast<int>(room);
      std::uint8_t* at = serialAssembler_.WritePtr();
      const int got = CommPort1.Read(at, want);
      if (got <= 0) break;
      NoteRefusal({at, static_cast<std::size_t>(got)}, "Com");
      serialAssembler_.ReceiveBytes(static_cast<std::size_t>(got));
      count -= got;
      continue;
    }
    const int got = CommPort1.Read(buf, std::min<int>(count, static_cast<int>(sizeof buf)));
    if (got <= 0) break;
    count -= got;
    SerialBytes(buf, static_cast<std::size_t>(got), now);
  }
  FlushSerialSecure();
}

void LinkSubsystem::SerialBytes(const std::uint8_t* p, std::size_t n, std::uint64_t now) {
  if (!serialSecure_ && ServerMode()) {
    // The station learns from the line itself whether its site has a key:
    // its hello begins a sealed conversation, which then holds the line.
    // Until one comes, every byte goes to the assembler at once.
    std::vector<std::uint8_t> scan(serialHead_);
    scan.insert(scan.end(), p, p + n);
    const auto at = std::search(scan.begin(), scan.end(), secure::kMarker,
                                secure::kMarker + secure::kMarkerSize);
    if (at == scan.end()) {
      serialAssembler_.Feed(p, n);
      const std::size_t keep = std::min<std::size_t>(scan.size(), secure::kMarkerSize - 1);
      serialHead_.assign(scan.end() - static_cast<std::ptrdiff_t>(keep), scan.end());
      return;
    }
    const auto k = static_cast<std::size_t>(at - scan.begin());
    const std::size_t carried = serialHead_.size();
    if (k > carried) serialAssembler_.Feed(p, k - carried);
    serialHead_.clear();
    StartSerialSecure();
    serialSecure_->Receive(scan.data() + k, scan.size() - k, now);
    return;
  }
  serialSecure_->Receive(p, n, now);
}

void LinkSubsystem::SerialMessage(const LinkMessage& m) {
  HandleLinkMessage(m, serialPeer_);
  // A keyless site on the line whose Object has a key here: told why.
  if (ServerMode() && serialPeer_.KeyRefused() && CommPort1.IsOpen()) {
    const auto refusal = BuildRefusal(secure::Refusal::KeyRequired);
    SerialWrite(refusal.data(), refusal.size());
  }
}

void LinkSubsystem::StartSerialSecure() {
  const bool site = !ServerMode();
  std::unique_ptr<SecureChannel> ch;
  LinkKey key;
  if (site) {
    key = SiteKey();
    if (key.Empty()) return;
    ch = std::make_unique<SecureChannel>(static_cast<std::uint32_t>(ctx.form.ObjNum.Value()), key,
                                         ChannelOptions::SerialLine(), NowMs());
  } else {
    ch = std::make_unique<SecureChannel>([this](std::uint32_t id) { return KeyOfObject(id); },
                                         ChannelOptions::SerialLine(), NowMs());
  }
  ch->PlainRoom = [this](std::size_t n) -> std::span<std::uint8_t> {
    if (serialAssembler_.Space() < n) return {};
    return {serialAssembler_.WritePtr(), n};
  };
  ch->PlainCommit = [this](std::size_t n) { serialAssembler_.ReceiveBytes(n); };
  ch->OnPlain = [this](std::span<std::uint8_t> p) { serialAssembler_.Feed(p.data(), p.size()); };
  ch->OnEstablished = [this, site] {
    serialAssembler_.Reset();
    if (site) {
      serialPeer_.SetSecure(true);
      ctx.journal.ShowStatus("Защищённая связь с сервером по " + serialPeer_.Address() +
                                 " установлена (ключ " + SiteKey().Fingerprint() + ")",
                             jkNotice, 1);
      serialSentAt_ = 0;  // the status goes out at once
      SerialStatus();
      return;
    }
    ObjectProven(serialPeer_, static_cast<int>(serialSecure_->ObjectId()));
  };
  ch->OnFault = [this, site](SecureFault f, bool repeated) {
    // The line goes on; what the peer said before the fault counts no more.
    serialAssembler_.Reset();
    if (site) {
      serialPeer_.SetSecure(false);
    } else {
      Unproven(serialPeer_);
      const std::string address = serialPeer_.Address();
      status.PeerGone(serialPeer_);
      serialPeer_.Reset();
      serialPeer_.SetAddress(address);
    }
    if (repeated) return;
    const std::int64_t claimed = serialSecure_->ObjectId();
    const std::string who =
        site ? "site-com" : (claimed >= 0 ? std::to_string(claimed) : serialPeer_.Address());
    if (!FirstFault(who, f)) return;
    if (site)
      ctx.journal.ShowStatus("Связь с сервером по " + serialPeer_.Address() + ": " +
                                 SecureFaultText(f, SecureRole::Site),
                             jkAlarm, 1);
    else
      ctx.journal.ShowStatus(
          "Защищённая связь с объектом " +
              (claimed >= 0 ? "№" + std::to_string(claimed) + " (" + serialPeer_.Address() + ")"
                            : serialPeer_.Address()) +
              ": " + SecureFaultText(f, SecureRole::Station),
          jkAlarm, 1);
  };
  serialSecure_ = std::move(ch);
  if (site) serialSecure_->Start(NowMs());
  FlushSerialSecure();
}

bool LinkSubsystem::SerialWrite(const std::uint8_t* p, std::size_t n) {
  // Only this thread adds to the port's output; its writer only takes.
  if (!CommPort1.IsOpen() || n > static_cast<std::size_t>(std::max(CommPort1.OutFree(), 0)))
    return false;
  return CommPort1.Write(p, static_cast<int>(n)) == static_cast<int>(n);
}

bool LinkSubsystem::SerialSeal(std::span<const std::uint8_t> plain) {
  // A record once sealed must go: sealed only when the port takes it whole
  // along with whatever the channel still holds.
  if (!serialSecure_ || !serialSecure_->Established() || !CommPort1.IsOpen()) return false;
  const std::size_t room = static_cast<std::size_t>(std::max(CommPort1.OutFree(), 0));
  if (serialSecure_->Outbox().size() + serialSecure_->SealedSize(plain.size()) > room) return false;
  if (!serialSecure_->Seal(plain)) return false;
  FlushSerialSecure();
  return true;
}

void LinkSubsystem::FlushSerialSecure() {
  if (!serialSecure_) return;
  ByteBuffer& out = serialSecure_->Outbox();
  if (out.empty()) return;
  // What has no room now waits whole for the next flush; only what could
  // never go whole goes in part (the other end then begins anew).
  if (!SerialWrite(out.data(), out.size())) {
    if (CommPort1.IsOpen() && out.size() <= static_cast<std::size_t>(CommPort1.OutBuffSize()))
      return;
    if (CommPort1.IsOpen()) CommPort1.Write(out.data(), static_cast<int>(out.size()));
  }
  out.clear();
}

void LinkSubsystem::NoteRefusal(std::span<const std::uint8_t> bytes, const std::string& where) {
  const SecureFault f = FindRefusal(bytes);
  if (f == SecureFault::None || keyRefusalReported_) return;
  keyRefusalReported_ = true;
  ctx.journal.ShowStatus("Связь с сервером " + where + ": " + SecureFaultText(f, SecureRole::Site),
                         jkAlarm, 1);
}

void LinkSubsystem::HandleLinkMessage(const LinkMessage& m, LinkPeer& peer) {
  if (ServerMode()) {
    station.HandleLinkMessage(m, peer);
  } else if (!ctx.form.LinkKey.Text().empty() && !peer.Secure()) {
    // A site with a key takes commands only from a station that proved it.
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
      client_->OnData = [this] { ReadClient(); };
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
  stationPeer_.Reset();
  clientClosing_ = false;
  // With a key the site first proves it; it introduces itself once the
  // station has proven the key too.
  StartClientSecure();
  if (clientSecure_) return;
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
  if (!overSerial && clientSecure_ && !clientSecure_->Established()) return false;
  if (overSerial && !CommPort1.IsOpen()) return false;
  if (overSerial && serialSecure_ && !serialSecure_->Established()) return false;
  WriteStatusBlock(pic.Data());
  // A whole picture would hold the direct line (115200 bit/s) for half a
  // minute: over it the message carries the status block alone.
  const std::size_t payload = overSerial ? 4 : size;
  auto header = BuildHeader(static_cast<std::int32_t>(payload + link::kHeaderSize), link::mtPicture,
                            static_cast<std::uint8_t>(ctx.form.ObjNum.Value()),
                            static_cast<std::uint8_t>(c), 0xFF, 0x00);
  bool ok = true;
  auto send = [&](const void* p, std::size_t n) {
    try {
      const auto* b = static_cast<const std::uint8_t*>(p);
      bool sent;
      if (overSerial && serialSecure_)
        sent = SerialSeal({b, n});
      else if (overSerial)
        sent = SerialWrite(b, n);
      else
        sent = SendToStation(p, n);
      if (!sent) throw std::runtime_error("данные не переданы");
    } catch (const std::exception& e) {
      ok = false;
      ctx.journal.AddFailure(e.what());
    }
  };
  if (overSerial) {
    // The status block goes in one piece with its header.
    header.insert(header.end(), pic.Data(), pic.Data() + payload);
    send(header.data(), header.size());
    return ok;
  }
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
  // A site with a key sends pictures once the station has proven it.
  if (modemSecure_ && !modemSecure_->Established()) return false;
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
  std::vector<std::uint8_t> plain(4 + coded.size());
  const auto size = static_cast<std::uint32_t>(coded.size());
  for (int i = 0; i < 4; ++i)
    plain[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (8 * i));
  std::copy(coded.begin(), coded.end(), plain.begin() + 4);
  if (modemSecure_) {
    // With a key the stream goes sealed, record after record.
    if (!modemSecure_->Seal(plain)) return false;
    FlushModemSecure();
  } else {
    ModemSend(plain.data(), plain.size());
  }
  PumpModemPicture();
  return true;
}

void LinkSubsystem::ModemSend(const std::uint8_t* p, std::size_t n) {
  if (modemOutPos_ >= modemOut_.size()) {
    modemOut_.clear();
    modemOutPos_ = 0;
  }
  modemOut_.insert(modemOut_.end(), p, p + n);
}

void LinkSubsystem::FlushModemSecure() {
  if (!modemSecure_) return;
  ByteBuffer& out = modemSecure_->Outbox();
  if (out.empty()) return;
  ModemSend(out.data(), out.size());
  out.clear();
  PumpModemPicture();
}

void LinkSubsystem::ModemBytes(const std::uint8_t* p, std::size_t n) {
  const std::uint64_t now = NowMs();
  if (!ServerMode()) {
    if (modemSecure_)
      modemSecure_->Receive(p, n, now);
    else
      NoteRefusal({p, n}, "(модем)");
    FlushModemSecure();
    return;
  }
  if (!modemDecided_) {
    // The call's first bytes say whether the site seals its stream: a
    // keyless stream begins with a picture's byte count.
    modemHead_.insert(modemHead_.end(), p, p + n);
    const std::size_t have = std::min(modemHead_.size(), secure::kMarkerSize);
    if (std::memcmp(modemHead_.data(), secure::kMarker, have) == 0 && have < secure::kMarkerSize)
      return;
    modemDecided_ = true;
    std::vector<std::uint8_t> head;
    head.swap(modemHead_);
    if (have == secure::kMarkerSize &&
        std::memcmp(head.data(), secure::kMarker, secure::kMarkerSize) == 0) {
      StartModemSecure();
      modemSecure_->Receive(head.data(), head.size(), now);
      FlushModemSecure();
    } else {
      modemReceiver_.Receive(head.data(), head.size());
    }
    return;
  }
  if (modemSecure_) {
    modemSecure_->Receive(p, n, now);
    FlushModemSecure();
  } else {
    modemReceiver_.Receive(p, n);
  }
}

void LinkSubsystem::StartModemSecure() {
  const bool site = !ServerMode();
  std::unique_ptr<SecureChannel> ch;
  if (site) {
    const LinkKey key = SiteKey();
    if (key.Empty()) return;
    ch = std::make_unique<SecureChannel>(static_cast<std::uint32_t>(ctx.form.ObjNum.Value()), key,
                                         ChannelOptions::ModemCall(), NowMs());
  } else {
    ch = std::make_unique<SecureChannel>([this](std::uint32_t id) { return KeyOfObject(id); },
                                         ChannelOptions::ModemCall(), NowMs());
  }
  // The station hands the opened stream to its picture receiver; the site
  // expects nothing but the handshake from the station.
  ch->OnPlain = [this, site](std::span<std::uint8_t> plain) {
    if (!site) modemReceiver_.Receive(plain.data(), plain.size());
  };
  ch->OnEstablished = [this, site] {
    if (site) {
      ctx.journal.ShowStatus("Защищённая связь с сервером по модему установлена (ключ " +
                                 SiteKey().Fingerprint() + ")",
                             jkNotice, 1);
      return;
    }
    modemReceiver_.Reset();
    ObjectProven(modemPeer_, static_cast<int>(modemSecure_->ObjectId()));
  };
  ch->OnFault = [this, site](SecureFault f, bool repeated) {
    // What came before the fault counts no more; the call goes on and the
    // site begins again.
    modemReceiver_.Reset();
    if (!site) {
      Unproven(modemPeer_);
      status.PeerGone(modemPeer_);
      modemPeer_.Reset();
    }
    if (repeated) return;
    const std::int64_t claimed = modemSecure_->ObjectId();
    const std::string who =
        site ? "site-modem" : (claimed >= 0 ? std::to_string(claimed) : std::string("modem"));
    if (!FirstFault(who, f)) return;
    if (site)
      ctx.journal.ShowStatus("Связь с сервером по модему: " + SecureFaultText(f, SecureRole::Site),
                             jkAlarm, 1);
    else
      ctx.journal.ShowStatus(
          "Защищённая связь с объектом " +
              (claimed >= 0 ? "№" + std::to_string(claimed) + " " : std::string()) + "(" +
              modemPeer_.Address() + "): " + SecureFaultText(f, SecureRole::Station),
          jkAlarm, 1);
  };
  modemSecure_ = std::move(ch);
  if (site) modemSecure_->Start(NowMs());
  FlushModemSecure();
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
  if (o && CommPort1.IsOpen() && serialPeer_.ObjectId() == o->ID) {
    if (serialSecure_ ? SerialSeal(cmd) : SerialWrite(cmd.data(), cmd.size())) ++sent;
  }
  for (auto& c : connections_) {
    if (!o || c.dead || c.closing || c.peer.ObjectId() != o->ID) continue;
    try {
      bool ok;
      if (c.secure) {
        ok = c.secure->Seal(cmd);
        const ByteBuffer& out = c.secure->Outbox();
        ok = ok && c.socket->Send(out.data(), out.size());
        c.secure->Outbox().clear();
      } else {
        ok = c.socket->Send(cmd.data(), cmd.size());
      }
      if (!ok) throw std::runtime_error("команда не передана на " + c.socket->PeerAddress());
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
  serialSecure_.reset();
  serialHead_.clear();
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
        if (init != 0) {
          // Silent, it may still be in a call that a run ended without
          // hanging up left it in: back to its commands, the call hung up,
          // and set up once more.
          EscapeToCommands();
          VoiceModem1.WriteString("ATH0");
          for (int i = 0; i < kDrainAfterHangUp && VoiceModem1.InputWaiting(); ++i)
            VoiceModem1.FlushNow();
          init = VoiceModem1.Init();
        }
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
  // A site with a key begins with its hello; its status follows the proof.
  if (ok && kind == 1 && !server) StartSerialSecure();
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
  if (take > 0) ModemBytes(data, take);
}

void LinkSubsystem::DataConnectionUp(std::string connectLine) {
  st.DataConnected = true;
  carrierTail_.clear();
  carrierLost_ = false;
  connectLine_.clear();
  ResetModemSecure();
  if (ServerMode()) {
    modemReceiver_.Reset();
    status.PeerGone(modemPeer_);
    modemPeer_.Reset();
  } else {
    // A site with a key proves it before its pictures go.
    StartModemSecure();
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
  ResetModemSecure();
  ctx.journal.ShowStatus("Завершение соединения", jkNotice, 1);
}

void LinkSubsystem::ResetModemSecure() {
  modemSecure_.reset();
  modemDecided_ = false;
  modemHead_.clear();
  modemRefusalSent_ = false;
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
  if (!ServerMode()) {
    const std::string lockEnded = dispatch.DtmfLock.Tick(ctx.services.clock.TickMs());
    if (!lockEnded.empty()) ctx.journal.AddJournal(lockEnded, jkNotice);
  }
  ++st.Timer3Tag;
  WatchLinkPorts();
  ConnectionTimeout();
  LineReader();
  SerialStatus();
  if (st.DataConnected) PumpModemPicture();
  if (ctx.settings.DebugMode) Button1Click();
  SuperviseConnections();
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
      // A new conversation: the peer of the line that went is gone, and a
      // sealed session begins anew.
      serialAssembler_.Reset();
      Unproven(serialPeer_);
      const std::string address = serialPeer_.Address();
      status.PeerGone(serialPeer_);
      serialPeer_.Reset();
      serialPeer_.SetAddress(address);
      serialSecure_.reset();
      serialHead_.clear();
    }
    OpenLinkPort(w.port, w.kind);
    return;
  }
}

void LinkSubsystem::ConnectionTimeout() {
  if (!st.HangUpDue &&
      (st.RingTime == 0 || ctx.services.clock.Now() - st.RingTime <= kConnectionTimeout))
    return;
  // The hang-up needs the modem to itself; in use, it waits for the next tick.
  if (VoiceModem1.IsOpen() && !VoiceModem1.Acquire(this)) return;
  HangUpLine();
  if (VoiceModem1.IsOpen()) VoiceModem1.Release();
  ctx.journal.ShowStatus("Завершение соединения", jkNotice, 1);
}

void LinkSubsystem::EscapeToCommands() {
  // "+++" between two pauses with nothing sent.  Nothing may follow it
  // within the pause, not even a carriage return: a modem takes that as
  // data and stays in the call.
  Pause(kEscapeGuardMs);
  VoiceModem1.WriteBytes("+++", 3);
  Pause(kEscapeGuardMs);
}

void LinkSubsystem::HangUpLine() {
  st.HangUpDue = false;
  dispatch.DtmfLock.CallEnded();
  const bool data = st.DataConnected;
  st.DataConnected = false;
  st.RingTime = 0;
  modemOut_.clear();
  modemOutPos_ = 0;
  if (VoiceModem1.IsOpen()) {
    if (st.ModemDataMode && data) {
      for (int i = 0; i < 50 && VoiceModem1.OutputQueued() > 0; ++i) Pause(20);
      EscapeToCommands();
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
  ResetModemSecure();
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
        dispatch.DtmfLock.CallStarted(ctx.services.clock.TickMs());
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
