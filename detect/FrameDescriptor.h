#pragma once
// The 52-byte record of the ".dsc" file: where a picture lies in the ".bin"
// file, how it is coded and what the site looked like when it was taken.
// Stored little-endian, field by field, whatever the host.
#include <array>
#include <cstddef>
#include <cstdint>

namespace zv {

constexpr std::size_t kDescriptorSize = 52;

// Picture formats in the ".bin" file.
constexpr std::uint8_t kFormatRaw = 0;   // the bottom-up BGR pixel buffer as is
constexpr std::uint8_t kFormatZlib = 1;  // that buffer as a zlib stream (read only)
constexpr std::uint8_t kFormatJpeg = 2;  // a JFIF image

// Record kinds; the viewer shows only pictures.
constexpr std::uint8_t kKindPicture = 0;
// Written over a picture record whose picture data has been overwritten by
// a wrapping recording, so that it is never shown.
constexpr std::uint8_t kKindOverwritten = 1;

struct FrameDescriptor {
  std::int32_t recordNumber = 0;  // 1-based position in the ".dsc" file
  double captureTime = 0;         // day number, local time
  std::int16_t width = 0;
  std::int16_t height = 0;
  std::int32_t offset = 0;  // of the picture in the ".bin" file
  bool colored = false;
  std::int32_t changeLevel = 0;  // percent
  std::int32_t length = 0;       // of the picture in the ".bin" file
  std::uint8_t kind = kKindPicture;
  std::uint8_t format = kFormatRaw;
  std::uint8_t camera = 1;
  std::uint8_t object = 1;
  std::uint8_t gaugeAlarmMask = 0;
  std::uint8_t gaugeEnabledMask = 0;
  bool defence = false;

  bool operator==(const FrameDescriptor&) const = default;
};

using DescriptorBytes = std::array<std::uint8_t, kDescriptorSize>;

// Reserved bytes are written as zero and ignored when read; booleans are
// written as 0/1 and read as "non-zero".
DescriptorBytes EncodeDescriptor(const FrameDescriptor& d);
FrameDescriptor DecodeDescriptor(const std::uint8_t* bytes);

// Byte offsets of the fields within the record.
namespace dsc {
constexpr std::size_t kRecordNumber = 0, kCaptureTime = 4, kWidth = 12, kHeight = 14, kOffset = 16,
                      kColored = 24, kChangeLevel = 28, kLength = 36, kKind = 40, kFormat = 41,
                      kCamera = 42, kObject = 43, kGaugeAlarm = 44, kGaugeEnabled = 45,
                      kDefence = 47;
}

}  // namespace zv
