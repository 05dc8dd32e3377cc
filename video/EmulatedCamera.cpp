#include "video/EmulatedCamera.h"

#include <algorithm>
#include <filesystem>

#include "detect/PictureCodec.h"
#include "detect/RecordingFiles.h"
#include "detect/Viewer.h"
#include "video/Bmp.h"

namespace zv {

namespace {

constexpr std::uint64_t kCrossAMs = 8000;  // first object crossing
constexpr std::uint64_t kGapMs = 3000;     // quiet between the two
constexpr std::uint64_t kCrossBMs = 3000;  // second object crossing
constexpr std::uint64_t kInputShiftMs = 1700;

struct Rng {
  std::uint32_t s;
  std::uint32_t Next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  }
};

// Nearest-neighbour scaling of a picture into the target.
void Scale(const TPicture& src, const CaptureTarget& t) {
  for (int y = 0; y < t.height; ++y) {
    const int sy = y * src.Height() / t.height;
    const std::uint8_t* s = src.StoredRow(sy);
    std::uint8_t* d = t.data + static_cast<std::size_t>(y) * t.stride;
    for (int x = 0; x < t.width; ++x) {
      const int sx = x * src.Width() / t.width;
      std::copy(s + 3 * sx, s + 3 * sx + 3, d + 3 * x);
    }
  }
}

std::string LowerExtension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

std::uint8_t Clamp8(int v) {
  return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

void FillRect(const CaptureTarget& t, int x0, int y0, int x1, int y1, const std::uint8_t bgr[3]) {
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, t.width);
  y1 = std::min(y1, t.height);
  for (int y = y0; y < y1; ++y) {
    std::uint8_t* row = t.data + static_cast<std::size_t>(t.height - 1 - y) * t.stride;
    for (int x = x0; x < x1; ++x) std::copy(bgr, bgr + 3, row + 3 * x);
  }
}

// Where within a period an object is crossing: the fraction 0..1 of its way,
// or -1.
double Progress(std::uint64_t p, std::uint64_t start, std::uint64_t length) {
  if (p < start || p >= start + length) return -1;
  return static_cast<double>(p - start) / static_cast<double>(length);
}

}  // namespace

struct EmulatedCamera::Recording {
  RecordingReader reader;
  JpegCodec codec;
  PictureLoader loader{codec};
  TPicture picture;
  std::map<int, std::int32_t> last;  // per input: the record shown last
};

EmulatedCamera::EmulatedCamera(IClock& clock) : clock_(clock) {}

EmulatedCamera::~EmulatedCamera() = default;

std::string EmulatedCamera::DeviceName(int /*index*/) const {
  return file_.empty() ? std::string("Эмуляция видео") : file_;
}

bool EmulatedCamera::Connect(int /*index*/) {
  error_.clear();
  files_.clear();
  fileIndex_ = 0;
  recording_.reset();
  const std::string ext = file_.empty() ? std::string() : LowerExtension(file_);
  if (ext == ".dsc" || ext == ".bin") {
    auto rec = std::make_unique<Recording>();
    const IoResult r = rec->reader.Open(file_);
    if (!r || rec->reader.RecordCount() < 1) {
      error_ = file_ + ": " + (r ? std::string("no records") : r.reason);
      connected_ = false;
      return false;
    }
    recording_ = std::move(rec);
  } else if (!file_.empty()) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<std::string> names;
    if (fs::is_directory(file_, ec)) {
      for (const auto& e : fs::directory_iterator(file_, ec))
        if (e.is_regular_file() && LowerExtension(e.path().string()) == ".bmp")
          names.push_back(e.path().string());
      std::sort(names.begin(), names.end());
    } else {
      names.push_back(file_);
    }
    for (const auto& n : names) {
      TPicture p;
      std::string why;
      if (LoadBmp(n, p, &why))
        files_.push_back(std::move(p));
      else
        error_ = n + ": " + why;
    }
    if (files_.empty()) {
      if (error_.empty()) error_ = file_ + ": no pictures";
      connected_ = false;
      return false;
    }
  }
  connected_ = true;
  startMs_ = clock_.TickMs();
  frameNo_ = 0;
  return true;
}

void EmulatedCamera::Disconnect() {
  connected_ = false;
  files_.clear();
  recording_.reset();
}

