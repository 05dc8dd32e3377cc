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
#include <memory>
#include <string>

#include "app/Controls.h"
#include "link/Protocol.h"
#include "modem/CommPort.h"
#include "modem/ModemProfile.h"
#include "modem/MotorolaSM56.h"
#include "modem/VoiceModem.h"
#include "platform/Clock.h"
#include "platform/MediaPlayer.h"
#include "platform/Net.h"
#include "video/Picture.h"

namespace zv {

class Application;
class TCamera;
class JpegCodec;

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
  void Timer4Timer();

  void LockModem();
  void UnlockModem();
  int EnterVoice();
  int LeaveVoice();
  bool VoiceCall(const std::string& file, bool onLine, const std::string& number);
  bool RecordVoice(const std::string& file, bool onLine);
  bool ServerCall(const std::string& number);
  void VoiceModem1Event(int event, TEventData data, int& result);

  void WaveTestClick();
  void WaveRecClick();
  void RecStopBtnClick();

  // The service call: journaled, and with the network or direct link one
  // picture of camera 1 with the site's status goes to the station.
  void ServiceCall();

 private:
  void StartSoundRecording();
  void StopSound();
  LinkSubsystem& l_;
};

// The station: pictures and status of the sites, operator commands and the
// service-call supervision.
class StationSide {
 public:
  explicit StationSide(LinkSubsystem& link);

  void HandleLinkMessage(const LinkMessage& m);
  void ObjectListBoxClickCheck(int index);
  void Supervise();
  // A camera's picture arrived over the modem stream.
  void ModemPicture(const std::uint8_t* jpeg, std::size_t size);

  // Object i has been reported overdue (0: not overdue).
  TDateTime NextOverdueReport(int i) const { return overdue_.at(static_cast<std::size_t>(i)); }

 private:
  int FindObject(int id) const;
  void SignOfLife(int i);
  void HandleStatus(int i, const std::uint8_t* block);
  LinkSubsystem& l_;
  // Per record number, with the ID it was kept for: records move when an
  // Object is deleted, and state kept for another Object does not count.
  std::array<TDateTime, 101> overdue_{};
  std::array<int, 101> overdueId_{};
  TDateTime& Overdue(int i);
};

class LinkSubsystem {
 public:
  explicit LinkSubsystem(Application& app);
  ~LinkSubsystem();
  LinkSubsystem(const LinkSubsystem&) = delete;
  LinkSubsystem& operator=(const LinkSubsystem&) = delete;

  Application& app;
  LinkState st;
  SiteDispatch dispatch;
  StationSide station;

  // --- components of the link
  TModemProfile ModemProfile1;
  TMotorolaSM56 MotorolaSM561;
  TVoiceModem VoiceModem1;
  TCommPort CommPort1;

  // --- controls of the "Дозвон" page owned here
  TFileNameEdit WaveFile{"WaveFile", "8.rmd"};
  TButton WaveTest{"WaveTest"}, WaveRec{"WaveRec"}, RecStopBtn{"RecStopBtn"};
  TSpinEdit ClientTestCallPeriod{"ClientTestCallPeriod", 30, 1, 10000};
  int Button1Tag = 0;
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
  void OpenPorts();
  void StartNetwork();
  void Shutdown();

  // --- the heartbeat
  void Timer3Timer();
  void ConnectionTimeout();
  void LineReader();

  // --- link protocol
  void Button1Click();
  bool SendPictureMessage(int c, bool overSerial = false);
  void SendCommand(bool armed, int index);
  void ServerAddressesChange();
  void ClientComPortChange(bool fromServerControl);
  void VoiceModem1Read(const std::uint8_t* data, int count);
  // Writes the site's status block into a picture's first four bytes.
  void WriteStatusBlock(std::uint8_t* p) const;
  // Received-bytes counter of camera k.
  long long& ReceivedBytes(int k) { return received_.at(static_cast<std::size_t>(k)); }
  void ResetReceivedBytes();

  bool ServerMode() const;
  int CommKind() const;  // the link kind of this side
  INetClient* Client() const { return client_.get(); }
  INetListener* Listener() const { return listener_.get(); }
  int ConnectionCount() const;
  // Messages handled by every assembler together.
  long long MessagesHandled() const;
  // Called after a message has been handled (tests and tools).
  std::function<void(const LinkMessage&)> OnMessage;

 private:
  struct Connection {
    std::unique_ptr<INetSocket> socket;
    LinkAssembler assembler;
    bool dead = false;
  };
  void HandleLinkMessage(const LinkMessage& m);
  void Accept(std::unique_ptr<INetSocket> s);
  void Drain(INetSocket& s, LinkAssembler& a);
  void SweepConnections();
  void CommPort1DataAvail(int count);

  std::function<void(TDateTime, const TPicture&)> previousFrameHandler_;
  INetFactory* net_ = nullptr;
  IMediaPlayer* player_ = nullptr;
  std::unique_ptr<INetClient> client_;
  std::unique_ptr<INetListener> listener_;
  std::list<Connection> connections_;
  LinkAssembler clientAssembler_;
  LinkAssembler serialAssembler_;
  ModemPictureReceiver modemReceiver_;
  std::unique_ptr<JpegCodec> codec_;
  std::array<long long, 21> received_{};
  long long closedHandled_ = 0;
  bool sweepPosted_ = false;
};

}  // namespace zv
