#include "detect/ClipExport.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <vector>

#include "detect/FrameDescriptor.h"
#include "detect/PictureCodec.h"
#include "detect/RecordingFiles.h"
#include "detect/TimeStamp.h"
#include "video/Picture.h"

namespace zv {

namespace {

constexpr double kMsPerDay = 86400000.0;

struct Selected {
  FrameDescriptor d;
  std::int32_t record = 0;
};

// A picture waiting for the next one: its duration is known only then.
struct Pending {
  bool valid = false;
  bool jpeg = false;
  std::vector<std::uint8_t> bytes;
  TPicture picture;
  std::int64_t pts = 0;
  std::string text;
};

bool WholeJpeg(const std::vector<std::uint8_t>& b) {
  return b.size() >= 4 && b[0] == 0xFF && b[1] == 0xD8 && b[b.size() - 2] == 0xFF &&
         b[b.size() - 1] == 0xD9;
}

// Reads a record's coded bytes (JPEG or zlib); false when there are none or
// they cannot be read.
bool ReadCoded(const RecordingReader& reader, const FrameDescriptor& d,
               std::vector<std::uint8_t>& out) {
  if (d.length <= 0 || static_cast<std::size_t>(d.length) > kMaxPictureBytes) return false;
  out.resize(static_cast<std::size_t>(d.length));
  return reader.ReadPicture(d.offset, out.data(), out.size());
}

// Decodes a record's picture, whatever its format, at its own size.
bool LoadPicture(const RecordingReader& reader, const FrameDescriptor& d, JpegCodec& codec,
                 std::vector<std::uint8_t>& coded, std::vector<std::uint8_t>& scratch,
                 TPicture& out) {
  const int w = d.width, h = d.height;
  if (w <= 0 || h <= 0 ||
      static_cast<std::size_t>(TPicture::StrideFor(w)) * static_cast<std::size_t>(h) >
          kMaxPictureBytes)
    return false;
  if (d.format == kFormatRaw) {
    out.SetSize(w, h);
    return reader.ReadPicture(d.offset, out.Data(), out.SizeBytes());
  }
  if (!ReadCoded(reader, d, coded)) return false;
  if (d.format == kFormatZlib) {
    out.SetSize(w, h);
    return InflatePicture(out, coded.data(), coded.size(), scratch);
  }
  out = TPicture();  // takes the JPEG's own size
  return codec.DecodePicture(out, coded.data(), coded.size(), d.colored);
}

// Draws src into the rectangle (x0, y0, w, h) of dst, counted from the top
// left as seen on screen, scaled to it (nearest pixel).
void DrawScaled(const TPicture& src, TPicture& dst, int x0, int y0, int w, int h) {
  if (src.Empty() || w <= 0 || h <= 0) return;
  std::vector<int> sx(static_cast<std::size_t>(w));
  for (int x = 0; x < w; ++x) sx[static_cast<std::size_t>(x)] = x * src.Width() / w * 3;
  for (int y = 0; y < h; ++y) {
    const int dy = y0 + y;
    if (dy < 0 || dy >= dst.Height()) continue;
    const std::uint8_t* s = src.ScreenRow(y * src.Height() / h);
    std::uint8_t* t = dst.ScreenRow(dy);
    if (w == src.Width() && x0 >= 0 && x0 + w <= dst.Width()) {
      std::memcpy(t + x0 * 3, s, static_cast<std::size_t>(w) * 3);
      continue;
    }
    for (int x = 0; x < w; ++x) {
      const int dx = x0 + x;
      if (dx < 0 || dx >= dst.Width()) continue;
      std::memcpy(t + dx * 3, s + sx[static_cast<std::size_t>(x)], 3);
    }
  }
}

std::string SysError() {
  return std::strerror(errno);
}

// Creates an empty file under a name of its own in the output's folder, so
// that the clip can be renamed over the output in one step.
bool ReserveTemporary(const std::string& output, std::string& temp, std::string& error) {
  namespace fs = std::filesystem;
  static std::atomic<unsigned> counter{0};
  const fs::path out(output);
  const fs::path folder = out.has_parent_path() ? out.parent_path() : fs::path(".");
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = "." + out.filename().string() + ".part-" + std::to_string(::getpid()) +
                             "-" + std::to_string(counter++);
    temp = (folder / name).string();
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      ::close(fd);
      return true;
    }
    if (errno != EEXIST) {
      error = "cannot write in the folder \"" + folder.string() + "\": " + SysError();
      return false;
    }
  }
  error = "cannot find a free temporary name in \"" + folder.string() + "\"";
  return false;
}

std::string RangeText(TDateTime first, TDateTime last) {
  return FormatDateTimeLong(first) + " - " + FormatDateTimeLong(last);
}

}  // namespace

