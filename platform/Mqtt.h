#pragma once
// An MQTT client as the core sees it.  The connection lives on a thread of
// the implementation: Start and Publish return at once and never wait on the
// network, and every event (connected, disconnected, a message, a delivery)
// reaches the main loop through the dispatcher.  The client reconnects by
// itself, with a growing delay, until it is stopped.
#include <functional>
#include <memory>
#include <string>

namespace zv {

struct MqttOptions {
  std::string host = "127.0.0.1";
  int port = 1883;
  std::string clientId;
  std::string username;  // empty: none
  std::string password;
  // TLS when caFile is set; the client certificate and key are optional.
  std::string caFile;
  std::string certFile;
  std::string keyFile;
  int keepAliveSeconds = 30;
  // Delay before a reconnect: from the first value, doubled per failed try,
  // up to the second.
  int reconnectMinMs = 1000;
  int reconnectMaxMs = 30000;
  // A connect that has not completed by then is given up and retried.
  int connectTimeoutMs = 10000;
  // Published by the broker when the connection is lost (retained).
  std::string willTopic;
  std::string willPayload;
};

class IMqttClient {
 public:
  virtual ~IMqttClient() = default;
  // Starts connecting in the background; false when the options are unusable
  // (the reason in error).  A started client keeps reconnecting.
  virtual bool Start(const MqttOptions& options, std::string& error) = 0;
  // Ends the connection (a clean disconnect when connected); no event follows.
  virtual void Stop() = 0;
  virtual bool Connected() const = 0;
  // Queues a message for sending (QoS 0 or 1).  Returns its message id (> 0)
  // or 0 when it was not taken (not connected, too large).
  virtual int Publish(const std::string& topic, const std::string& payload, int qos,
                      bool retain) = 0;
  // Subscriptions are remembered and renewed on every reconnect.
  virtual void Subscribe(const std::string& pattern, int qos) = 0;

  std::function<void()> OnConnected;
  // reason: why the connection ended or could not be made (never a secret).
  std::function<void(const std::string& reason)> OnDisconnected;
  // A QoS 1 message was acknowledged by the broker (or a QoS 0 one written).
  std::function<void(int mid)> OnPublished;
  // A message of a subscription; retained: the broker kept it from before.
  std::function<void(const std::string& topic, const std::string& payload, bool retained)>
      OnMessage;
};

class IMqttFactory {
 public:
  virtual ~IMqttFactory() = default;
  virtual std::unique_ptr<IMqttClient> CreateClient() = 0;
};

}  // namespace zv
