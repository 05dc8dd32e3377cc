#pragma once
// The site-station link subsystem: the link's ports (TCP listener and
// client, the direct serial line, the voice modem), the site's picture
// sender and alarm dispatch, and the station's handling of its sites.
//
// Every connection and the serial line has its own receive assembler, so
// two sites sending at once never mix their bytes.
#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "app/Cameras.h"
#include "app/Controls.h"
#include "app/FormModel.h"
#include "app/Journal.h"
#include "app/Picture.h"
#include "app/Settings.h"
#include "app/SiteStatus.h"
#include "link/LinkPeer.h"
#include "link/Protocol.h"
#include "link/StationStatus.h"
#include "link/secure/DtmfLockout.h"
#include "link/secure/SecureChannel.h"
#include "modem/CommPort.h"
#include "modem/ModemLogFile.h"
#include "modem/ModemProfile.h"
#include "modem/MotorolaSM56.h"
#include "modem/VoiceModem.h"
#include "platform/Clock.h"
#include "platform/MediaPlayer.h"
#include "platform/Net.h"
#include "platform/SerialDevice.h"
#include "platform/Services.h"
#include "platform/Timer.h"
#include "video/FrameIntake.h"
#include "video/Video.h"

namespace zv {

class TCamera;
class JpegCodec;

// What the link uses of the program around it.
struct LinkContext {
  Services& services;
  Journal& journal;
  TFormModel& form;
  Settings& settings;
  CameraTable& cameras;
  // A site's picture arriving at the station is taken like a captured frame.
  FrameIntake& intake;
  // The capture control: a voice message plays with the preview on.
  TVideo& capture;
  // The site's status, sent with every picture; the dispatch keeps its flag.
  SiteStatus& site;
  // Arming and disarming from afar, and the gauge poll's answers.
  IDefence& defence;
  // Counts the seconds an alarm has lasted.
  TTimer& timer4;
  // The devices of the direct line's port and the modem's.
  SerialDeviceFactory serialDevices;
};

// Call and connection state both sides share.
struct LinkState {
  bool CallInProgress = false;
  bool ModemDataMode = false;
  bool DataConnected = false;
  std::string DtmfBuffer;
  TDateTime RingTime = 0;    // 0: no incoming call or data call being timed
  int Timer3Tag = 0;         // ticks since the last service call
  int Timer4Tag = 0;         // seconds the current alarm has lasted
  int VoiceEntries = 0;      // successful voice-mode entries since start-up
  TDateTime AlarmStart = 0;  // when the current dispatch began
  bool HangUpDue = false;    // the call is to be ended (wrong DTMF codes)
};

// A refused modem lock: the operation is abandoned without a report.
struct ModemAbort {};

class LinkSubsystem;

// The site's alarm dispatch over the Abonents, voice calls, DTMF control and
// the voice-message buttons.
class SiteDispatch {
 public:
  explicit SiteDispatch(LinkSubsystem& link);

  // The client-mode steps of the heartbeat; quiet: the gauge poll's result.
  void TickSteps(bool quiet);
  // Timer4: one more second of the alarm.
  void CountAlarmSecond();

  void LockModem();
  void UnlockModem();
  int EnterVoice();
  int LeaveVoice();
  bool VoiceCall(const std::string& file, bool onLine, const std::string& number);
  // recorded, when given, tells whether the recording itself succeeded.
  bool RecordVoice(const std::string& file, bool onLine, bool* recorded = nullptr);
  bool ServerCall(const std::string& number);
  void VoiceModem1Event(ModemEvent event, TEventData data, int& result);
  // A DTMF digit from the line: the arming and disarming codes are looked
  // for among the digits so far.
  void TakeDtmfDigit(char digit);
  // A call of the dispatch is stopped at once when the site is disarmed in
  // the middle of it (by DTMF, by the station or at the keyboard).
  void StopCallIfDisarmed();
  // While a call of the dispatch is being made the heartbeat waits for it;
  // the inputs are polled from the call's waits instead, once a second.
  void PollDuringCall();
  // The limit on guessing the DTMF codes, over the calls of a run.
  DtmfLockout DtmfLock;

  void WaveTestClick();
  void WaveRecClick();
  void RecStopBtnClick();

  // The service call: journaled, and with the network or direct link one
  // picture of camera 1 with the site's status goes to the station.
  void ServiceCall();

 private:
  void StartSoundRecording();
  void StopSound();
  // The dispatch goes on only while the site is armed.
  bool Dispatching() const;
  LinkSubsystem& l_;
  bool dispatchCall_ = false;  // a call of the dispatch is being made
  bool callStopped_ = false;   // and it has been told to stop
  std::uint64_t lastCallPoll_ = 0;
};

// The station: the sites' pictures into their cameras, their status to
// StationStatus, and the operator's commands.
class StationSide {
 public:
  explicit StationSide(LinkSubsystem& link);