bool ParseLocalDateTime(const std::string& text, TDateTime& start, TDateTime& end) {
  DateTimeParts p;
  char sep = ' ';
  int consumed = 0;
  int fields =
      std::sscanf(text.c_str(), "%4d-%2d-%2d%n%c%2d:%2d%n:%2d%n", &p.year, &p.month, &p.day,
                  &consumed, &sep, &p.hour, &p.minute, &consumed, &p.second, &consumed);
  double unitMs = 0;
  switch (fields) {
    case 3:
      unitMs = kMsPerDay;
      p.hour = p.minute = p.second = 0;
      break;
    case 6:
      unitMs = 60000;
      p.second = 0;
      break;
    case 7:
      unitMs = 1000;
      break;
    default:
      return false;
  }
  if (static_cast<std::size_t>(consumed) != text.size()) return false;
  if (fields > 3 && sep != ' ' && sep != 'T') return false;
  if (p.year < 1900 || p.year > 9999 || p.month < 1 || p.month > 12 || p.day < 1 || p.day > 31 ||
      p.hour < 0 || p.hour > 23 || p.minute < 0 || p.minute > 59 || p.second < 0 || p.second > 59)
    return false;
  const TDateTime t = EncodeDateTime(p);
  const DateTimeParts back = DecodeDateTime(t);
  if (back.year != p.year || back.month != p.month || back.day != p.day) return false;  // 31 April
  start = t;
  end = t + unitMs / kMsPerDay;
  return true;
}

std::string UtcIsoTime(TDateTime local) {
  const DateTimeParts p = DecodeDateTime(local);
  std::int64_t seconds = 0;
  long offset = 0;
  if (!LocalToSystemTime(local, seconds, offset)) return "";
  const auto t = static_cast<std::time_t>(seconds);
  std::tm utc{};
  if (!gmtime_r(&t, &utc)) return "";
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d000Z", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, p.msec);
  return buf;
}

