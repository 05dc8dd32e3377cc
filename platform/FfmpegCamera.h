#pragma once
// The network camera on FFmpeg's libraries: libavformat opens the address
// (RTSP over TCP or UDP, HTTP multipart JPEG, a file), libavcodec decodes
// (H.264, H.265, MJPEG and whatever else the library knows) and libswscale
// scales every picture to the camera's size in the program's layout.  One
// worker thread per camera; every blocking call of the library is bounded
// by an interrupt callback that also ends it at once on Stop().
#include <memory>
#include <thread>

#include "platform/NetworkCamera.h"

namespace zv {

class FfmpegCamera final : public INetworkCamera {
 public:
  FfmpegCamera(const NetworkCameraConfig& config, IDispatcher& dispatcher,
               NetworkCameraEvents events);
  ~FfmpegCamera() override;
  FfmpegCamera(const FfmpegCamera&) = delete;
  FfmpegCamera& operator=(const FfmpegCamera&) = delete;

  void Start() override;
  void Stop() override;
  bool Running() const override { return thread_.joinable(); }
  NetworkCameraStats Stats() const override;

  // How long Stop() waits for the worker before leaving it to end by itself
  // (only a name lookup that hangs in the system resolver takes that long).
  static constexpr unsigned kStopWaitMs = 3000;

  struct Worker;

 private:
  NetworkCameraConfig config_;
  IDispatcher& dispatcher_;
  NetworkCameraEvents events_;
  std::shared_ptr<Worker> worker_;
  std::thread thread_;
};

class FfmpegCameraFactory final : public INetworkCameraFactory {
 public:
  std::unique_ptr<INetworkCamera> Create(const NetworkCameraConfig& config, IDispatcher& dispatcher,
                                         NetworkCameraEvents events) override {
    return std::make_unique<FfmpegCamera>(config, dispatcher, std::move(events));
  }
};

}  // namespace zv