  // A complete message from peer; the message acts only on the Object the
  // peer speaks for.
  void HandleLinkMessage(const LinkMessage& m, LinkPeer& peer);
  void ObjectListBoxClickCheck(int index);
  // A picture arrived over the modem stream of peer.
  void ModemPicture(const std::uint8_t* jpeg, std::size_t size, LinkPeer& peer);
  // Record number of the Object with this ID, 0 when there is none.
  int FindObject(int id) const;

 private:
  void PlacePicture(TCamera* cam, const LinkMessage& m);
  LinkSubsystem& l_;
};

class LinkSubsystem {
 public:
  explicit LinkSubsystem(const LinkContext& context);
  ~LinkSubsystem();
  LinkSubsystem(const LinkSubsystem&) = delete;
  LinkSubsystem& operator=(const LinkSubsystem&) = delete;

  LinkContext ctx;
  LinkState st;
  StationStatus status;
  SiteDispatch dispatch;
  StationSide station;

  // --- components of the link
  TModemProfile ModemProfile1;
  TMotorolaSM56 MotorolaSM561;
  TModemLogFile ModemLogFile1, ModemLogFile2;  // the modem's log and trace
  TVoiceModem VoiceModem1;
  TCommPort CommPort1;

  // --- controls of the "Дозвон" page owned here
  TFileNameEdit WaveFile{"WaveFile", "8.rmd"};
  TButton WaveTest{"WaveTest"}, WaveRec{"WaveRec"}, RecStopBtn{"RecStopBtn"};
  TSpinEdit ClientTestCallPeriod{"ClientTestCallPeriod", 30, 1, 10000};
  int Button1Tag = 0;
  // A picture with the armed flag set went out, or the site was armed since:
  // one more picture, carrying the cleared flag, is due after disarming.
  bool LastSentArmed = false;
  // A service call waits for the client socket to come up.
  bool ServiceCallPending = false;

  // The platform's sockets and sound player (unset: no network, no sound).
  void SetNet(INetFactory* net) { net_ = net; }
  INetFactory* Net() const { return net_; }
  void SetMediaPlayer(IMediaPlayer* p) { player_ = p; }
  IMediaPlayer* Player() const { return player_; }
  // Whether recording is on.  Unset: the record button's pressed state.
  std::function<bool()> IsRecording;
  bool Recording() const;
  // The alarm sound file.
  std::string SoundFile() const;

  // --- start-up (steps 10, 16, 17) and shutdown (4, 6, 7)
  // Start-up: the receive buffer allocated with the working buffers becomes
  // the direct serial line's.
  void AdoptReceiveBuffer(std::unique_ptr<std::uint8_t[]> buf) {
    serialAssembler_.AdoptBuffer(std::move(buf));
  }
  // The modem's log and trace go to the files named.
  void OpenPorts(const std::string& modemLog, const std::string& modemTrace);
  void StartNetwork();
  // The program is closing: a dispatch in the middle of its calls ends.
  void ProgramClosing() { closing_ = true; }
  bool Closing() const { return closing_; }
  void Shutdown();
  // The address the site connects to: the first of "ServerAddresses".
  std::string ClientSocketAddress;

  // --- the heartbeat: the station's supervision or the site's alarm
  // dispatch, the connection time-out, the modem's line, the direct line's
  // status, the modem picture stream.
  void Heartbeat();
  // A link port that went away is journaled and opened again when it is back.
  void WatchLinkPorts();
  void ConnectionTimeout();
  void LineReader();
  // A captured frame was taken: at a site the next picture follows it to
  // the station.
  void FrameTaken();

  // --- the link key
  // The site's key from its link settings; empty without one (or when the
  // text is not a key, which is journaled once).
  LinkKey SiteKey();
  // "Новый ключ": a fresh random key into the site's link settings.
  void NewLinkKeyClick();
  // What the station knows of the Object a hello names.
  ObjectKey KeyOfObject(std::uint32_t id) const;
  // The site's channel to its station over the network (null: keyless or
  // not connected).
  const SecureChannel* StationChannel() const { return clientSecure_.get(); }
  // The direct line's channel (null: keyless).
  const SecureChannel* SerialChannel() const { return serialSecure_.get(); }

  // --- limits that hold with or without a key
  // Simultaneous connections the station takes ("MaxConnections" in [Main]).
  static constexpr int kDefaultMaxConnections = 512;
  int MaxConnections() const { return maxConnections_; }
  // A connection must bring its first message (or complete its handshake)
  // this soon after it was accepted.
  static constexpr std::uint64_t kFirstMessageMs = 10000;
  // A connection that never became a site is closed after this long silent.
  static constexpr std::uint64_t kIdleMs = 60000;
  // Bytes a connection may send before its first message: one picture
  // message of the largest size and a little noise.
  static constexpr std::size_t kUnboundReceiveCap = 1100000;
  // Checks the deadlines of the station's connections (the heartbeat).
  void SuperviseConnections();

