#pragma once
// The Linux capture driver: Video4Linux2 through libv4l2, which converts
// whatever the device delivers (YUYV, MJPEG, ...) to BGR24.  Driver index i
// is the device <prefix><i>, "/dev/video<i>" by default.  Frames are taken
// by memory-mapped streaming, started with the first grab; every wait for a
// frame is bounded, so a camera that is pulled out fails the grab instead of
// hanging the caller.
#include <string>
#include <vector>

#include "platform/Capture.h"

namespace zv {

class V4l2Capture final : public ICaptureDriver {
 public:
  explicit V4l2Capture(std::string devicePrefix = "/dev/video", int grabTimeoutMs = 500);
  ~V4l2Capture() override;
  V4l2Capture(const V4l2Capture&) = delete;
  V4l2Capture& operator=(const V4l2Capture&) = delete;

  std::string DeviceName(int index) const override;
  bool Connect(int index) override;
  void Disconnect() override;
  bool IsConnected() const override { return fd_ >= 0; }
  bool GetFormat(CaptureFormat& out) override;
  bool SetFormat(const CaptureFormat& fmt) override;
  bool Grab(const CaptureTarget& target) override;
  std::string LastError() const override { return error_; }

  std::vector<CaptureSize> SupportedSizes() override;
  std::vector<std::string> Inputs() override;
  int CurrentInput() override;
  bool SetInput(int index) override;
  std::vector<std::string> Standards() override;
  int CurrentStandard() override;
  bool SetStandard(int index) override;
  std::vector<CaptureControl> Controls() override;
  bool SetControl(std::uint32_t id, int value) override;

 private:
  struct Buffer {
    void* start = nullptr;
    std::size_t length = 0;
  };
  bool Xioctl(unsigned long request, void* arg, const char* what);
  bool ReadFormat();
  bool StartStreaming();
  void StopStreaming();
  void Fail(const std::string& what);

  std::string prefix_;
  int timeoutMs_;
  int fd_ = -1;
  int width_ = 0, height_ = 0, bytesPerLine_ = 0;
  bool streaming_ = false;
  std::vector<Buffer> buffers_;
  std::vector<unsigned long long> standardIds_;
  std::string error_;
};

}  // namespace zv
