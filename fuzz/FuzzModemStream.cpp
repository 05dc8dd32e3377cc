// The station's receiver of the modem picture stream (a 32-bit size, then
// that many JPEG bytes, picture after picture).
//
// Mode 0: any byte stream.  The pictures handed over and the places where
// the stream lost its place (with the size found there) are the same
// whether the bytes come at once or in pieces of any size.  What is held
// never passes the buffer's size plus one read.
//
// Mode 1: pictures written as the site writes them (JPEG bytes) come out
// whole, in order, and the stream never loses its place.
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "link/Protocol.h"

namespace {

using zv::ModemPictureReceiver;
using zv::fuzz::Check;

struct Result {
  // Each picture handed over, and each loss of place as an empty entry
  // followed by the size found there.
  std::vector<std::vector<std::uint8_t>> events;
  int lost = 0;
  bool operator==(const Result&) const = default;
};

Result Receive(const std::vector<std::uint8_t>& bytes, std::uint32_t seed, bool atOnce) {
  Result r;
  ModemPictureReceiver rx(
      [&](const std::uint8_t* p, std::size_t n) {
        Check(n + 4 <= zv::link::kModemBufferSize, "a picture fits the buffer");
        Check(n >= 3 && p[0] == 0xFF && p[1] == 0xD8, "a picture begins as a JPEG picture");
        r.events.emplace_back(p, p + n);
      },
      [&](std::uint32_t n) {
        ++r.lost;
        r.events.emplace_back();
        r.events.push_back({static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                            static_cast<std::uint8_t>(n >> 16),
                            static_cast<std::uint8_t>(n >> 24)});
      });
  zv::fuzz::Pieces pieces(seed);
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t n = atOnce ? bytes.size() : pieces.Length(bytes.size() - at);
    rx.Receive(bytes.data() + at, n);
    at += n;
    Check(rx.Held() < zv::link::kModemBufferSize + n, "held bytes stay bounded");
  }
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4000000) return 0;
  zv::fuzz::Input in(data, size);
  const std::uint8_t mode = in.Byte();
  const std::uint32_t seed = in.U32();
  if (mode & 1) {
    std::vector<std::uint8_t> stream;
    std::vector<std::vector<std::uint8_t>> sent;
    while (in.Left() > 0) {
      std::vector<std::uint8_t> jpeg = {0xFF, 0xD8, 0xFF};
      const std::vector<std::uint8_t> rest = in.Bytes(in.U16() % 8192);
      jpeg.insert(jpeg.end(), rest.begin(), rest.end());
      const auto n = static_cast<std::uint32_t>(jpeg.size());
      for (int i = 0; i < 4; ++i) stream.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
      stream.insert(stream.end(), jpeg.begin(), jpeg.end());
      sent.push_back(jpeg);
    }
    const Result r = Receive(stream, seed, false);
    Check(r.lost == 0 && r.events == sent, "pictures come out as sent");
    return 0;
  }
  const std::vector<std::uint8_t> bytes = in.Rest();
  Check(Receive(bytes, seed, true) == Receive(bytes, seed, false),
        "the same pictures and losses whatever the read boundaries");
  return 0;
}
