#pragma once
// Reads an exported clip back with FFmpeg's libraries, as a player would:
// its streams, every packet's time, the text track, and (on request) every
// picture decoded.
#include <cstdint>
#include <string>
#include <vector>

#include "video/Picture.h"

namespace zv::test {

struct ProbedClip {
  std::string container;  // the demuxer's name
  std::string videoCodec;
  std::string title;
  int width = 0, height = 0;
  std::vector<std::int64_t> videoMs;  // packet times in milliseconds, in file order
  std::vector<std::vector<std::uint8_t>> videoPackets;
  std::vector<std::string> texts;
  std::vector<std::int64_t> textMs, textDurationMs;
  std::vector<TPicture> pictures;  // decoded, when asked for
};

// False, with the reason, when the file does not open or a picture does not
// decode.
bool ProbeClip(const std::string& path, ProbedClip& out, std::string& error, bool decode = false);

}  // namespace zv::test