ClipExportResult ClipExporter::Export(const ClipExportRequest& req, const Progress& progress) {
  ClipExportResult res;
  auto fail = [&res](std::string why) {
    res.status = ClipExportResult::Status::Failed;
    res.error = std::move(why);
    return res;
  };
  if (req.output.empty()) return fail("no output file named");
  if (req.camera < 0 || req.camera > 255) return fail("no camera " + std::to_string(req.camera));

  RecordingReader reader;
  if (IoResult r = reader.Open(req.pairName); !r) return fail(r.reason);
  // The clip is renamed over the output at the end: never over the recording.
  for (const std::string& own : {reader.DscName(), BinNameFor(reader.DscName())}) {
    std::error_code ec;
    if (std::filesystem::equivalent(own, req.output, ec))
      return fail("the clip would replace the recording \"" + own + "\"");
  }

  // The records asked for, in time order.
  std::vector<Selected> sel;
  const std::int32_t count = reader.RecordCount();
  for (std::int32_t n = 1; n <= count; ++n) {
    FrameDescriptor d;
    if (!reader.ReadDescriptor(n, d)) return fail("cannot read record " + std::to_string(n));
    if (d.kind != kKindPicture || d.width <= 0 || d.height <= 0) continue;
    if (req.camera != kAllCameras && d.camera != req.camera) continue;
    if (req.object != 0 && d.object != req.object) continue;
    if (req.from && d.captureTime < *req.from) continue;
    if (req.to && d.captureTime > *req.to) continue;
    sel.push_back(Selected{d, n});
  }
  const std::string what = req.camera == kAllCameras
                               ? std::string("records")
                               : "records of camera " + std::to_string(req.camera);
  if (sel.empty()) return fail("no " + what + " in the range");
  std::stable_sort(sel.begin(), sel.end(), [](const Selected& a, const Selected& b) {
    return a.d.captureTime < b.d.captureTime;
  });

  // Times from the first record, in milliseconds; strictly increasing, as the
  // file needs (records of one millisecond are spread by one).
  const TDateTime t0 = sel.front().d.captureTime;
  std::vector<std::int64_t> pts(sel.size());
  for (std::size_t i = 0; i < sel.size(); ++i) {
    pts[i] = std::llround((sel[i].d.captureTime - t0) * kMsPerDay);
    if (i > 0 && pts[i] <= pts[i - 1]) pts[i] = pts[i - 1] + 1;
  }

  // The clip's size: the first record's, or one tile of it per camera.
  const bool tiled = req.camera == kAllCameras;
  const int tileW = sel.front().d.width, tileH = sel.front().d.height;
  std::map<int, int> tileOf;  // object * 256 + camera -> tile index
  if (tiled) {
    for (const Selected& s : sel) tileOf.emplace(s.d.object * 256 + s.d.camera, 0);
    int i = 0;
    for (auto& [key, index] : tileOf) index = i++;
  }
  const int tiles = tiled ? static_cast<int>(tileOf.size()) : 1;
  const int cols = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(tiles))));
  const int rows = (tiles + cols - 1) / cols;
  res.width = tileW * cols;
  res.height = tileH * rows;

  const double span = (sel.back().d.captureTime - t0) * 86400.0;
  ClipWriterConfig cfg;
  cfg.kind = req.h264 ? ClipKind::H264Mp4 : ClipKind::MjpegMatroska;
  cfg.width = res.width;
  cfg.height = res.height;
  cfg.frameRate = sel.size() > 1 && span > 0 ? static_cast<double>(sel.size() - 1) / span : 0;
  cfg.textTrack = true;
  cfg.quality = req.quality;
  cfg.title = (tiled ? std::string("Все камеры") : "Камера " + std::to_string(req.camera)) + ": " +
              RangeText(t0, sel.back().d.captureTime);
  cfg.creationTime = UtcIsoTime(t0);

  std::string temp, error;
  if (!ReserveTemporary(req.output, temp, error)) return fail(error);
  std::unique_ptr<IClipWriter> writer = writers_.Create();
  // Whatever ends the export early takes the temporary file with it.
  struct Cleanup {
    IClipWriter* writer;
    std::string path;
    bool armed = true;
    ~Cleanup() {
      if (!armed) return;
      if (writer) writer->Abort();
      std::error_code ec;
      std::filesystem::remove(path, ec);
    }
  } cleanup{writer.get(), temp};
  if (!writer) return fail("no video writer");
  if (!writer->Open(temp, cfg)) return fail(writer->LastError());

  const bool copy = !req.h264 && !tiled;
  const int clipW = res.width, clipH = res.height;
  JpegCodec codec;
  std::vector<std::uint8_t> coded, scratch;
  TPicture picture, mosaic;
  if (tiled) mosaic.SetSize(clipW, clipH);
  Pending pending;
  std::int64_t lastInterval = 1000;

  auto flush = [&](std::int64_t nextPts) -> bool {
    if (!pending.valid) return true;
    const std::int64_t duration = std::max<std::int64_t>(nextPts - pending.pts, 1);
    bool ok =
        pending.jpeg
            ? writer->WriteJpeg(pending.bytes.data(), pending.bytes.size(), pending.pts, duration)
            : writer->WritePicture(
                  ClipPicture{pending.picture.Data(), pending.picture.Width(),
                              pending.picture.Height(), pending.picture.Stride(), false},
                  pending.pts, duration);
    ok = ok && writer->WriteText(pending.text, pending.pts, duration);
    if (!ok) return false;
    ++res.frames;
    if (pending.jpeg) ++res.copied;
    pending.valid = false;
    return true;
  };

  const int total = static_cast<int>(sel.size());
  auto cancelled = [&](int done) { return progress && !progress(ClipExportProgress{done, total}); };
  if (cancelled(0)) {
    res.status = ClipExportResult::Status::Cancelled;
    return res;
  }
  for (int i = 0; i < total; ++i) {
    const FrameDescriptor& d = sel[static_cast<std::size_t>(i)].d;
    const std::int64_t at = pts[static_cast<std::size_t>(i)];
    const std::string stamp = FormatDateTimeLong(d.captureTime);
    // The picture that record i adds to the clip.
    bool have = false;
    bool jpeg = false;
    if (copy && d.format == kFormatJpeg && d.width == clipW && d.height == clipH &&
        ReadCoded(reader, d, coded) && WholeJpeg(coded)) {
      have = jpeg = true;
    } else if (LoadPicture(reader, d, codec, coded, scratch, picture)) {
      have = true;
      if (tiled) {
        const int index = tileOf[d.object * 256 + d.camera];
        TPicture tile;
        tile.SetSize(tileW, tileH);
        DrawScaled(picture, tile, 0, 0, tileW, tileH);
        DrawTimeStamp(tile, stamp);
        DrawScaled(tile, mosaic, (index % cols) * tileW, (index / cols) * tileH, tileW, tileH);
      } else if (req.h264) {
        DrawTimeStamp(picture, stamp);
      }
    }
    if (!have) {
      ++res.skipped;
    } else {
      if (pending.valid) lastInterval = at - pending.pts;
      if (!flush(at)) return fail(writer->LastError());
      pending.valid = true;
      pending.jpeg = jpeg;
      pending.pts = at;
      pending.text = stamp;
      if (jpeg)
        std::swap(pending.bytes, coded);
      else
        pending.picture = tiled ? mosaic : picture;
    }
    if (cancelled(i + 1)) {
      res.status = ClipExportResult::Status::Cancelled;
      return res;
    }
  }
  if (!pending.valid && res.frames == 0) return fail("no readable picture among the " + what);
  // The last picture lasts as long as the one before it (a second when alone).
  if (!flush(pending.pts + std::clamp<std::int64_t>(lastInterval, 1, 10000)))
    return fail(writer->LastError());
  if (!writer->Finish()) return fail(writer->LastError());
  cleanup.writer = nullptr;  // finished: nothing to abort
  std::error_code ec;
  std::filesystem::rename(temp, req.output, ec);
  if (ec) return fail("cannot name the clip \"" + req.output + "\": " + ec.message());
  cleanup.armed = false;
  res.status = ClipExportResult::Status::Done;
  return res;
}

}  // namespace zv
