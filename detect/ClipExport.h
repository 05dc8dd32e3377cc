#pragma once
// Clip export: the records of one camera, or of all cameras side by side,
// over a time range of a recording pair, into a video file that any player
// opens.
//
// - MJPEG in Matroska (the default): JPEG records go into the file as they
//   are, without coding them again (fast and lossless).  Records of another
//   kind (raw or zlib pictures, another size) are coded once at the clip's
//   size.  The capture times travel as a text track, which players show as
//   subtitles; the pictures themselves stay untouched.
// - H.264 in MP4: every picture is coded again, with its capture time drawn
//   into it.
// - All cameras: one tile per camera, in camera order, left to right and top
//   to bottom; every record updates its camera's tile (with the time drawn
//   into it) and makes one picture of the clip.
//
// Each picture keeps its capture time as its time stamp, however irregular
// the recording was (records are put in time order first, which a pair that
// wrapped round needs).  The file is written under a temporary name in the
// output's folder and renamed when complete; a failed or cancelled export
// leaves nothing behind, and an existing file of the output's name is
// untouched until the new one is complete.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/ClipWriter.h"
#include "platform/Clock.h"

namespace zv {

// Camera number that selects every camera, tiled.
constexpr int kAllCameras = 0;

struct ClipExportRequest {
  std::string pairName;  // the recording pair (its ".dsc"; another extension is replaced)
  int camera = 1;        // camera number of the records, or kAllCameras
  int object = 0;        // object byte of the records; 0: any
  std::optional<TDateTime> from, to;  // inclusive; empty: open
  bool h264 = false;                  // H.264 in MP4 instead of MJPEG in Matroska
  int quality = 90;                   // 1..100 for pictures that are coded
  std::string output;
};

struct ClipExportProgress {
  int done = 0;   // records handled
  int total = 0;  // records to export
};

struct ClipExportResult {
  enum class Status { Done, Cancelled, Failed };
  Status status = Status::Failed;
  std::string error;  // why it failed
  int frames = 0;     // pictures in the clip
  int copied = 0;     // of them, JPEG records copied unchanged
  int skipped = 0;    // records in the range without a readable picture
  int width = 0, height = 0;
  bool ok() const { return status == Status::Done; }
};

class ClipExporter {
 public:
  explicit ClipExporter(IClipWriterFactory& writers) : writers_(writers) {}

  // Called before the first record and after each one; returning false
  // cancels the export.
  using Progress = std::function<bool(const ClipExportProgress&)>;

  // Runs the whole export on the calling thread (the window runs it on a
  // worker of its own: the exporter shares nothing with the program).
  ClipExportResult Export(const ClipExportRequest& request, const Progress& progress = {});

 private:
  IClipWriterFactory& writers_;
};

// A time typed as "YYYY-MM-DD HH:MM:SS" (local time; "YYYY-MM-DD HH:MM" and
// "YYYY-MM-DD" also do, and 'T' may stand for the blank).  start is the
// moment named, end the end of the second, minute or day it names.
bool ParseLocalDateTime(const std::string& text, TDateTime& start, TDateTime& end);

// "2024-03-01T09:15:00.000000Z" for a local date-time ("" when it cannot be
// converted).
std::string UtcIsoTime(TDateTime local);

}  // namespace zv
