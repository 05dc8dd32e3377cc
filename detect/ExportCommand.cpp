#include "detect/ExportCommand.h"

#include <charconv>

namespace zv {

namespace {

bool ParseInt(const std::string& text, int lo, int hi, int& out) {
  int v = 0;
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || p != end || v < lo || v > hi) return false;
  out = v;
  return true;
}

}  // namespace

bool IsExportCommand(const std::vector<std::string>& args) {
  for (const std::string& a : args)
    if (a == "--export") return true;
  return false;
}

const char* ExportUsage() {
  return "usage: zorvenix --export PAIR.dsc --camera N [--object N] [--from T] [--to T]\n"
         "                [--h264] [--quality Q] OUT\n"
         "  writes the records of camera N (0: all cameras, tiled) of the recording pair\n"
         "  to the video file OUT: MJPEG in Matroska, JPEG records copied unchanged and\n"
         "  the capture times as subtitles; with --h264, H.264 in MP4 with the times\n"
         "  drawn into the pictures.  T is local time \"YYYY-MM-DD HH:MM:SS\".\n"
         "  --object N  only records of site N (a station's recordings)\n"
         "  --quality Q quality 1..100 of pictures that are coded (default 90)\n";
}

bool ParseExportCommand(const std::vector<std::string>& args, ClipExportRequest& out,
                        std::string& error) {
  out = ClipExportRequest{};
  bool haveCamera = false, havePair = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--h264") {
      out.h264 = true;
      continue;
    }
    const bool takesValue = a == "--export" || a == "--camera" || a == "--object" ||
                            a == "--from" || a == "--to" || a == "--quality";
    if (!takesValue) {
      if (a.rfind("--", 0) == 0) {
        error = "unknown argument " + a;
        return false;
      }
      if (!out.output.empty()) {
        error = "more than one output file: " + out.output + ", " + a;
        return false;
      }
      out.output = a;
      continue;
    }
    if (i + 1 >= args.size() || args[i + 1].empty()) {
      error = a + " needs a value";
      return false;
    }
    const std::string& v = args[++i];
    if (a == "--export") {
      out.pairName = v;
      havePair = true;
    } else if (a == "--camera") {
      if (!ParseInt(v, 0, 255, out.camera)) {
        error = "--camera wants a camera number 1..255, or 0 for all, not " + v;
        return false;
      }
      haveCamera = true;
    } else if (a == "--object") {
      if (!ParseInt(v, 1, 255, out.object)) {
        error = "--object wants a site number 1..255, not " + v;
        return false;
      }
    } else if (a == "--quality") {
      if (!ParseInt(v, 1, 100, out.quality)) {
        error = "--quality wants 1..100, not " + v;
        return false;
      }
    } else {
      TDateTime start = 0, end = 0;
      if (!ParseLocalDateTime(v, start, end)) {
        error = a + " wants a local time \"YYYY-MM-DD HH:MM:SS\", not \"" + v + "\"";
        return false;
      }
      if (a == "--from")
        out.from = start;
      else
        out.to = end - 1e-9;  // the whole second (minute, day) named
    }
  }
  if (!havePair) {
    error = "--export needs the recording pair";
    return false;
  }
  if (!haveCamera) {
    error = "--camera is missing (0 for all cameras)";
    return false;
  }
  if (out.output.empty()) {
    error = "no output file";
    return false;
  }
  if (out.from && out.to && *out.to < *out.from) {
    error = "--to lies before --from";
    return false;
  }
  return true;
}

int RunExportCommand(const ClipExportRequest& request, IClipWriterFactory& writers, std::FILE* out,
                     std::FILE* err, const std::atomic<bool>* interrupted) {
  ClipExporter exporter(writers);
  int lastPercent = -1;
  const ClipExportResult r = exporter.Export(request, [&](const ClipExportProgress& p) {
    if (interrupted && interrupted->load()) return false;
    const int percent = p.total > 0 ? static_cast<int>(100LL * p.done / p.total) : 100;
    if (percent != lastPercent) {
      lastPercent = percent;
      std::fprintf(out, "export: %3d%% (%d of %d records)\n", percent, p.done, p.total);
      std::fflush(out);
    }
    return true;
  });
  switch (r.status) {
    case ClipExportResult::Status::Done:
      std::fprintf(out, "export: wrote %s: %d pictures of %dx%d (%d copied, %d skipped)\n",
                   request.output.c_str(), r.frames, r.width, r.height, r.copied, r.skipped);
      return 0;
    case ClipExportResult::Status::Cancelled:
      std::fprintf(err, "zorvenix: export cancelled, nothing written\n");
      return 130;
    case ClipExportResult::Status::Failed:
      break;
  }
  std::fprintf(err, "zorvenix: export failed: %s\n", r.error.c_str());
  return 1;
}

}  // namespace zv
