#include "detect/FrameRecorder.h"

#include "detect/Detector.h"
#include "detect/Rounding.h"

namespace zv {

FrameResult FrameRecorder::ProcessFrame(DetectState& cam, int camera, int frameWidth,
                                        int frameHeight, std::uint8_t filter, TDateTime now,
                                        RecordingPair& pair, const RecordSettings& settings,
                                        const DescriptorStatus& status) {
  FrameResult r;
  FrameDescriptor& d = r.descriptor;
  d.captureTime = now;
  d.camera = static_cast<std::uint8_t>(camera);
  d.colored = cam.colored;
  d.width = static_cast<std::int16_t>(frameWidth);
  d.height = static_cast<std::int16_t>(frameHeight);
  d.kind = kKindPicture;
  d.format = kFormatRaw;
  if (cam.zones.frameWidth != frameWidth || cam.zones.frameHeight != frameHeight)
    cam.zones.UpdateFrameGeometry(frameWidth, frameHeight);
  // A picture of another size than the one before it (a new capture format,
  // another device or source) cannot be compared with it: the comparison
  // starts again, and this frame counts as the camera's first.  Nothing of
  // the old size is kept: no change level, no alarm zones.
  const bool restart =
      cam.previous.Width() != cam.current.Width() || cam.previous.Height() != cam.current.Height();
  if (cam.frameCounter != 1 && !restart) {
    r.level = detector_.CompareAndMeasure(cam.previous, cam.current, cam.difference, filter,
                                          cam.zones, cam.changesEventPercent);
    r.compared = true;
    cam.changeValue = r.level;
  } else if (cam.frameCounter != 1) {
    cam.changeValue = 0;
    cam.zones.ClearResults();
    MatchBitmap(cam.current, cam.difference);
  }
  d.changeLevel = r.level;
  r.recorded = ShouldRecordFrame(cam.recordingMode, cam.ignoreChangesPercent, r.level);
  if (r.recorded) {
    r.beep = ShouldBeepOnMotion(cam.reactionEnabled, cam.changesEventPercent, r.level);
    r.write = WriteFrame(cam.current, d, pair, settings, status);
  }
  ++cam.frameCounter;
  CopyBitmap(cam.current, cam.previous);
  return r;
}

AppendResult FrameRecorder::WriteFrame(const TPicture& picture, FrameDescriptor& d,
                                       RecordingPair& pair, const RecordSettings& settings,
                                       const DescriptorStatus& status) {
  if (!pair.IsOpen()) return {};
  d.format = settings.compression ? kFormatJpeg : kFormatRaw;
  d.object = settings.object;
  d.gaugeAlarmMask = status.gaugeAlarmMask;
  d.gaugeEnabledMask = status.gaugeEnabledMask;
  d.defence = status.defence;
  if (!settings.compression) return pair.Append(d, picture.Data(), picture.SizeBytes());
  // A failed encoding still leaves a descriptor, with length 0.
  const auto jpeg = codec_.EncodePicture(picture, settings.jpegQuality, d.colored);
  return pair.Append(d, jpeg.empty() ? nullptr : jpeg.data(), jpeg.size());
}

}  // namespace zv
