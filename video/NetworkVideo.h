#pragma once
// A site camera fed by its own network source instead of the switcher: its
// settings in the camera's section of the settings file, and the source
// itself as the frame cycle sees a capture control.  Pictures arrive on the
// main thread as pictures of the processing size, exactly as from the
// capture card; loss and return come as the journal texts to write.
//
// The source is made by the factory handed in (the program's FFmpeg one,
// or a test's), so nothing here touches the network itself.
#include <functional>
#include <memory>
#include <string>

#include "app/IniFile.h"
#include "platform/Clock.h"
#include "platform/Dispatcher.h"
#include "platform/NetworkCamera.h"
#include "video/Picture.h"

namespace zv {

// Keys of [Camera<k>] for a network source.
namespace netkeys {
constexpr const char* kSource = "NetSource";        // "1": the camera's pictures come from NetUrl
constexpr const char* kUrl = "NetUrl";              // the address, without credentials
constexpr const char* kTransport = "NetTransport";  // "tcp" or "udp" (RTSP)
constexpr const char* kUser = "NetUser";
constexpr const char* kPassword = "NetPassword";
constexpr const char* kFps = "NetFps";  // most pictures per second taken; "0": all
}  // namespace netkeys

struct NetworkCameraSettings {
  bool enabled = false;
  std::string url;
  NetTransport transport = NetTransport::Tcp;
  std::string user, password;
  double fps = 10.0;
  bool operator==(const NetworkCameraSettings&) const = default;
};

// Reads the keys of [Camera<k>] (missing keys keep the defaults above).  An
// address stored with a user and password in it has them taken out into
// user and password, so that the next write keeps them apart.
NetworkCameraSettings ReadNetworkCameraSettings(const IniFile& ini, int k);
void WriteNetworkCameraSettings(IniFile& ini, int k, const NetworkCameraSettings& s);

// Journal texts of a camera's network source.
std::string NetworkLossText(const std::string& description, const std::string& reason);
std::string NetworkReturnText(const std::string& description);

class TNetworkVideo {
 public:
  TNetworkVideo(INetworkCameraFactory& factory, IDispatcher& dispatcher);
  ~TNetworkVideo();
  TNetworkVideo(const TNetworkVideo&) = delete;
  TNetworkVideo& operator=(const TNetworkVideo&) = delete;

  // The source's settings and the processing size (the capture frame size).
  // A running source starts again when anything it uses has changed.
  void Configure(const NetworkCameraSettings& settings, int width, int height);
  const NetworkCameraSettings& Settings() const { return settings_; }

  // Starts the source when the settings enable it and name an address.
  void Start();
  void Stop();
  bool Running() const { return source_ && source_->Running(); }
  bool SignalLost() const { return lost_; }

  // The camera's name in journal texts.
  std::string Description;
  // Time limits and retry pauses of the source (tests shorten them).
  unsigned OpenTimeoutMs = 5000, ReadTimeoutMs = 5000;
  unsigned RetryFirstMs = 1000, RetryMaxMs = 30000;

  // A picture for the frame cycle: the time it was decoded and the picture
  // (reused for the next one: copy what is needed).
  std::function<void(TDateTime, const TPicture&)> OnVideoFrameBmp;
  // Journal texts: the source was lost (once), and came back.
  std::function<void(const std::string&)> OnSignalLost;
  std::function<void(const std::string&)> OnSignalReturned;

  long long FramesDelivered() const { return frames_; }
  NetworkCameraStats Stats() const;

 private:
  void Frame(const NetFrame& f);

  INetworkCameraFactory& factory_;
  IDispatcher& dispatcher_;
  NetworkCameraSettings settings_;
  int width_ = 0, height_ = 0;
  std::unique_ptr<INetworkCamera> source_;
  TPicture frame_;
  bool lost_ = false;
  long long frames_ = 0;
};

}  // namespace zv
