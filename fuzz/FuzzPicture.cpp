// Everything that reads recorded picture data: the JPEG decoder, zlib
// inflation and the descriptor reader.  None of them may crash, hang or
// touch memory outside their buffers; and what the program writes
// (descriptors, JPEG pictures, zlib streams of a picture) reads back.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "detect/FrameDescriptor.h"
#include "detect/PictureCodec.h"
#include "fuzz/FuzzSupport.h"

namespace {

using zv::fuzz::Check;

// A picture of the given size filled from the input (zeros past its end).
zv::TPicture Filled(int w, int h, zv::fuzz::Input& in) {
  zv::TPicture p(w, h);
  const auto bytes = in.Bytes(p.SizeBytes());
  std::copy(bytes.begin(), bytes.end(), p.Data());
  return p;
}

bool Grey(const zv::TPicture& p) {
  for (int y = 0; y < p.Height(); ++y)
    for (int x = 0; x < p.Width(); ++x) {
      const std::uint8_t* px = p.StoredRow(y) + 3 * x;
      if (px[0] != px[1] || px[1] != px[2]) return false;
    }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static zv::JpegCodec codec;
  static std::vector<std::uint8_t> scratch;
  zv::fuzz::Input in(data, size);
  if (size < 1) return 0;
  const std::uint8_t mode = in.Byte();
  const bool colored = mode & 8;
  switch (mode % 6) {
    case 0: {  // a JPEG onto an empty picture; a small one is coded again
      zv::TPicture p;
      const auto jpeg = in.Rest();
      if (codec.DecodePicture(p, jpeg.data(), jpeg.size(), colored) &&
          p.SizeBytes() <= 256 * 256 * 3) {
        Check(colored || Grey(p), "a picture decoded in grey is grey");
        const auto again = codec.EncodePicture(p, 1 + mode % 100, colored);
        Check(!again.empty(), "a decoded picture encodes");
        const std::vector<std::uint8_t> copy(again.begin(), again.end());
        zv::TPicture q;
        Check(codec.DecodePicture(q, copy.data(), copy.size(), colored), "re-encoded decodes");
        Check(q.Width() == p.Width() && q.Height() == p.Height(), "same size after re-coding");
      }
      break;
    }
    case 1: {  // a JPEG onto a picture of another size
      zv::TPicture p(33 + mode % 7, 17);
      const zv::TPicture before = p;
      const auto jpeg = in.Rest();
      if (!codec.DecodePicture(p, jpeg.data(), jpeg.size(), colored))
        Check(p == before, "a failed decode leaves the picture as it was");
      Check(p.Width() == 33 + mode % 7 && p.Height() == 17, "the target keeps its size");
      break;
    }
    case 2: {  // a zlib stream into a picture
      zv::TPicture p(1 + mode / 4, 1 + mode % 13);
      const zv::TPicture before = p;
      const auto z = in.Rest();
      if (!zv::InflatePicture(p, z.data(), z.size(), scratch))
        Check(p == before, "a failed inflation leaves the picture as it was");
      break;
    }
    case 3: {  // descriptors, and the codec must still work afterwards
      const auto bytes = in.Rest();
      for (std::size_t at = 0; at + zv::kDescriptorSize <= bytes.size();
           at += zv::kDescriptorSize) {
        // Writing what was read and reading it again gives the same bytes
        // (a NaN time compares unequal to itself, so bytes are compared).
        const zv::DescriptorBytes once =
            zv::EncodeDescriptor(zv::DecodeDescriptor(bytes.data() + at));
        const zv::DescriptorBytes twice = zv::EncodeDescriptor(zv::DecodeDescriptor(once.data()));
        Check(once == twice, "descriptor reads back as written");
      }
      break;
    }
    case 4: {  // the zlib stream of a picture inflates to the picture
      const int w = 1 + in.Byte() % 64, h = 1 + in.Byte() % 64;
      const zv::TPicture p = Filled(w, h, in);
      const auto z = zv::DeflatePicture(p);
      zv::TPicture q(w, h);
      Check(zv::InflatePicture(q, z.data(), z.size(), scratch) && q == p, "zlib round trip");
      break;
    }
    default: {  // any picture encodes, and decodes at its size (grey when not coloured)
      const int w = 1 + in.Byte() % 48, h = 1 + in.Byte() % 48;
      const zv::TPicture p = Filled(w, h, in);
      const auto jpeg = codec.EncodePicture(p, 1 + in.Byte() % 100, colored);
      Check(!jpeg.empty(), "a picture encodes");
      const std::vector<std::uint8_t> copy(jpeg.begin(), jpeg.end());
      zv::TPicture q;
      Check(codec.DecodePicture(q, copy.data(), copy.size(), colored), "its JPEG decodes");
      Check(q.Width() == w && q.Height() == h, "same size");
      Check(colored || Grey(q), "grey when not coloured");
      break;
    }
  }
  return 0;
}