  // --- link protocol
  // The hidden "Send Frame..." button: sends the next picture.
  void Button1Click() { SendNextPicture(); }
  void SendNextPicture();
  bool SendPictureMessage(int c, bool overSerial = false);
  // The station's arm or disarm command for the Object at list position
  // index, over the connection that speaks for that Object only; false (and
  // journaled) when none is up.
  bool SendCommand(bool armed, int index);
  void ServerAddressesChange();
  void ClientComPortChange(bool fromServerControl);
  void VoiceModem1Read(const std::uint8_t* data, int count) { ReadModemStream(data, count); }
  // Bytes the modem read: during a data connection the picture stream, up
  // to the modem's "NO CARRIER".
  void ReadModemStream(const std::uint8_t* data, int count);
  // A data connection came about (the modem's "CONNECT" line) or ended.
  void DataConnectionUp(std::string connectLine);
  void DataConnectionDown();
  // The modem reported the connection while dialling or answering.
  const std::string& ConnectLine() const { return connectLine_; }
  // The profile's dial mode from the dialling-type setting.
  void ApplyDialMode();
  // Writes the site's status block into a picture's first four bytes.
  void WriteStatusBlock(std::uint8_t* p) const;
  // Received-bytes counter of camera k.
  long long& ReceivedBytes(int k) { return received_.at(static_cast<std::size_t>(k)); }
  void ResetReceivedBytes();
  // Only the cameras of the Object with this ID.
  void ResetReceivedBytes(int objectId);

  bool ServerMode() const;
  int CommKind() const;  // the link kind of this side
  INetClient* Client() const { return client_.get(); }
  INetListener* Listener() const { return listener_.get(); }
  int ConnectionCount() const;
  // The station's peers: its connections, its serial line, its modem call.
  std::vector<const LinkPeer*> Peers() const;
  const LinkPeer& SerialPeer() const { return serialPeer_; }
  const LinkPeer& ModemPeer() const { return modemPeer_; }
  // Messages handled by every assembler together.
  long long MessagesHandled() const;
  // Called after a message has been handled (tests and tools).
  std::function<void(const LinkMessage&)> OnMessage;

 private:
  struct Connection {
    std::unique_ptr<INetSocket> socket;
    LinkPeer peer;
    LinkAssembler assembler{nullptr};
    bool dead = false;
    // The secure link over this connection; null while undecided and for
    // a keyless site.
    std::unique_ptr<SecureChannel> secure;
    bool decided = false;            // the first bytes said which link it is
    std::vector<std::uint8_t> head;  // the bytes before that
    std::uint64_t acceptedAt = 0;
    std::uint64_t lastMessageAt = 0;  // 0: none yet
    std::size_t received = 0;         // bytes read
    bool closing = false;             // a refusal is going out; closed once sent
    std::uint64_t closeBy = 0;
  };
  std::uint64_t NowMs() const { return ctx.services.clock.TickMs(); }
  // The station's side of one connection.
  void ReadConnection(Connection& c);
  void StartSecure(Connection& c);
  // Sends what the channel has to send; false when there was nothing.
  bool SendSealed(Connection& c);
  // Ends a connection: at once, or once what is queued has gone out.
  void DropConnection(Connection& c, bool afterSend);
  // Marks a connection gone (its Object's connection count, its counters)
  // and has it swept out after the event that ended it.
  void ConnectionGone(Connection& c);
  // A peer's name for the journal: its Object when known, and its address.
  std::string PeerText(const LinkPeer& peer) const;
  // The site's side of its network connection.
  void ReadClient();
  void StartClientSecure();
  bool SendToStation(const void* p, std::size_t n);
  bool FlushClientSecure();
  // The direct line: its bytes into the secure channel or the assembler.
  void SerialBytes(const std::uint8_t* p, std::size_t n, std::uint64_t now);
  void SerialMessage(const LinkMessage& m);
  void StartSerialSecure();
  // A peer proved the key of Object id: bound to it, shown and journaled.
  void ObjectProven(LinkPeer& peer, int id);
  // A proven peer is gone or failed: its Object is no longer shown sealed.
  void Unproven(const LinkPeer& peer);
  // Whether this fault of this peer is news (journaled once until it
  // changes or the peer proves its key).
  bool FirstFault(const std::string& who, SecureFault f);
  // The direct line's messages go whole or not at all: half a message left
  // in the port when its output stalls would run into the next one at the
  // other end (a plain message misread, a sealed session broken).
  bool SerialWrite(const std::uint8_t* p, std::size_t n);
  bool SerialSeal(std::span<const std::uint8_t> plain);
  void FlushSerialSecure();
  // The modem's data connection: bytes out after what is queued, bytes in
  // to the secure channel or the picture receiver.
  void ModemSend(const std::uint8_t* p, std::size_t n);
  void ModemBytes(const std::uint8_t* p, std::size_t n);
  void StartModemSecure();
  void FlushModemSecure();
  void ResetModemSecure();
  // A keyless site journals a station's refusal found among bytes, once.
  void NoteRefusal(std::span<const std::uint8_t> bytes, const std::string& where);
  void CloseClient();
  void HandleLinkMessage(const LinkMessage& m, LinkPeer& peer);
  void Accept(std::unique_ptr<INetSocket> s);
  void SweepConnections();
  void CommPort1DataAvail(int count) { ReceiveDirectLine(count); }
  // The direct line's bytes into its assembler.
  void ReceiveDirectLine(int count);
  void ClientConnected();
  // Opens the modem (kind 0) or the direct line (kind 1) on COM<port> and
  // journals whether it opened.
  void OpenLinkPort(int port, int kind);
  // Whether COM<port> is there and takes writing, with the reason when it
  // is not.
  DeviceResult ProbeLinkPort(int port) const;
  // Opens CommPort1 on COM<port> for the direct line; false with the reason.
  bool OpenDirectLine(int port, std::string& reason);
  // The site's status over the direct line: when it changed, and now and
  // then so that the station knows who is on the line.
  void SerialStatus();
  // The site's picture stream over a modem data connection: the next
  // picture is coded when the one before has gone to the port.
  bool QueueModemPicture(int c);
  void PumpModemPicture();
  // Reads what the modem sends during a data connection.
  void ReadDataConnection();
  // Ends a modem call: a data connection by the escape, then the hang-up.
  void HangUpLine();
  void EscapeToCommands();
  // Lets the loop run for ms, for the modem's escape guard time.
  void Pause(int ms);

