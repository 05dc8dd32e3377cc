#pragma once
// A whole application on the fake platform, with a scripted capture device.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/Utils.h"
#include "support/FakePlatform.h"
#include "support/TempDir.h"
#include "video/VideoInput.h"

namespace zv::test {

// A capture device that takes only the sizes it is told to, and whose frames
// are filled with one byte value.
class ScriptedDriver final : public ICaptureDriver {
 public:
  std::vector<CaptureSize> accepted;  // empty: every size
  int failConnects = 0;               // this many Connect calls fail first
  bool present = true;                // false: Connect always fails
  bool grabFails = false;
  int bits = 24;
  std::uint8_t fill = 100;
  int connectCalls = 0, grabCalls = 0;
  std::vector<CaptureFormat> asked;  // every SetFormat request

  std::string DeviceName(int index) const override { return "/dev/video" + std::to_string(index); }
  bool Connect(int) override {
    ++connectCalls;
    if (!present || failConnects > 0) {
      if (failConnects > 0) --failConnects;
      return false;
    }
    connected = true;
    return true;
  }
  void Disconnect() override { connected = false; }
  bool IsConnected() const override { return connected; }
  bool GetFormat(CaptureFormat& out) override {
    if (!connected) return false;
    out = CaptureFormat{w, h, bits, static_cast<std::uint32_t>(w * h * bits / 8)};
    return true;
  }
  bool SetFormat(const CaptureFormat& f) override {
    asked.push_back(f);
    if (!connected) return false;
    if (!accepted.empty() && std::find(accepted.begin(), accepted.end(),
                                       CaptureSize{f.width, f.height}) == accepted.end())
      return false;
    w = f.width;
    h = f.height;
    bits = f.bitsPerPixel;
    return true;
  }
  bool Grab(const CaptureTarget& t) override {
    ++grabCalls;
    if (!connected || grabFails) return false;
    for (int y = 0; y < t.height; ++y) std::fill_n(t.data + y * t.stride, t.width * 3, fill);
    return true;
  }
  std::string LastError() const override { return grabFails ? "device gone" : ""; }

  bool connected = false;
  int w = 640, h = 480;
};

class VideoAppTest : public ::testing::Test {
 protected:
  void WriteIni(const std::string& text) { WriteFile(dir.file("Zorvenix.ini"), text); }
  std::string Ini() { return ReadFile(dir.file("Zorvenix.ini")); }

  // Builds the application; the scripted driver replaces the V4L2 one.
  Application& Make() {
    app = std::make_unique<Application>(loop.services,
                                        AppPaths{dir.path().string(), dir.path().string()});
    auto d = std::make_unique<ScriptedDriver>();
    driver = d.get();
    app->video->SetCaptureDriver(std::move(d));
    return *app;
  }
  Application& Start() {
    if (!app) Make();
    app->FormCreate();
    return *app;
  }
  VideoInput& video() { return *app->video; }
  TCamera* cam(int k) { return app->video->Camera(k); }

  std::vector<std::string> LogLines() {
    std::vector<std::string> out;
    std::istringstream in(ReadFile(app->journal.LogPath()));
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      out.push_back(line);
    }
    return out;
  }
  // Lines journaled with this kind and error code whose text contains part.
  int Journaled(const std::string& part, int kind, int code = 0) {
    const std::string fields = PadNumber(kind, 3) + PadNumber(0, 4) + PadNumber(0, 4) +
                               PadNumber(0, 3) + PadNumber(code, 8) + " ";
    int n = 0;
    for (const auto& l : LogLines()) {
      const auto at = l.find(fields);
      if (at != std::string::npos && l.find(part, at) != std::string::npos) ++n;
    }
    return n;
  }

  FakeLoop loop;
  TempDir dir;
  std::unique_ptr<Application> app;
  ScriptedDriver* driver = nullptr;
};

}  // namespace zv::test