bool EmulatedCamera::GetFormat(CaptureFormat& out) {
  if (!connected_) return false;
  out = CaptureFormat{width_, height_, 24, static_cast<std::uint32_t>(width_ * height_ * 3)};
  return true;
}

bool EmulatedCamera::SetFormat(const CaptureFormat& fmt) {
  if (!connected_) return false;
  if (fmt.width < 16 || fmt.height < 16 || fmt.width > 4096 || fmt.height > 4096) {
    error_ = "size not supported";
    return false;
  }
  width_ = fmt.width;
  height_ = fmt.height;
  return true;
}

std::vector<CaptureSize> EmulatedCamera::SupportedSizes() {
  return {{160, 120}, {176, 144}, {320, 240}, {352, 240}, {352, 288}, {384, 288}, {640, 480}};
}

std::vector<std::string> EmulatedCamera::Inputs() {
  std::vector<std::string> out;
  for (int i = 1; i <= kInputs; ++i) out.push_back("Вход " + std::to_string(i));
  return out;
}

bool EmulatedCamera::SetInput(int index) {
  if (index < 0 || index >= kInputs) return false;
  input_ = index + 1;
  return true;
}

void EmulatedCamera::SelectSwitcherInput(int input) {
  if (input >= 1 && input <= kInputs) input_ = input;
}

bool EmulatedCamera::MotionAt(int input, std::uint64_t ms) {
  const std::uint64_t shift = static_cast<std::uint64_t>(input - 1) * kInputShiftMs;
  if (ms < kFirstMotionMs + shift) return false;
  const std::uint64_t p = (ms - kFirstMotionMs - shift) % kPeriodMs;
  return Progress(p, 0, kCrossAMs) >= 0 || Progress(p, kCrossAMs + kGapMs, kCrossBMs) >= 0;
}

const TPicture& EmulatedCamera::Background(int input, int w, int h) {
  TPicture& bg = backgrounds_[input];
  if (bg.Width() == w && bg.Height() == h) return bg;
  bg.SetSize(w, h);
  Rng rng{0x2545F491u * static_cast<std::uint32_t>(input) + 17u};
  // A wall above, a floor below, colours per input.
  const int wall[3] = {static_cast<int>(90 + rng.Next() % 80),
                       static_cast<int>(90 + rng.Next() % 80),
                       static_cast<int>(90 + rng.Next() % 80)};
  const int floor[3] = {static_cast<int>(40 + rng.Next() % 60),
                        static_cast<int>(40 + rng.Next() % 60),
                        static_cast<int>(40 + rng.Next() % 60)};
  const int horizon = h * (45 + static_cast<int>(rng.Next() % 15)) / 100;
  const int tile = 8 + static_cast<int>(rng.Next() % 12);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = bg.ScreenRow(y);
    for (int x = 0; x < w; ++x) {
      // A fixed fine texture, so that the picture is not flat.
      const int grain = static_cast<int>((x * 7 + y * 13 + (x * y) % 17) % 23) - 11;
      for (int c = 0; c < 3; ++c) {
        int v;
        if (y < horizon) {
          v = wall[c] + grain + (y * 30) / std::max(horizon, 1);
        } else {
          const bool dark = ((x / tile) + ((y - horizon) / tile)) % 2 == 0;
          v = floor[c] + grain + (dark ? -15 : 15);
        }
        row[3 * x + c] = Clamp8(v);
      }
    }
  }
  // Some furniture: a few fixed blocks.
  const int blocks = 2 + static_cast<int>(rng.Next() % 3);
  for (int i = 0; i < blocks; ++i) {
    const int bw = w / 10 + static_cast<int>(rng.Next() % static_cast<std::uint32_t>(w / 6 + 1));
    const int bh = h / 10 + static_cast<int>(rng.Next() % static_cast<std::uint32_t>(h / 5 + 1));
    const int bx = static_cast<int>(rng.Next() % static_cast<std::uint32_t>(std::max(w - bw, 1)));
    const int by = horizon - bh / 2;
    const std::uint8_t col[3] = {Clamp8(static_cast<int>(rng.Next() % 200)),
                                 Clamp8(static_cast<int>(rng.Next() % 200)),
                                 Clamp8(static_cast<int>(rng.Next() % 200))};
    for (int y = std::max(by, 0); y < std::min(by + bh, h); ++y)
      for (int x = bx; x < std::min(bx + bw, w); ++x)
        std::copy(col, col + 3, bg.ScreenRow(y) + 3 * x);
  }
  return bg;
}

