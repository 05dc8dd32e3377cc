// The station's receiver of the modem picture stream (a 32-bit size, then
// that many JPEG bytes, picture after picture).
//
// Mode 0: any byte stream.  Until the first size the receiver refuses, the
// pictures must be the same whether the bytes come at once or in pieces of
// any size, and the refusal must come at the same place with the same size.
// (The stream has no marker, so what follows a refused size cannot be
// found again: from there on the result may depend on read boundaries.)
// What is held never passes the buffer's size plus one read.
//
// Mode 1: pictures written as the site writes them come out whole, in order.
#include <algorithm>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "link/Protocol.h"

namespace {

using zv::ModemPictureReceiver;
using zv::fuzz::Check;

struct Result {
  std::vector<std::vector<std::uint8_t>> pictures;
  bool refused = false;
  std::int64_t declared = 0;
  std::size_t before = 0;  // pictures handed over before the refusal
};

Result Receive(const std::vector<std::uint8_t>& bytes, std::uint32_t seed, bool atOnce) {
  Result r;
  ModemPictureReceiver rx(
      [&](const std::uint8_t* p, std::size_t n) {
        Check(n + 4 <= zv::link::kModemBufferSize, "a picture fits the buffer");
        if (!r.refused) r.pictures.emplace_back(p, p + n);
      },
      [&](std::int64_t n) {
        Check(n < 0 || n + 4 > static_cast<std::int64_t>(zv::link::kModemBufferSize),
              "only an impossible size is refused");
        if (!r.refused) {
          r.refused = true;
          r.declared = n;
          r.before = r.pictures.size();
        }
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
      const std::vector<std::uint8_t> jpeg = in.Bytes(in.U16() % 8192);
      const auto n = static_cast<std::uint32_t>(jpeg.size());
      for (int i = 0; i < 4; ++i) stream.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
      stream.insert(stream.end(), jpeg.begin(), jpeg.end());
      sent.push_back(jpeg);
    }
    const Result r = Receive(stream, seed, false);
    Check(!r.refused && r.pictures == sent, "pictures come out as sent");
    return 0;
  }
  const std::vector<std::uint8_t> bytes = in.Rest();
  const Result once = Receive(bytes, seed, true);
  const Result split = Receive(bytes, seed, false);
  Check(once.refused == split.refused, "a size is refused whatever the read boundaries");
  if (once.refused) {
    Check(once.declared == split.declared && once.before == split.before,
          "the same size refused at the same place");
    Check(std::equal(once.pictures.begin(), once.pictures.begin() + once.before,
                     split.pictures.begin()),
          "same pictures before the refusal");
  } else {
    Check(once.pictures == split.pictures, "same pictures whatever the read boundaries");
  }
  return 0;
}
