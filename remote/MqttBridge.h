#pragma once
// The station's events and its Objects' states on an MQTT broker.
//
//   zorvenix/<station>/objects/<ID>/events   one JSON message per event (QoS 1)
//   zorvenix/<station>/objects/<ID>/state    the Object's state (QoS 0, retained)
//   zorvenix/<station>/objects/<ID>/set      arm/disarm requests (when allowed)
//   zorvenix/<station>/status                "online" / "offline" (retained, will)
//
// Everything runs on the main loop and returns at once: the client's thread
// does the network.  While the broker is away, events wait in a bounded
// queue (the oldest are dropped when it is full, and that is journaled once
// per outage); states are never queued twice, only the latest of each Object
// goes out, and every state is published again after each reconnect.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "platform/Mqtt.h"
#include "remote/RemoteSettings.h"
#include "remote/StationEvent.h"

namespace zv::remote {

class MqttBridge {
 public:
  // Messages handed to the client and not yet acknowledged, at most.
  static constexpr std::size_t kWindow = 64;

  // journal(text, kind): a journal line of the bridge (connection, loss,
  // requests).  Lines never carry the credentials.
  using JournalFn = std::function<void(const std::string& text, int kind)>;
  // An arm (true) or disarm request for the Object with this ID, from the
  // set topic.  Returns false when there is no such Object.
  using SetRequestFn = std::function<bool(int objectId, bool arm)>;

  MqttBridge(IMqttFactory& factory, JournalFn journal);
  ~MqttBridge();
  MqttBridge(const MqttBridge&) = delete;
  MqttBridge& operator=(const MqttBridge&) = delete;

  // Applies the settings: stops, or (re)starts the connection when anything
  // that concerns it changed.  Queued events are kept across a restart.
  void Configure(const MqttSettings& settings);
  const MqttSettings& Settings() const { return settings_; }
  bool Enabled() const { return client_ != nullptr; }

  // An event about an Object; queued when it cannot go out now.
  void Publish(const StationEvent& e);
  // The Object's current state; published (retained) when it changed.
  void UpdateState(const ObjectState& s);
  // The Object is gone: its retained state is cleared on the broker.
  void RemoveObject(int objectId);

  SetRequestFn OnSetRequest;

  bool Connected() const { return connected_; }
  std::size_t Queued() const { return queue_.size(); }
  long long Dropped() const { return droppedTotal_; }
  long long Sent() const { return sent_; }

  // Topic names, for the connector and the documentation's examples.
  std::string Base() const;
  std::string EventsTopic(int id) const;
  std::string StateTopic(int id) const;

 private:
  struct Item {
    bool isState = false;
    int objectId = 0;
    std::string topic;
    std::string payload;  // events only: states are written when they go out
    bool retain = false;
  };
  void Start();
  void Stop();
  void ClientConnected();
  void ClientDisconnected(const std::string& reason);
  void Acknowledged(int mid);
  void Message(const std::string& topic, const std::string& payload, bool retained);
  void QueueState(int objectId);
  void Pump();
  void Enqueue(Item item);

  IMqttFactory& factory_;
  JournalFn journal_;
  MqttSettings settings_;
  std::unique_ptr<IMqttClient> client_;
  std::deque<Item> queue_;
  std::map<int, ObjectState> states_;
  std::set<int> stateQueued_;  // Objects whose state waits in the queue
  std::set<int> inFlight_;     // message ids handed to the client
  bool connected_ = false;
  bool outage_ = false;  // lost (or never made) since the last connect
  bool outageReported_ = false;
  bool lossReported_ = false;
  long long droppedInOutage_ = 0;
  long long droppedTotal_ = 0;
  long long sent_ = 0;
  long long seq_ = 0;
  std::size_t events_ = 0;        // events in the queue
  bool refusedReported_ = false;  // a refused request, once per connection
};

// A station's name as one topic level: '/', '+', '#' and control characters
// become '_'; empty becomes "station".
std::string TopicLevel(const std::string& name);

// Reads an arm/disarm request: "arm"/"disarm", "1"/"0", "on"/"off",
// "true"/"false", or JSON {"armed": true|false}.  False when it is none.
bool ParseSetRequest(const std::string& payload, bool& arm);

}  // namespace zv::remote
