#pragma once
// The MQTT client on libmosquitto.  One thread per client runs the
// connection: it connects (a plain TCP probe with a time-out first, so that
// an unreachable broker never holds it longer than the connect time-out),
// runs the library's network loop, and reconnects with a doubling delay.
// The main thread only queues messages; the library's own locks make that
// safe while the thread runs.
#include <memory>
#include <thread>

#include "platform/Dispatcher.h"
#include "platform/Mqtt.h"

namespace zv {

class MosquittoClient final : public IMqttClient {
 public:
  explicit MosquittoClient(IDispatcher& dispatcher);
  ~MosquittoClient() override;
  MosquittoClient(const MosquittoClient&) = delete;
  MosquittoClient& operator=(const MosquittoClient&) = delete;

  bool Start(const MqttOptions& options, std::string& error) override;
  void Stop() override;
  bool Connected() const override;
  int Publish(const std::string& topic, const std::string& payload, int qos, bool retain) override;
  void Subscribe(const std::string& pattern, int qos) override;

  struct Shared;

 private:
  IDispatcher& dispatcher_;
  std::shared_ptr<Shared> sh_;
  std::shared_ptr<bool> alive_;  // main thread only: false once stopped
};

class MosquittoFactory final : public IMqttFactory {
 public:
  explicit MosquittoFactory(IDispatcher& dispatcher) : dispatcher_(dispatcher) {}
  std::unique_ptr<IMqttClient> CreateClient() override {
    return std::make_unique<MosquittoClient>(dispatcher_);
  }

 private:
  IDispatcher& dispatcher_;
};

}  // namespace zv
