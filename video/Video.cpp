#include "video/Video.h"

#include <cmath>

namespace zv {

const CaptureSize kFallbackSizes[4] = {{384, 288}, {352, 288}, {352, 240}, {320, 240}};

int ModeBits(int mode) {
  switch (mode) {
    case 0:
      return 8;
    case 1:
      return 16;
    default:
      return 24;
  }
}

TVideo::TVideo(Services& services, Journal& journal)
    : s_(services), journal_(journal), grabTimer_(services.timers, [this] { GrabTimerTimer(); }) {
  grabTimer_.SetInterval(66);
}

void TVideo::SetDriver(ICaptureDriver* driver) {
  if (driver_ == driver) return;
  if (connected_) Disconnect();
  driver_ = driver;
}

void TVideo::EnableGrab(bool on) {
  wantGrab_ = on;
  grabTimer_.SetEnabled(on);
}

void TVideo::Connect(int mode, int index) {
  index_ = index;
  bits_ = ModeBits(mode);
  bool ok = false;
  if (driver_)
    for (int attempt = 0; attempt < 4 && !ok; ++attempt) ok = driver_->Connect(index);
  BitmapInfoHeader current;
  GetFormatHeader(current);
  SetFps(fps_);
  BitmapInfoHeader want;
  want.biWidth = Width;
  want.biHeight = Height;
  want.biPlanes = 1;
  want.biBitCount = static_cast<std::uint16_t>(bits_);
  want.biSizeImage = static_cast<std::uint32_t>(Width * Height * bits_ / 8);
  if (!SetFormatHeader(want)) {
    for (const CaptureSize& size : kFallbackSizes) {
      Width = size.width;
      Height = size.height;
      want.biWidth = Width;
      want.biHeight = Height;
      want.biSizeImage = static_cast<std::uint32_t>(Width * Height * bits_ / 8);
      if (SetFormatHeader(want)) break;
    }
  }
  GetFormatHeader(current);
  lost_ = false;
  lastRetryMs_ = s_.clock.TickMs();
  EnableGrab(true);
  connected_ = true;
}

void TVideo::Disconnect() {
  if (driver_) driver_->Disconnect();
  EnableGrab(false);
  connected_ = false;
  lost_ = false;
  format_ = CaptureFormat{};
}

void TVideo::SetPreview(bool on) {
  if (on) {
    SetOverlay(false);
    EnableGrab(true);
  } else {
    EnableGrab(SoftOverlay());
  }
}

void TVideo::SetOverlay(bool on) {
  EnableGrab(false);
  overlay_ = on;
  if (driver_ && driver_->HasOverlay())
    driver_->SetOverlay(on);
  else if (on)
    EnableGrab(true);  // no overlay of its own: the live panel shows grabbed frames
}

void TVideo::SetFps(float fps) {
  fps_ = std::min(std::fabs(fps), 1000.0f);
  if (fps_ > 0) grabTimer_.SetInterval(static_cast<unsigned>(std::lround(1000.0 / fps_)));
}

void TVideo::FormatDialog() {
  EnableGrab(false);
  if (dialogs_ && driver_) dialogs_->FormatDialog(*driver_);
  BitmapInfoHeader h;
  if (GetFormatHeader(h)) {
    Width = h.biWidth;
    Height = h.biHeight;
  }
  EnableGrab(true);
}

void TVideo::SourceDialog() {
  if (dialogs_ && driver_) dialogs_->SourceDialog(*driver_);
}

void TVideo::DisplayDialog() {
  if (dialogs_ && driver_) dialogs_->DisplayDialog(*driver_);
}

bool TVideo::GetFormatHeader(BitmapInfoHeader& out) {
  CaptureFormat f;
  if (!driver_ || !driver_->GetFormat(f)) return false;
  format_ = f;
  out = BitmapInfoHeader{};
  out.biWidth = f.width;
  out.biHeight = f.height;
  out.biBitCount = static_cast<std::uint16_t>(f.bitsPerPixel);
  out.biSizeImage = f.imageSize;
  return true;
}

bool TVideo::SetFormatHeader(const BitmapInfoHeader& header) {
  if (!driver_) return false;
  CaptureFormat f{header.biWidth, header.biHeight, header.biBitCount, header.biSizeImage};
  if (!driver_->SetFormat(f)) return false;
  BitmapInfoHeader h;
  GetFormatHeader(h);
  return true;
}

void TVideo::GrabTimerTimer() {
  grabTimer_.SetEnabled(false);
  if (connected_ && driver_) {
    if (lost_)
      TryReconnect();
    else
      Deliver();
  }
  // A handler may have stopped grabbing meanwhile.
  grabTimer_.SetEnabled(wantGrab_);
}

bool TVideo::GrabFrame() {
  CaptureFormat f;
  if (!driver_->GetFormat(f) || f.width <= 0 || f.height <= 0) return false;
  format_ = f;
  frame_.SetSize(f.width, f.height);
  return driver_->Grab(
      CaptureTarget{frame_.Data(), frame_.Width(), frame_.Height(), frame_.Stride()});
}

void TVideo::Deliver() {
  if (!GrabFrame()) {
    lost_ = true;
    lastRetryMs_ = s_.clock.TickMs();
    std::string why = driver_->LastError();
    journal_.ShowStatus("Нет видеосигнала с устройства \"" + driver_->DeviceName(index_) + "\"" +
                            (why.empty() ? std::string() : " (" + why + ")") + " !",
                        jkError, 1);
    return;
  }
  Hand();
}

void TVideo::Hand() {
  ++frames_;
  const TDateTime stamp = s_.clock.Now();
  if (overlay_) {
    if (OnLiveFrame) OnLiveFrame(frame_);
  } else if (OnVideoFrameBmp) {
    OnVideoFrameBmp(stamp, frame_);
  }
}

void TVideo::TryReconnect() {
  const std::uint64_t now = s_.clock.TickMs();
  if (now - lastRetryMs_ < RetryIntervalMs) return;
  lastRetryMs_ = now;
  driver_->Disconnect();
  if (!driver_->Connect(index_)) return;
  // Ask again for the size the device had (or was asked for).
  const int w = format_.width > 0 ? format_.width : Width;
  const int h = format_.height > 0 ? format_.height : Height;
  if (!driver_->SetFormat(
          CaptureFormat{w, h, bits_, static_cast<std::uint32_t>(w * h * bits_ / 8)}))
    driver_->SetFormat(CaptureFormat{Width, Height, bits_,
                                     static_cast<std::uint32_t>(Width * Height * bits_ / 8)});
  if (!GrabFrame()) return;
  lost_ = false;
  journal_.ShowStatus(
      "Видеосигнал с устройства \"" + driver_->DeviceName(index_) + "\" восстановлен", jkDevice, 1);
  Hand();
}

}  // namespace zv
