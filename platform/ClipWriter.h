#pragma once
// A video file being written: one picture stream with a time stamp per
// picture (any spacing: the pictures keep the times they were taken at)
// and, in Matroska, a text track.  Pictures come either already coded as
// whole JPEG images (copied into the file as they are) or as pictures in
// the program's layout, which the writer scales to the clip's size and
// codes itself.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zv {

enum class ClipKind {
  MjpegMatroska,  // MJPEG in Matroska (.mkv), with a text track of the times
  H264Mp4,        // H.264 in MP4 (.mp4)
};

struct ClipWriterConfig {
  ClipKind kind = ClipKind::MjpegMatroska;
  int width = 0, height = 0;  // pictures are scaled to this size
  double frameRate = 0;       // the average, a hint for the encoder; 0: unknown
  bool textTrack = true;      // Matroska only
  std::string title;
  std::string creationTime;  // ISO 8601 in UTC, "" for none
  int quality = 90;          // 1..100 for pictures the writer codes
};

// A picture in the program's layout (BGR, bottom row first), or top row
// first when topDown is set.
struct ClipPicture {
  const std::uint8_t* data = nullptr;
  int width = 0, height = 0, stride = 0;
  bool topDown = false;
};

class IClipWriter {
 public:
  virtual ~IClipWriter() = default;
  // Creates the file (replacing any); false with LastError() on failure.
  virtual bool Open(const std::string& path, const ClipWriterConfig& config) = 0;
  // A whole JPEG image, copied as it is (MJPEG only).  Times in milliseconds
  // from the start of the clip, strictly increasing over all pictures.
  virtual bool WriteJpeg(const std::uint8_t* data, std::size_t size, std::int64_t ptsMs,
                         std::int64_t durationMs) = 0;
  virtual bool WritePicture(const ClipPicture& picture, std::int64_t ptsMs,
                            std::int64_t durationMs) = 0;
  // A line of the text track, shown from ptsMs for durationMs.
  virtual bool WriteText(const std::string& text, std::int64_t ptsMs, std::int64_t durationMs) = 0;
  // Drains the encoder, completes the file and closes it.
  virtual bool Finish() = 0;
  // Closes without completing (the caller removes the file).
  virtual void Abort() = 0;
  virtual std::string LastError() const = 0;
};

class IClipWriterFactory {
 public:
  virtual ~IClipWriterFactory() = default;
  virtual std::unique_ptr<IClipWriter> Create() = 0;
};

}  // namespace zv
