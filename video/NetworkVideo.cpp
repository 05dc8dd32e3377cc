#include "video/NetworkVideo.h"

#include <charconv>
#include <cstring>

namespace zv {

namespace {

std::string Section(int k) {
  return "Camera" + std::to_string(k);
}

// Decimals in the settings file always use '.', whatever the locale.
bool ParseDecimal(const std::string& text, double& out) {
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && p == end;
}

std::string FormatDecimal(double v) {
  char buf[32];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return ec == std::errc() ? std::string(buf, p) : "0";
}

}  // namespace

NetworkCameraSettings ReadNetworkCameraSettings(const IniFile& ini, int k) {
  const std::string sec = Section(k);
  NetworkCameraSettings s;
  s.enabled = ini.ReadString(sec, netkeys::kSource, "0") == "1";
  s.url = ini.ReadString(sec, netkeys::kUrl, "");
  s.transport = ini.ReadString(sec, netkeys::kTransport, "tcp") == "udp" ? NetTransport::Udp
                                                                         : NetTransport::Tcp;
  s.user = ini.ReadString(sec, netkeys::kUser, "");
  s.password = ini.ReadString(sec, netkeys::kPassword, "");
  std::string user, password;
  if (SplitCredentials(s.url, user, password)) {
    // Typed into the address: the separate keys, when set, win.
    if (s.user.empty()) s.user = user;
    if (s.password.empty()) s.password = password;
  }
  double fps = 0;
  if (ParseDecimal(ini.ReadString(sec, netkeys::kFps, FormatDecimal(s.fps)), fps) && fps >= 0)
    s.fps = fps;
  return s;
}

void WriteNetworkCameraSettings(IniFile& ini, int k, const NetworkCameraSettings& s) {
  const std::string sec = Section(k);
  ini.WriteString(sec, netkeys::kSource, s.enabled ? "1" : "0");
  ini.WriteText(sec, netkeys::kUrl, RedactUrl(s.url));
  ini.WriteString(sec, netkeys::kTransport, s.transport == NetTransport::Udp ? "udp" : "tcp");
  ini.WriteText(sec, netkeys::kUser, s.user);
  ini.WriteText(sec, netkeys::kPassword, s.password);
  ini.WriteString(sec, netkeys::kFps, FormatDecimal(s.fps));
}

std::string NetworkLossText(const std::string& description, const std::string& reason) {
  return "Нет видеосигнала с видеокамеры \"" + description + "\"" +
         (reason.empty() ? std::string() : " (" + reason + ")") + " !";
}

std::string NetworkReturnText(const std::string& description) {
  return "Видеосигнал с видеокамеры \"" + description + "\" восстановлен";
}

// ---------------------------------------------------------------------------

TNetworkVideo::TNetworkVideo(INetworkCameraFactory& factory, IDispatcher& dispatcher)
    : factory_(factory), dispatcher_(dispatcher) {}

TNetworkVideo::~TNetworkVideo() {
  Stop();
}

void TNetworkVideo::Configure(const NetworkCameraSettings& settings, int width, int height) {
  const bool changed = !(settings == settings_) || width != width_ || height != height_;
  settings_ = settings;
  width_ = width;
  height_ = height;
  if (changed && Running()) {
    Stop();
    Start();
  }
}

void TNetworkVideo::Start() {
  if (Running() || !settings_.enabled || settings_.url.empty()) return;
  NetworkCameraConfig c;
  c.url = settings_.url;
  c.user = settings_.user;
  c.password = settings_.password;
  c.transport = settings_.transport;
  c.width = width_;
  c.height = height_;
  c.maxFps = settings_.fps;
  c.openTimeoutMs = OpenTimeoutMs;
  c.readTimeoutMs = ReadTimeoutMs;
  c.retryFirstMs = RetryFirstMs;
  c.retryMaxMs = RetryMaxMs;
  NetworkCameraEvents ev;
  ev.onFrame = [this](const NetFrame& f) { Frame(f); };
  ev.onLost = [this](const std::string& reason) {
    lost_ = true;
    if (OnSignalLost) OnSignalLost(NetworkLossText(Description, reason));
  };
  ev.onReturned = [this] {
    lost_ = false;
    if (OnSignalReturned) OnSignalReturned(NetworkReturnText(Description));
  };
  lost_ = false;
  source_ = factory_.Create(c, dispatcher_, std::move(ev));
  source_->Start();
}

void TNetworkVideo::Stop() {
  if (source_) source_->Stop();
  source_.reset();
  lost_ = false;
}

NetworkCameraStats TNetworkVideo::Stats() const {
  return source_ ? source_->Stats() : NetworkCameraStats{};
}

void TNetworkVideo::Frame(const NetFrame& f) {
  if (f.width <= 0 || f.height <= 0 || f.stride != TPicture::StrideFor(f.width) ||
      f.pixels.size() != static_cast<std::size_t>(f.stride) * static_cast<std::size_t>(f.height))
    return;
  frame_.SetSize(f.width, f.height);
  std::memcpy(frame_.Data(), f.pixels.data(), f.pixels.size());
  ++frames_;
  if (OnVideoFrameBmp) OnVideoFrameBmp(f.stamp, frame_);
}

}  // namespace zv
