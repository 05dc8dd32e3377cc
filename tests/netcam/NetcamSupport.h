#pragma once
// What the network camera tests share: pictures to serve, a loop that runs
// the dispatcher while waiting, a camera whose events are counted, and the
// RTSP server started as a process.
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "detect/PictureCodec.h"
#include "platform/Dispatcher.h"
#include "platform/FfmpegCamera.h"
#include "support/MjpegServer.h"
#include "video/Picture.h"

namespace zv::test {

// A picture whose top-left quarter is red, top-right green, bottom half
// blue, with a grey bar at a position that moves with n.
inline TPicture QuarterPicture(int w, int h, int n = 0) {
  TPicture p(w, h);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = p.ScreenRow(y);
    for (int x = 0; x < w; ++x) {
      std::uint8_t b = 0, g = 0, r = 0;
      if (y < h / 2)
        (x < w / 2 ? r : g) = 230;
      else
        b = 230;
      if (x / 8 == n % (w / 8) && y >= h * 3 / 4) b = g = r = 128;
      row[x * 3] = b;
      row[x * 3 + 1] = g;
      row[x * 3 + 2] = r;
    }
  }
  return p;
}

inline std::vector<std::vector<std::uint8_t>> JpegPictures(int w, int h, int count) {
  JpegCodec codec;
  std::vector<std::vector<std::uint8_t>> out;
  for (int i = 0; i < count; ++i) {
    auto span = codec.EncodePicture(QuarterPicture(w, h, i), 85, true);
    out.emplace_back(span.begin(), span.end());
  }
  return out;
}

// Runs the dispatcher until cond holds or ms pass.
inline bool PumpUntil(QueueDispatcher& d, const std::function<bool()>& cond, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    d.Drain();
    if (cond()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

inline void PumpFor(QueueDispatcher& d, int ms) {
  PumpUntil(
      d, [] { return false; }, ms);
}

// A camera with every event counted, on the test thread's dispatcher.
struct WatchedCamera {
  WatchedCamera(QueueDispatcher& d, NetworkCameraConfig c) : dispatcher(d) {
    NetworkCameraEvents ev;
    ev.onFrame = [this](const NetFrame& f) {
      ++frames;
      last = f;
    };
    ev.onLost = [this](const std::string& why) {
      ++lost;
      reasons.push_back(why);
      events += "L";
    };
    ev.onReturned = [this] {
      ++returned;
      events += "R";
    };
    camera = std::make_unique<FfmpegCamera>(c, d, std::move(ev));
  }
  bool WaitFrames(int n, int ms) {
    return PumpUntil(
        dispatcher, [&] { return frames >= n; }, ms);
  }
  QueueDispatcher& dispatcher;
  std::unique_ptr<FfmpegCamera> camera;
  int frames = 0, lost = 0, returned = 0;
  std::string events;  // "L" and "R" in the order they came
  std::vector<std::string> reasons;
  NetFrame last;
};

// Short limits, so that losses and retries happen within a test.
inline NetworkCameraConfig QuickConfig(const std::string& url, int w = 160, int h = 120) {
  NetworkCameraConfig c;
  c.url = url;
  c.width = w;
  c.height = h;
  c.openTimeoutMs = 3000;
  c.readTimeoutMs = 1000;
  c.retryFirstMs = 100;
  c.retryMaxMs = 400;
  return c;
}

// The RTSP server of tests/support/rtsp-server.py, as a process.
class RtspServer {
 public:
  bool Start(const std::string& codec, int port = 0, const std::string& user = "",
             const std::string& password = "", const std::vector<std::string>& more = {}) {
    std::vector<std::string> argv = {ZV_PYTHON, ZV_RTSP_SERVER, "--codec",
                                     codec,     "--port",       std::to_string(port)};
    argv.insert(argv.end(), more.begin(), more.end());
    if (!user.empty()) argv.insert(argv.end(), {"--user", user, "--password", password});
    if (!process_.Start(argv)) return false;
    std::string line;
    // The first start of GStreamer on a machine builds its plugin registry.
    while (process_.ReadLine(line, 30000))
      if (line.rfind("PORT ", 0) == 0) {
        port_ = std::stoi(line.substr(5));
        return true;
      }
    return false;
  }
  void Stop() { process_.Terminate(); }
  int Port() const { return port_; }
  std::string Url() const { return "rtsp://127.0.0.1:" + std::to_string(port_) + "/cam"; }

 private:
  ChildProcess process_;
  int port_ = 0;
};

}  // namespace zv::test
