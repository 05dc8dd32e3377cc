#pragma once
// The playback viewer's logic without its controls: the open pair with its
// index of change levels, live following of a pair being recorded, loading
// a record's picture, the change graph's geometry and the navigation of
// the slider and play buttons.
#include <cstdint>
#include <string>
#include <vector>

#include "app/Picture.h"
#include "detect/FrameDescriptor.h"
#include "detect/PictureCodec.h"
#include "detect/RecordingFiles.h"

namespace zv {

// Coded pictures are read into one block of this size; longer ones are
// skipped, never read into it.
constexpr std::size_t kReadBufferSize = 1000000;
// The index holds at most this many records; a longer pair does not open.
constexpr std::int32_t kMaxIndexedRecords = 100000;

// The change level of every record, by record number.
class ChangeIndex {
 public:
  void Clear() { levels_.clear(); }
  std::int32_t Count() const { return static_cast<std::int32_t>(levels_.size()); }
  // Level of record n (1-based); 0 outside the index.
  std::int32_t Level(std::int32_t n) const {
    return n >= 1 && n <= Count() ? levels_[static_cast<std::size_t>(n - 1)] : 0;
  }
  const std::vector<std::int32_t>& Levels() const { return levels_; }
  // Reads the levels of records first..last of the pair into the index,
  // growing it when last is beyond its end (first <= Count() + 1); false
  // when the reader fails or the index would hold too many records.
  bool Refresh(const RecordingReader& reader, std::int32_t first, std::int32_t last);

 private:
  std::vector<std::int32_t> levels_;
};

// Playback slider and play buttons.  Each handler returns true when the
// slider's value changed, so the record at the new value is to be shown.
struct PlaybackNav {
  std::int32_t value = 1;
  std::int32_t maximum = 1;  // the slider's minimum is 1
  bool forwardDown = false, backwardDown = false;
  std::string forwardCaption = ">>", backwardCaption = "<<";
  bool timerEnabled = false;
  unsigned timerIntervalMs = 50;
  bool directionForward = true;

  bool SetValue(std::int32_t v);
  bool NextCadrClick();
  bool PrevCadrClick();
  // down: the button's state after the click.
  void ForwardButtonClick(bool down, double viewFreq);
  void BackwardButtonClick(bool down, double viewFreq);
  void ViewFreqChange(double viewFreq);
  bool Timer2Timer();
  void StopPlayback();
};

// Round(1000 / frequency) ms; 0 when the frequency is not positive.
unsigned PlaybackIntervalMs(double viewFreq);

// The change graph of the whole pair, W x H pixels: for each column x in
// 1..W-1 a navy line from (x, H-1) up to (x, top) and, when the peak is
// above the event threshold, a red line from (x, redFrom) to (x, top).
struct GraphColumn {
  int x = 0;
  int top = 0;
  bool red = false;
  int redFrom = 0;
};
enum class PenColor { Black, Navy, Red };
struct ChangeGraph {
  std::vector<GraphColumn> columns;
  int thresholdY = 0;                       // line from (1, y) to (W, y)
  PenColor thresholdPen = PenColor::Black;  // the pen last used
};
ChangeGraph ComputeChangeGraph(const std::vector<std::int32_t>& levels, int width, int height,
                               double eventPercent);

// Reads and decodes the picture of a record into a camera's playback picture.
class PictureLoader {
 public:
  enum Status {
    Loaded,
    NoData,        // length 0: the picture stays as it was
    TooLong,       // longer than the read buffer: skipped
    BadSize,       // descriptor size impossible
    ReadFailed,    // the .bin is shorter than the descriptor says
    DecodeFailed,  // corrupt JPEG or zlib data: the picture stays as it was
  };
  // With a block of its own, or reading into buffer (the program's read
  // buffer, allocated at start-up); a picture longer than the buffer is
  // never read.
  explicit PictureLoader(JpegCodec& codec) : codec_(codec), own_(kReadBufferSize), buffer_(&own_) {}
  PictureLoader(JpegCodec& codec, std::vector<std::uint8_t>& buffer)
      : codec_(codec), buffer_(&buffer) {}
  PictureLoader(const PictureLoader&) = delete;
  PictureLoader& operator=(const PictureLoader&) = delete;
  // target takes the descriptor's size; colored: the showing camera's flag.
  Status Load(const RecordingReader& reader, const FrameDescriptor& d, TPicture& target,
              bool colored);

 private:
  JpegCodec& codec_;
  std::vector<std::uint8_t> own_;
  std::vector<std::uint8_t>* buffer_;
  std::vector<std::uint8_t> scratch_;
};

// The pair the viewer has open.
class ViewerSession {
 public:
  // Opens a pair (the name's extension becomes ".dsc"); closes the previous
  // one first.  False, silently, when a file is missing, unreadable or holds
  // more than kMaxIndexedRecords records.  On success the slider is at 1 and
  // its maximum is the record count (when there are records).
  bool Open(const std::string& name);
  void Close();
  bool IsOpen() const { return reader_.IsOpen(); }
  const std::string& DscName() const { return reader_.DscName(); }

  // The recorder wrote record n of this pair: index it and every record not
  // indexed yet; the slider's maximum follows.  True when the index changed.
  bool FollowRecorder(std::int32_t writtenRecord);

  enum class Check { Show, NotOpen, OutOfRange, NotAPicture, ReadFailed };
  // First steps of showing record n: the count is measured again, the
  // descriptor read and its kind checked.
  Check Prepare(std::int32_t n, FrameDescriptor& d) const;

  const RecordingReader& Reader() const { return reader_; }
  const ChangeIndex& Index() const { return index_; }
  PlaybackNav nav;

 private:
  RecordingReader reader_;
  ChangeIndex index_;
};

}  // namespace zv
