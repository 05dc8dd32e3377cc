// A recording pair on disk, ".dsc" descriptors and ".bin" pictures, as the
// viewer and the recorder find it: torn, hand-made, from another program,
// or cut by a crash.  The viewer opens it and shows its records (picture,
// time stamp, change graph) without a crash; the recorder reopens it, cuts
// a torn descriptor, and appends (also past its volume limit, wrapping or
// going on in a new pair); every record appended reads back as written,
// the viewer following the recorder indexes it, and after wrapping no
// other shown record's picture lies where the new one was written.
//
// Input: a control byte, the ".dsc" length (16 bits), the ".dsc" bytes,
// then the ".bin" bytes; frames to append are taken from the ".bin" bytes.
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "detect/ChangeBar.h"
#include "detect/RecordingFiles.h"
#include "detect/TimeStamp.h"
#include "detect/Viewer.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Clock.h"

namespace {

using namespace zv;
using zv::fuzz::Check;

void Clean(const std::string& dir) {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    if (e.path().filename().string().rfind("rec", 0) == 0) std::filesystem::remove(e.path(), ec);
}

// Shows every record as the playback page does.
void View(ViewerSession& s, PictureLoader& loader, std::int32_t upTo) {
  TPicture pic(8, 8);
  for (std::int32_t n = 1; n <= upTo; ++n) {
    FrameDescriptor d;
    const auto check = s.Prepare(n, d);
    Check(check == ViewerSession::Check::Show || check == ViewerSession::Check::NotAPicture,
          "every record within the count can be prepared");
    if (check != ViewerSession::Check::Show) continue;
    // A made-up size up to the loader's limit only costs an allocation of up
    // to 64 MB; showing such records would make every run slow.
    const std::size_t bytes =
        static_cast<std::size_t>(TPicture::StrideFor(std::max<int>(d.width, 0))) *
        static_cast<std::size_t>(std::max<int>(d.height, 0));
    if (bytes > (4u << 20) && bytes <= kMaxPictureBytes) continue;
    const auto status = loader.Load(s.Reader(), d, pic, d.colored);
    // (A record without a size shows its JPEG at the JPEG's own size.)
    if (status != PictureLoader::BadSize && d.width > 0 && d.height > 0)
      Check(pic.Width() == d.width && pic.Height() == d.height,
            "the picture takes the record's size");
    DrawTimeStamp(pic, FormatDateTimeLong(d.captureTime));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 200000) return 0;
  static JpegCodec codec;
  static PictureLoader loader(codec);
  zv::fuzz::Input in(data, size);
  const std::uint8_t control = in.Byte();
  const std::vector<std::uint8_t> dsc = in.Bytes(in.U16());
  const std::vector<std::uint8_t> bin = in.Rest();
  const std::string dir = zv::fuzz::ScratchDir();
  Clean(dir);
  const std::string name = dir + "/rec.dsc";
  zv::fuzz::WriteWholeFile(name, dsc.data(), dsc.size());
  zv::fuzz::WriteWholeFile(dir + "/rec.bin", bin.data(), bin.size());
  const auto count = static_cast<std::int32_t>(dsc.size() / kDescriptorSize);

  ViewerSession viewer;
  Check(viewer.Open(name), "a pair whose files exist opens");
  Check(viewer.Index().Count() == count, "every record indexed");
  for (std::int32_t n = 1; n <= count; ++n)
    Check(viewer.Index().Level(n) ==
              DecodeDescriptor(dsc.data() + (n - 1) * kDescriptorSize).changeLevel,
          "the index holds the records' change levels");
  View(viewer, loader, std::min(count, 16));
  const ChangeGraph g = ComputeChangeGraph(viewer.Index().Levels(), 484, 27, control % 101);
  Check(g.columns.size() == (count > 0 ? 483u : 0u), "one graph column per pixel");

  RecordingPair pair;
  Check(static_cast<bool>(pair.OpenExisting(name)), "an existing pair opens for recording");
  Check(pair.RepairedBytes() == static_cast<std::int64_t>(dsc.size() % kDescriptorSize),
        "a torn descriptor is cut");
  Check(pair.RecordCount() == count, "whole records are kept");
  VolumePolicy policy;
  policy.action = static_cast<VolumeLimitAction>(control % 3);
  if (control & 4)
    policy.limitBytes =
        static_cast<std::int64_t>(count * kDescriptorSize + bin.size()) + (control >> 3) * 40 - 200;
  pair.SetVolumePolicy(policy);

  zv::fuzz::Input frames(bin.data(), bin.size());
  bool ring = false;  // the recording has gone round
  for (int i = 0; i < 1 + (control >> 5) % 4; ++i) {
    FrameDescriptor d;
    d.captureTime = 45000.25 + i;
    d.width = 8;
    d.height = 4;
    d.changeLevel = frames.Byte() % 101;
    d.format = kFormatJpeg;
    d.camera = 1 + frames.Byte() % 8;
    const std::vector<std::uint8_t> picture = frames.Bytes(frames.Byte());
    const AppendResult r = pair.Append(d, picture.data(), picture.size());
    if (r.status != AppendResult::Written) continue;
    // The record reads back as written, picture and all.
    RecordingReader reader;
    Check(static_cast<bool>(reader.Open(pair.DscName())), "the pair written reads");
    FrameDescriptor back;
    Check(reader.ReadDescriptor(r.recordNumber, back) && back == d, "a record reads as written");
    std::vector<std::uint8_t> bytes(picture.size());
    Check(reader.ReadPicture(d.offset, bytes.data(), bytes.size()) && bytes == picture,
          "its picture reads as written");
    // No other record shown would draw from the bytes just written.
    if (r.wrapped) ring = true;
    if (ring) {
      for (std::int32_t n = 1; n <= reader.RecordCount() && !picture.empty(); ++n) {
        FrameDescriptor o;
        Check(reader.ReadDescriptor(n, o), "every record reads");
        if (n == r.recordNumber || o.kind != kKindPicture || o.length <= 0) continue;
        const std::int64_t from = o.offset, to = from + o.length;
        Check(to <= d.offset || from >= d.offset + d.length,
              "an overwritten picture is never shown");
      }
    }
    if (pair.DscName() == viewer.DscName()) {
      viewer.FollowRecorder(r.recordNumber);
      if (r.recordNumber <= kMaxIndexedRecords)
        Check(viewer.Index().Level(r.recordNumber) == d.changeLevel, "the viewer follows");
    }
  }
  pair.Close();
  viewer.Close();
  Clean(dir);
  return 0;
}
