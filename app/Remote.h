#pragma once
// The station beyond its window: what the station learns about its Objects
// goes to the MQTT bridge as events and retained states, requests from the
// broker and from the web view act as the operator's tick, and the web view
// reads the Objects, their pictures and the journal from here.  Made by the
// composition root in server mode only.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/Cameras.h"
#include "app/FormModel.h"
#include "app/Journal.h"
#include "app/Picture.h"
#include "app/Settings.h"
#include "link/StationStatus.h"
#include "platform/Mqtt.h"
#include "platform/Services.h"
#include "platform/Signal.h"
#include "remote/MqttBridge.h"
#include "remote/RemoteSettings.h"
#include "remote/StationEvent.h"

namespace zv {

class LinkSubsystem;

class StationRemote {
 public:
  // A state's "last seen" alone is published again after this long.
  static constexpr double kLastSeenStep = 60.0 / 86400.0;

  // mqtt: the program's MQTT client maker (none: no MQTT at all).
  StationRemote(Services& services, Journal& journal, Settings& settings, TFormModel& form,
                LinkSubsystem& link, IMqttFactory* mqtt, std::string dataDir);
  ~StationRemote();
  StationRemote(const StationRemote&) = delete;
  StationRemote& operator=(const StationRemote&) = delete;

  // Reads [Mqtt] and [Web] from the settings file and starts the bridge
  // when it is enabled.
  void Start();
  // Tells the front ends (Closing), then stops the bridge; no news goes
  // out afterwards.
  void Shutdown();
  // The station is closing: the web view stops before the station's parts.
  Signal<> Closing;
  // Once a second: every Object's state to the bridge (a deleted one's
  // state cleared), "last seen" at most once a minute.
  void Heartbeat();

  const remote::MqttSettings& Mqtt() const { return mqtt_; }
  const remote::WebSettings& Web() const { return web_; }
  // New settings: written to the settings file and applied at once.
  void ApplyMqtt(const remote::MqttSettings& s);
  // Written to the settings file; the web view applies them itself.
  void StoreWeb(const remote::WebSettings& s);
  // The web view's accounts file: [Web] UsersFile or "WebUsers" in the data folder.
  std::string UsersFile() const;
  remote::MqttBridge* Bridge() { return bridge_.get(); }

  // --- what the web view reads
  remote::ObjectState StateOf(int record) const;
  std::vector<remote::ObjectState> States() const;
  // Pictures placed into the Object's camera so far; 0: none yet.
  std::uint64_t PictureSerial(int objectId, int camera) const;
  bool LatestPicture(int objectId, int camera, TPicture& picture) const;
  struct Line {
    std::string text;
    int kind = 0;
    int objectId = 0;
  };
  std::vector<Line> RecentJournal(std::size_t max) const;

  // An arm (true) or disarm request from afar (source "mqtt" or "web") for
  // the Object with this ID: ticks or clears it and sends the command as
  // the operator's click does.  False when there is no such Object.
  bool RequestArm(int objectId, bool arm, const std::string& source);

 private:
  void OnNews(const ObjectNews& n);
  remote::StationEvent EventOf(const ObjectNews& n) const;
  void UpdateState(int record);
  void SaveRemoteSettings();

  Services& s_;
  Journal& journal_;
  Settings& settings_;
  TFormModel& form_;
  LinkSubsystem& link_;
  IMqttFactory* mqttFactory_;
  std::string dataDir_;
  remote::MqttSettings mqtt_;
  remote::WebSettings web_;
  std::unique_ptr<remote::MqttBridge> bridge_;
  int newsConnection_ = 0;
  bool closed_ = false;
  std::map<int, std::string> lastEvent_;          // per Object ID
  std::map<int, remote::ObjectState> published_;  // per Object ID, as handed on
};

}  // namespace zv