void EmulatedCamera::RenderScene(const CaptureTarget& t, std::uint64_t ms) {
  const TPicture& bg = Background(input_, t.width, t.height);
  Rng rng{(frameNo_ + 1) * 0x9E3779B9u ^ static_cast<std::uint32_t>(input_) * 0x85EBCA6Bu};
  if (rng.s == 0) rng.s = 1;
  const std::size_t rowBytes = static_cast<std::size_t>(t.width) * 3;
  for (int y = 0; y < t.height; ++y) {
    const std::uint8_t* src = bg.StoredRow(y);
    std::uint8_t* dst = t.data + static_cast<std::size_t>(y) * t.stride;
    for (std::size_t i = 0; i < rowBytes; ++i)
      dst[i] = Clamp8(src[i] + static_cast<int>(rng.Next() % (2 * kNoise + 1)) - kNoise);
  }
  const std::uint64_t shift = static_cast<std::uint64_t>(input_ - 1) * kInputShiftMs;
  if (ms < kFirstMotionMs + shift) return;
  const std::uint64_t p = (ms - kFirstMotionMs - shift) % kPeriodMs;
  const int w = t.width, h = t.height;
  const double a = Progress(p, 0, kCrossAMs);
  if (a >= 0) {
    // A walking figure, left to right.
    const int ow = std::max(w / 8, 2), oh = std::max(h * 2 / 5, 2);
    const int x = static_cast<int>(-ow + a * (w + ow));
    const int y = h - oh - h / 10;
    const std::uint8_t body[3] = {40, 30, 150}, head[3] = {120, 170, 230};
    FillRect(t, x, y + oh / 5, x + ow, y + oh, body);
    FillRect(t, x + ow / 4, y, x + ow * 3 / 4, y + oh / 5, head);
  }
  const double b = Progress(p, kCrossAMs + kGapMs, kCrossBMs);
  if (b >= 0) {
    // Something smaller and quicker, right to left.
    const int ow = std::max(w / 6, 2), oh = std::max(h / 8, 2);
    const int x = static_cast<int>(w - b * (w + ow));
    const int y = h * 2 / 3;
    const std::uint8_t col[3] = {230, 230, 40};
    FillRect(t, x, y, x + ow, y + oh, col);
  }
}

bool EmulatedCamera::RenderFile(const CaptureTarget& t) {
  Scale(files_[fileIndex_ % files_.size()], t);
  ++fileIndex_;
  return true;
}

bool EmulatedCamera::RenderRecording(const CaptureTarget& t) {
  Recording& rec = *recording_;
  const std::int32_t count = rec.reader.RecordCount();
  // The next picture record of this input's camera, or else of any camera.
  std::int32_t& last = rec.last[input_];
  FrameDescriptor d;
  std::int32_t any = 0, own = 0;
  for (std::int32_t step = 1; step <= count && own == 0; ++step) {
    const std::int32_t n = (last + step - 1) % count + 1;
    if (!rec.reader.ReadDescriptor(n, d) || d.kind != kKindPicture || d.length <= 0) continue;
    if (any == 0) any = n;
    if (d.camera == input_) own = n;
  }
  const std::int32_t n = own ? own : any;
  if (n == 0 || !rec.reader.ReadDescriptor(n, d)) {
    error_ = file_ + ": no pictures";
    return false;
  }
  last = n;
  if (rec.loader.Load(rec.reader, d, rec.picture, true) != PictureLoader::Loaded ||
      rec.picture.Empty()) {
    error_ = file_ + ": record " + std::to_string(n) + " can't be read";
    return false;
  }
  Scale(rec.picture, t);
  return true;
}

bool EmulatedCamera::Grab(const CaptureTarget& t) {
  if (!connected_) {
    error_ = "not connected";
    return false;
  }
  if (!t.data || t.width != width_ || t.height != height_ || t.stride < t.width * 3) {
    error_ = "frame size differs from the format";
    return false;
  }
  bool ok = true;
  if (recording_)
    ok = RenderRecording(t);
  else if (!files_.empty())
    ok = RenderFile(t);
  else
    RenderScene(t, clock_.TickMs() - startMs_);
  ++frameNo_;
  return ok;
}

}  // namespace zv
