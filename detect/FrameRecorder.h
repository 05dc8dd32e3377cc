#pragma once
// The work of one processing tick on a taken frame, without the window
// around it: compare with the camera's previous frame, measure the change,
// decide about recording and the motion beep, and write the frame to the
// recording pair.  The camera keeps a DetectState; the tick handler finds
// the camera, calls ProcessFrame, and does the beeping, the bar, the
// journal lines and the viewer's live follow from the result.
#include <cstdint>

#include "app/Picture.h"
#include "app/SiteStatus.h"
#include "app/Zones.h"
#include "detect/FrameDescriptor.h"
#include "detect/MotionDetector.h"
#include "detect/PictureCodec.h"
#include "detect/RecordingFiles.h"
#include "platform/Clock.h"

namespace zv {

// What the detector and the recorder use of one camera.
struct DetectState {
  TPicture current, previous, difference;
  ZoneGrid zones;
  int frameCounter = 1;  // 1 until the camera's first frame has been processed
  int changeValue = 0;
  double ignoreChangesPercent = 0.01;
  double changesEventPercent = 0.08;
  int recordingMode = 1;
  bool reactionEnabled = true;
  bool colored = false;
};

// The recording page's settings the frame writer uses.
struct RecordSettings {
  bool compression = true;  // JPEG (format 2), else raw (format 0)
  int jpegQuality = 60;
  std::uint8_t object = 1;
};

// Alarm inputs and defence mode at the moment of the frame.
struct DescriptorStatus {
  std::uint8_t gaugeAlarmMask = 0;
  std::uint8_t gaugeEnabledMask = 0;
  bool defence = false;
};
// The site's status as every frame descriptor stores it.
inline DescriptorStatus DescriptorStatusOf(const SiteStatus& s) {
  return {s.GaugeAlarmMask, s.GaugeEnabledMask, s.Armed};
}

struct FrameResult {
  int level = 0;          // change level of the frame (0 for a camera's first frame)
  bool compared = false;  // false for a camera's first frame
  bool recorded = false;  // the recording decision
  bool beep = false;      // sound the motion beep (before writing)
  AppendResult write;     // the frame writer's outcome when recorded
  FrameDescriptor descriptor;
};

class FrameRecorder {
 public:
  explicit FrameRecorder(JpegCodec& codec) : codec_(codec) {}

  // The tick's work for the pending frame of camera `camera` (1-based),
  // taken at `now` from a capture of frameWidth x frameHeight.
  FrameResult ProcessFrame(DetectState& cam, int camera, int frameWidth, int frameHeight,
                           std::uint8_t filter, TDateTime now, RecordingPair& pair,
                           const RecordSettings& settings, const DescriptorStatus& status);

  // The frame writer: appends the camera's current picture with descriptor
  // d (capture time, camera, colour, size and change level filled in).
  AppendResult WriteFrame(const TPicture& picture, FrameDescriptor& d, RecordingPair& pair,
                          const RecordSettings& settings, const DescriptorStatus& status);

 private:
  JpegCodec& codec_;
  MotionDetector detector_;
};

}  // namespace zv
