#include "detect/FrameDescriptor.h"

#include <cstring>

namespace zv {
namespace {

void Put(std::uint8_t* at, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint64_t Get(const std::uint8_t* at, int bytes) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint64_t>(at[i]) << (8 * i);
  return v;
}

std::int32_t GetI32(const std::uint8_t* at) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(Get(at, 4)));
}

}  // namespace

DescriptorBytes EncodeDescriptor(const FrameDescriptor& d) {
  DescriptorBytes b{};
  std::uint8_t* p = b.data();
  Put(p + dsc::kRecordNumber, static_cast<std::uint32_t>(d.recordNumber), 4);
  std::uint64_t time;
  static_assert(sizeof(time) == sizeof(d.captureTime));
  std::memcpy(&time, &d.captureTime, sizeof(time));
  Put(p + dsc::kCaptureTime, time, 8);
  Put(p + dsc::kWidth, static_cast<std::uint16_t>(d.width), 2);
  Put(p + dsc::kHeight, static_cast<std::uint16_t>(d.height), 2);
  Put(p + dsc::kOffset, static_cast<std::uint32_t>(d.offset), 4);
  p[dsc::kColored] = d.colored ? 1 : 0;
  Put(p + dsc::kChangeLevel, static_cast<std::uint32_t>(d.changeLevel), 4);
  Put(p + dsc::kLength, static_cast<std::uint32_t>(d.length), 4);
  p[dsc::kKind] = d.kind;
  p[dsc::kFormat] = d.format;
  p[dsc::kCamera] = d.camera;
  p[dsc::kObject] = d.object;
  p[dsc::kGaugeAlarm] = d.gaugeAlarmMask;
  p[dsc::kGaugeEnabled] = d.gaugeEnabledMask;
  p[dsc::kDefence] = d.defence ? 1 : 0;
  return b;
}

FrameDescriptor DecodeDescriptor(const std::uint8_t* p) {
  FrameDescriptor d;
  d.recordNumber = GetI32(p + dsc::kRecordNumber);
  const std::uint64_t time = Get(p + dsc::kCaptureTime, 8);
  std::memcpy(&d.captureTime, &time, sizeof(time));
  d.width = static_cast<std::int16_t>(static_cast<std::uint16_t>(Get(p + dsc::kWidth, 2)));
  d.height = static_cast<std::int16_t>(static_cast<std::uint16_t>(Get(p + dsc::kHeight, 2)));
  d.offset = GetI32(p + dsc::kOffset);
  d.colored = p[dsc::kColored] != 0;
  d.changeLevel = GetI32(p + dsc::kChangeLevel);
  d.length = GetI32(p + dsc::kLength);
  d.kind = p[dsc::kKind];
  d.format = p[dsc::kFormat];
  d.camera = p[dsc::kCamera];
  d.object = p[dsc::kObject];
  d.gaugeAlarmMask = p[dsc::kGaugeAlarm];
  d.gaugeEnabledMask = p[dsc::kGaugeEnabled];
  d.defence = p[dsc::kDefence] != 0;
  return d;
}

}  // namespace zv
