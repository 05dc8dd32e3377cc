#include "support/FileChecks.h"

#include <regex>

#include <sys/stat.h>

#include "detect/PictureCodec.h"
#include "detect/RecordingFiles.h"
#include "support/TempDir.h"

namespace zv::test {

std::string PairReport::Describe() const {
  std::string s = std::to_string(records) + " records, " + std::to_string(pictures) +
                  " whole pictures, " + std::to_string(overwritten) + " overwritten";
  for (const auto& f : faults) s += "\n  " + f;
  return s;
}

PairReport CheckPair(const std::string& dscName, const PictureCheck& check) {
  PairReport r;
  RecordingReader reader;
  if (IoResult o = reader.Open(dscName); !o) {
    r.faults.push_back(o.reason);
    return r;
  }
  struct stat st;
  const std::int64_t binSize =
      ::stat(BinNameFor(DscNameFor(dscName)).c_str(), &st) == 0 ? st.st_size : -1;
  JpegCodec codec;
  r.records = reader.RecordCount();
  for (std::int32_t n = 1; n <= r.records; ++n) {
    FrameDescriptor d;
    const std::string at = "record " + std::to_string(n) + ": ";
    if (!reader.ReadDescriptor(n, d)) {
      r.faults.push_back(at + "descriptor unreadable");
      continue;
    }
    if (d.kind == kKindOverwritten) {
      ++r.overwritten;
      continue;
    }
    if (d.recordNumber != n) {
      r.faults.push_back(at + "carries number " + std::to_string(d.recordNumber));
      continue;
    }
    if (d.kind != kKindPicture || d.offset < 0 || d.length <= 0 ||
        static_cast<std::int64_t>(d.offset) + d.length > binSize) {
      r.faults.push_back(at + "kind " + std::to_string(d.kind) + ", picture at " +
                         std::to_string(d.offset) + "+" + std::to_string(d.length) +
                         " of a .bin of " + std::to_string(binSize));
      continue;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(d.length));
    if (!reader.ReadPicture(d.offset, bytes.data(), bytes.size())) {
      r.faults.push_back(at + "picture unreadable");
      continue;
    }
    TPicture pic;
    if (d.format == kFormatJpeg) {
      if (!codec.DecodePicture(pic, bytes.data(), bytes.size(), true)) {
        r.faults.push_back(at + "picture does not decode: " + codec.LastError());
        continue;
      }
    } else if (d.format == kFormatRaw) {
      pic.SetSize(d.width, d.height);
      if (pic.SizeBytes() != bytes.size()) {
        r.faults.push_back(at + "raw picture of " + std::to_string(bytes.size()) + " bytes");
        continue;
      }
      pic.Bytes() = bytes;
    }
    if (pic.Width() != d.width || pic.Height() != d.height) {
      r.faults.push_back(at + "picture is " + std::to_string(pic.Width()) + "x" +
                         std::to_string(pic.Height()) + ", descriptor says " +
                         std::to_string(d.width) + "x" + std::to_string(d.height));
      continue;
    }
    if (check) {
      if (std::string why = check(d, pic); !why.empty()) {
        r.faults.push_back(at + why);
        continue;
      }
    }
    ++r.pictures;
  }
  return r;
}

std::string JournalReport::Describe() const {
  std::string s = std::to_string(texts.size()) + " lines, numbers " + std::to_string(first) + ".." +
                  std::to_string(last);
  for (const auto& f : faults) s += "\n  " + f;
  return s;
}

JournalReport CheckJournal(const std::string& logPath) {
  JournalReport r;
  const std::string all = ReadFile(logPath);
  static const std::regex line(
      R"(^ *(\d+)  \d\d\.\d\d\.\d\d \d\d:\d\d:\d\d  [ \d]{2}\d[ \d]{3}\d[ \d]{3}\d[ \d]{2}\d[ \d-]{7}\d (.*)$)");
  std::size_t pos = 0;
  long long expect = 0;
  while (pos < all.size()) {
    const std::size_t end = all.find("\r\n", pos);
    if (end == std::string::npos) {
      r.faults.push_back("last line not ended: \"" + all.substr(pos) + "\"");
      break;
    }
    const std::string text = all.substr(pos, end - pos);
    pos = end + 2;
    std::smatch m;
    if (!std::regex_match(text, m, line)) {
      r.faults.push_back("not a whole line: \"" + text + "\"");
      continue;
    }
    const long long n = std::stoll(m[1].str());
    if (expect != 0 && n != expect)
      r.faults.push_back("line " + std::to_string(n) + " follows line " +
                         std::to_string(expect - 1));
    if (r.first == 0) r.first = n;
    r.last = n;
    expect = n + 1;
    r.texts.push_back(m[2].str());
  }
  return r;
}

}  // namespace zv::test
