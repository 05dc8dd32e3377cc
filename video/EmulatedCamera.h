#pragma once
// A capture card that needs no hardware, for setting a site up and trying
// the system: either synthetic scenes, one per switcher input, or pictures
// played in a loop: those of a recording pair (".dsc"/".bin"; each switcher
// input plays its own camera's records when the recording has any), of a
// folder of bitmaps, or a single bitmap.
//
// A synthetic scene is a textured background with sensor-like noise, over
// which objects cross on a fixed timeline: every input is quiet for the
// first kFirstMotionMs after connecting (so a site can be armed on quiet
// pictures), then sees an object cross, a quiet stretch, a second object,
// and so on with period kPeriodMs; inputs are shifted against each other.
// Everything is a function of the time since Connect and the frame number,
// so runs repeat exactly.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/Picture.h"
#include "platform/Capture.h"
#include "platform/Clock.h"

namespace zv {

class EmulatedCamera final : public IEmulatedCapture {
 public:
  static constexpr int kNoise = 4;  // noise is within +-kNoise per byte
  static constexpr std::uint64_t kFirstMotionMs = 15000;
  static constexpr std::uint64_t kPeriodMs = 30000;
  static constexpr int kInputs = 8;

  explicit EmulatedCamera(IClock& clock);
  ~EmulatedCamera() override;

  // "" for synthetic scenes; a recording, a folder of bitmaps or one bitmap.
  void SetSourceFile(const std::string& path) override { file_ = path; }
  const std::string& SourceFile() const override { return file_; }

  std::string DeviceName(int index) const override;
  bool Connect(int index) override;
  void Disconnect() override;
  bool IsConnected() const override { return connected_; }
  bool GetFormat(CaptureFormat& out) override;
  bool SetFormat(const CaptureFormat& fmt) override;
  bool Grab(const CaptureTarget& target) override;
  std::string LastError() const override { return error_; }
  std::vector<CaptureSize> SupportedSizes() override;
  std::vector<std::string> Inputs() override;
  int CurrentInput() override { return input_ - 1; }
  bool SetInput(int index) override;

  void SelectSwitcherInput(int input) override;
  int Input() const { return input_; }

  // Whether an object is crossing input's scene ms after Connect.
  static bool MotionAt(int input, std::uint64_t ms);

 private:
  const TPicture& Background(int input, int w, int h);
  void RenderScene(const CaptureTarget& t, std::uint64_t ms);
  bool RenderFile(const CaptureTarget& t);
  bool RenderRecording(const CaptureTarget& t);
  struct Recording;
  std::unique_ptr<Recording> recording_;

  IClock& clock_;
  std::string file_;
  bool connected_ = false;
  int width_ = 352, height_ = 288;
  int input_ = 1;
  std::uint64_t startMs_ = 0;
  std::uint32_t frameNo_ = 0;
  std::string error_;
  std::map<int, TPicture> backgrounds_;
  std::vector<TPicture> files_;
  std::size_t fileIndex_ = 0;
};

}  // namespace zv
