#pragma once
// The capture control: connects to a capture driver by index, negotiates
// the picture format, grabs single frames on its grab timer and hands each
// one on with its time stamp.  It also watches the signal: a device that
// stops delivering frames is journaled once, reconnected every few seconds,
// and its return journaled.
#include <cstdint>
#include <functional>
#include <string>

#include "app/Journal.h"
#include "app/Picture.h"
#include "platform/Capture.h"
#include "platform/Services.h"
#include "platform/Timer.h"

namespace zv {

// The 40-byte bitmap-info header the format is negotiated with.
struct BitmapInfoHeader {
  std::uint32_t biSize = 40;
  std::int32_t biWidth = 0;
  std::int32_t biHeight = 0;
  std::uint16_t biPlanes = 1;
  std::uint16_t biBitCount = 24;
  std::uint32_t biCompression = 0;
  std::uint32_t biSizeImage = 0;
  std::int32_t biXPelsPerMeter = 0;
  std::int32_t biYPelsPerMeter = 0;
  std::uint32_t biClrUsed = 0;
  std::uint32_t biClrImportant = 0;
};

// The fallback sizes of Connect, in the order they are tried.
extern const CaptureSize kFallbackSizes[4];
// Bits per pixel of a Connect mode (0 -> 8, 1 -> 16, 2 -> 24).
int ModeBits(int mode);

class TVideo {
 public:
  TVideo(Services& services, Journal& journal);
  TVideo(const TVideo&) = delete;
  TVideo& operator=(const TVideo&) = delete;

  // The driver used by the next Connect (not owned; null: none).
  void SetDriver(ICaptureDriver* driver);
  ICaptureDriver* Driver() const { return driver_; }
  void SetDialogs(ICaptureDialogs* dialogs) { dialogs_ = dialogs; }

  // --- properties
  float Fps() const { return fps_; }
  bool Connected() const { return connected_; }
  bool Overlay() const { return overlay_; }
  int DriverIndex() const { return index_; }
  // The control's size: the size asked of the driver at Connect.
  int Width = 352;
  int Height = 288;
  const CaptureFormat& Format() const { return format_; }
  TTimer& GrabTimer() { return grabTimer_; }

  // --- operations
  void Connect(int mode, int index);
  void Disconnect();
  void SetPreview(bool on);
  void SetOverlay(bool on);
  void SetFps(float fps);
  void FormatDialog();
  void SourceDialog();
  void DisplayDialog();
  bool GetFormatHeader(BitmapInfoHeader& out);
  bool SetFormatHeader(const BitmapInfoHeader& header);

  // One grab-timer tick (public for the loop and the tests).
  void GrabTimerTimer();

  // Frames for the frame cycle: time stamp and the control's frame picture
  // (reused for the next frame: copy what is needed).
  std::function<void(TDateTime, const TPicture&)> OnVideoFrameBmp;
  // Frames for the live panel, while live video is on and the device has no
  // overlay of its own.
  std::function<void(const TPicture&)> OnLiveFrame;

  // --- signal watch
  bool SignalLost() const { return lost_; }
  unsigned RetryIntervalMs = 3000;
  long long FramesDelivered() const { return frames_; }

 private:
  bool SoftOverlay() const { return overlay_ && driver_ && !driver_->HasOverlay(); }
  void EnableGrab(bool on);
  bool GrabFrame();
  void Deliver();
  void Hand();
  void TryReconnect();

  Services& s_;
  Journal& journal_;
  ICaptureDriver* driver_ = nullptr;
  ICaptureDialogs* dialogs_ = nullptr;
  TTimer grabTimer_;
  float fps_ = 15.0f;
  bool overlay_ = false;
  bool connected_ = false;
  bool wantGrab_ = false;
  int index_ = -1;
  int bits_ = 24;
  CaptureFormat format_;
  TPicture frame_;
  bool lost_ = false;
  std::uint64_t lastRetryMs_ = 0;
  long long frames_ = 0;
};

}  // namespace zv
