#include "detect/Viewer.h"

#include <algorithm>

#include "app/Thresholds.h"
#include "detect/ChangeBar.h"

namespace zv {

bool ChangeIndex::Refresh(const RecordingReader& reader, std::int32_t first, std::int32_t last) {
  if (first < 1 || first > Count() + 1 || last > kMaxIndexedRecords) return false;
  if (last < first) return true;
  std::vector<std::int32_t> fresh;
  if (!reader.ReadChangeLevels(first, last - first + 1, fresh)) return false;
  if (last > Count()) levels_.resize(static_cast<std::size_t>(last));
  std::copy(fresh.begin(), fresh.end(), levels_.begin() + (first - 1));
  return true;
}

// ---------------------------------------------------------------------------

unsigned PlaybackIntervalMs(double viewFreq) {
  if (!(viewFreq > 0)) return 0;
  const long long ms = RoundToEven(1000.0 / viewFreq);
  return static_cast<unsigned>(std::clamp<long long>(ms, 0, 0x7FFFFFFF));
}

bool PlaybackNav::SetValue(std::int32_t v) {
  v = std::clamp(v, 1, std::max(maximum, 1));
  if (v == value) return false;
  value = v;
  return true;
}

void PlaybackNav::StopPlayback() {
  timerEnabled = false;
  forwardDown = backwardDown = false;
  forwardCaption = ">>";
  backwardCaption = "<<";
}

bool PlaybackNav::NextCadrClick() {
  StopPlayback();
  return SetValue(std::min(value + 1, maximum));
}

bool PlaybackNav::PrevCadrClick() {
  StopPlayback();
  return SetValue(std::max(value - 1, 1));
}

void PlaybackNav::ViewFreqChange(double viewFreq) {
  if (const unsigned ms = PlaybackIntervalMs(viewFreq); ms > 0) timerIntervalMs = ms;
}

void PlaybackNav::ForwardButtonClick(bool down, double viewFreq) {
  forwardDown = down;
  if (down) {
    backwardDown = false;
    backwardCaption = "<<";
    forwardCaption = "Стоп";
    ViewFreqChange(viewFreq);
    directionForward = true;
    timerEnabled = true;
  } else {
    forwardCaption = ">>";
    timerEnabled = false;
  }
}

void PlaybackNav::BackwardButtonClick(bool down, double viewFreq) {
  backwardDown = down;
  if (down) {
    forwardDown = false;
    forwardCaption = ">>";
    backwardCaption = "Стоп";
    ViewFreqChange(viewFreq);
    directionForward = false;
    timerEnabled = true;
  } else {
    backwardCaption = "<<";
    timerEnabled = false;
  }
}

bool PlaybackNav::Timer2Timer() {
  if (directionForward) {
    if (value >= maximum) {
      timerEnabled = false;
      forwardDown = false;
      forwardCaption = ">>";
      return false;
    }
    return SetValue(std::min(value + 1, maximum));
  }
  if (value <= 1) {
    timerEnabled = false;
    backwardDown = false;
    backwardCaption = "<<";
    return false;
  }
  return SetValue(std::max(value - 1, 1));
}

// ---------------------------------------------------------------------------

ChangeGraph ComputeChangeGraph(const std::vector<std::int32_t>& levels, int width, int height,
                               double eventPercent) {
  ChangeGraph g;
  const long long n = static_cast<long long>(levels.size());
  const int yEvent = BarY(RoundToEven(eventPercent), height);
  g.thresholdY = yEvent;
  // Each column x takes the slice (x-1)*n div (W-2) + 1 .. x*n div (W-2) + 1
  // of the records; a graph narrower than 3 pixels has no slices.
  if (n > 0 && width - 2 > 0) {
    const long long span = width - 2;
    for (int x = 1; x <= width - 1; ++x) {
      const long long first = (x - 1) * n / span + 1;
      const long long last = std::min(x * n / span + 1, n);
      std::int32_t m = 0;
      for (long long i = first; i <= last; ++i)
        m = std::max(m, levels[static_cast<std::size_t>(i - 1)]);
      GraphColumn col;
      col.x = x;
      col.top = BarY(m, height);
      g.thresholdPen = PenColor::Navy;
      if (col.top < yEvent) {
        col.red = true;
        col.redFrom = yEvent;
        g.thresholdPen = PenColor::Red;
      }
      g.columns.push_back(col);
    }
  }
  return g;
}

// ---------------------------------------------------------------------------

PictureLoader::Status PictureLoader::Load(const RecordingReader& reader, const FrameDescriptor& d,
                                          TPicture& target, bool colored) {
  const int w = std::max<int>(d.width, 0), h = std::max<int>(d.height, 0);
  if (static_cast<std::size_t>(TPicture::StrideFor(w)) * static_cast<std::size_t>(h) >
      kMaxPictureBytes)
    return BadSize;
  target.SetSize(w, h);
  if (d.format == kFormatRaw) {
    if (target.SizeBytes() == 0) return NoData;
    return reader.ReadPicture(d.offset, target.Data(), target.SizeBytes()) ? Loaded : ReadFailed;
  }
  if (d.length <= 0) return NoData;
  std::vector<std::uint8_t>& buffer = *buffer_;
  if (static_cast<std::size_t>(d.length) > buffer.size()) return TooLong;
  const std::size_t len = static_cast<std::size_t>(d.length);
  if (!reader.ReadPicture(d.offset, buffer.data(), len)) return ReadFailed;
  if (d.format == kFormatZlib)
    return InflatePicture(target, buffer.data(), len, scratch_) ? Loaded : DecodeFailed;
  // Format 2, and any other, is JPEG.
  return codec_.DecodePicture(target, buffer.data(), len, colored) ? Loaded : DecodeFailed;
}

// ---------------------------------------------------------------------------

void ViewerSession::Close() {
  reader_.Close();
  index_.Clear();
}

bool ViewerSession::Open(const std::string& name) {
  Close();
  if (!reader_.Open(name)) return false;
  const std::int32_t count = reader_.RecordCount();
  if (count > kMaxIndexedRecords || !index_.Refresh(reader_, 1, count)) {
    Close();
    return false;
  }
  nav.value = 1;
  if (count > 0) nav.maximum = count;
  return true;
}

bool ViewerSession::FollowRecorder(std::int32_t writtenRecord) {
  if (!IsOpen()) return false;
  // The index stops at its capacity; the slider still reaches every record.
  const std::int32_t records = reader_.RecordCount();
  const std::int32_t count = std::min(records, kMaxIndexedRecords);
  nav.maximum = std::max(records, 1);
  bool changed = false;
  // A wrapping recording writes over a record already indexed.
  if (writtenRecord >= 1 && writtenRecord <= index_.Count() && writtenRecord <= count)
    changed = index_.Refresh(reader_, writtenRecord, writtenRecord);
  if (count > index_.Count())
    changed = index_.Refresh(reader_, index_.Count() + 1, count) || changed;
  return changed;
}

ViewerSession::Check ViewerSession::Prepare(std::int32_t n, FrameDescriptor& d) const {
  if (!IsOpen()) return Check::NotOpen;
  if (n < 1 || n > reader_.RecordCount()) return Check::OutOfRange;
  if (!reader_.ReadDescriptor(n, d)) return Check::ReadFailed;
  if (d.kind != kKindPicture) return Check::NotAPicture;
  return Check::Show;
}

}  // namespace zv
