#pragma once
// A video capture source as the capture control sees it: connect by index,
// negotiate the picture format, grab one frame at a time, and describe what
// the settings screens may offer (sizes, inputs, standards, picture
// controls).  Frames always arrive as 24-bit BGR rows stored bottom-up with
// rows padded to 4 bytes, whatever the device delivers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace zv {

struct CaptureFormat {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 24;
  std::uint32_t imageSize = 0;
};

// Where Grab writes the frame: width x height pixels, stride bytes per row,
// row 0 at the bottom.  The caller sizes it from the current format.
struct CaptureTarget {
  std::uint8_t* data = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;
};

struct CaptureSize {
  int width = 0;
  int height = 0;
  bool operator==(const CaptureSize&) const = default;
};

// A picture control offered by the device's display settings.
struct CaptureControl {
  std::uint32_t id = 0;
  std::string name;
  int minimum = 0, maximum = 0, step = 1, defaultValue = 0, value = 0;
};

class ICaptureDriver {
 public:
  virtual ~ICaptureDriver() = default;
  // A name for journal texts ("/dev/video0", "Эмуляция").
  virtual std::string DeviceName(int index) const = 0;
  virtual bool Connect(int index) = 0;
  virtual void Disconnect() = 0;
  virtual bool IsConnected() const = 0;
  virtual bool GetFormat(CaptureFormat& out) = 0;
  // Asks the device to use the format; false when it refuses it.
  virtual bool SetFormat(const CaptureFormat& fmt) = 0;
  // Grabs one frame into target; false when no frame could be had (no
  // device, device gone, time-out).  Never blocks for long.
  virtual bool Grab(const CaptureTarget& target) = 0;
  virtual std::string LastError() const = 0;

  // What the settings screens offer.  Empty lists when the device has none.
  virtual std::vector<CaptureSize> SupportedSizes() { return {}; }
  virtual std::vector<std::string> Inputs() { return {}; }
  virtual int CurrentInput() { return -1; }
  virtual bool SetInput(int /*index*/) { return false; }
  virtual std::vector<std::string> Standards() { return {}; }
  virtual int CurrentStandard() { return -1; }
  virtual bool SetStandard(int /*index*/) { return false; }
  virtual std::vector<CaptureControl> Controls() { return {}; }
  virtual bool SetControl(std::uint32_t /*id*/, int /*value*/) { return false; }
  // A device that can show its picture on screen by itself.
  virtual bool HasOverlay() const { return false; }
  virtual void SetOverlay(bool /*on*/) {}
};

// A source behind a video switcher: told which switcher input is selected
// whenever the frame cycle steps the switcher.
class ISwitchedSource {
 public:
  virtual ~ISwitchedSource() = default;
  virtual void SelectSwitcherInput(int input) = 0;  // 1-based
};

// A capture card that needs no hardware: synthetic scenes, or pictures
// played from a file, following the switcher like a card behind it.
class IEmulatedCapture : public ICaptureDriver, public ISwitchedSource {
 public:
  // "" for synthetic scenes; else the file (or folder) to play.
  virtual void SetSourceFile(const std::string& path) = 0;
  virtual const std::string& SourceFile() const = 0;
};

// The settings screens for the capture device ("Формат видео...",
// "Источник видео...", "Яркость/контрастность...").  Modal: they return when
// the user closed them; the format screen returns true when a new format was
// applied to the driver.
class ICaptureDialogs {
 public:
  virtual ~ICaptureDialogs() = default;
  virtual bool FormatDialog(ICaptureDriver& driver) = 0;
  virtual void SourceDialog(ICaptureDriver& driver) = 0;
  virtual void DisplayDialog(ICaptureDriver& driver) = 0;
};

// Copies a top-down BGR24 image (packed rows of srcStride bytes) into the
// target, flipping it to bottom-up; sizes must match.
inline void CopyTopDownBgr(const std::uint8_t* src, int srcStride, const CaptureTarget& target) {
  const std::size_t rowBytes = static_cast<std::size_t>(target.width) * 3;
  for (int y = 0; y < target.height; ++y)
    std::memcpy(target.data + static_cast<std::size_t>(target.height - 1 - y) * target.stride,
                src + static_cast<std::size_t>(y) * srcStride, rowBytes);
}

}  // namespace zv