  bool closing_ = false;
  INetFactory* net_ = nullptr;
  IMediaPlayer* player_ = nullptr;
  std::unique_ptr<INetClient> client_;
  std::unique_ptr<INetListener> listener_;
  std::list<Connection> connections_;
  LinkPeer serialPeer_{"Com"};
  LinkPeer modemPeer_{"модем"};
  LinkPeer stationPeer_;  // the site's one peer: its station
  LinkAssembler clientAssembler_;
  LinkAssembler serialAssembler_;
  ModemPictureReceiver modemReceiver_;
  std::string connectLine_;  // the last "CONNECT" line the modem sent
  std::string carrierTail_;  // the end of the data read before, for "NO CARRIER"
  bool carrierLost_ = false;
  bool readingData_ = false;
  std::vector<std::uint8_t> modemOut_;  // count and JPEG of the picture going out
  std::size_t modemOutPos_ = 0;
  TDateTime serialLastData_ = 0;  // when the direct line last brought bytes
  std::array<std::uint8_t, 4> serialSent_{};
  TDateTime serialSentAt_ = 0;
  std::unique_ptr<JpegCodec> codec_;
  // The link ports that opened, watched for going away.
  struct WatchedPort {
    int port = 0;
    int kind = 0;  // 0 the modem, 1 the direct line
    bool lost = false;
    TDateTime tried = 0;  // when it went away, or was last tried
  };
  std::vector<WatchedPort> watched_;
  std::array<long long, 21> received_{};
  long long closedHandled_ = 0;
  bool sweepPosted_ = false;
  std::unique_ptr<SecureChannel> clientSecure_;
  std::unique_ptr<SecureChannel> serialSecure_;  // the direct line's, null: keyless
  std::vector<std::uint8_t> serialHead_;
  std::unique_ptr<SecureChannel> modemSecure_;  // the data call's, null: keyless
  bool modemDecided_ = false;                   // station: the call's first bytes were seen
  std::vector<std::uint8_t> modemHead_;
  bool modemRefusalSent_ = false;  // station: the line's bytes before a marker
  bool clientClosing_ = false;     // a refusal is going out; closed once sent
  std::uint64_t clientCloseBy_ = 0;
  bool badKeyReported_ = false;
  bool keyRefusalReported_ = false;
  int maxConnections_ = kDefaultMaxConnections;
  // The secure link's faults journaled, per Object claimed (or address), so
  // that a peer that keeps reconnecting is journaled once until it succeeds.
  std::map<std::string, SecureFault> faultsReported_;
  SecureFault clientFault_ = SecureFault::None;
  std::uint64_t capReportedAt_ = 0;
  bool capReported_ = false;
};

}  // namespace zv
