// Feeds arbitrary bytes to everything that reads recorded data: the JPEG
// decoder, zlib inflation and the descriptor reader.  None of them may
// crash, hang or touch memory outside their buffers.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "detect/FrameDescriptor.h"
#include "detect/PictureCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static zv::JpegCodec codec;
  static std::vector<std::uint8_t> scratch;
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  ++data;
  --size;
  switch (mode % 4) {
    case 0: {  // a JPEG onto an empty picture
      zv::TPicture p;
      codec.DecodePicture(p, data, size, mode & 4);
      break;
    }
    case 1: {  // a JPEG onto a picture of another size
      zv::TPicture p(33 + mode % 7, 17);
      codec.DecodePicture(p, data, size, mode & 4);
      break;
    }
    case 2: {  // a zlib stream into a picture
      zv::TPicture p(1 + mode / 4, 1 + mode % 13);
      zv::InflatePicture(p, data, size, scratch);
      break;
    }
    default: {  // descriptors, and the codec must still work afterwards
      for (std::size_t at = 0; at + zv::kDescriptorSize <= size; at += zv::kDescriptorSize) {
        // Writing what was read and reading it again gives the same bytes
        // (a NaN time compares unequal to itself, so bytes are compared).
        const zv::DescriptorBytes once = zv::EncodeDescriptor(zv::DecodeDescriptor(data + at));
        const zv::DescriptorBytes twice = zv::EncodeDescriptor(zv::DecodeDescriptor(once.data()));
        if (once != twice) __builtin_trap();
      }
      break;
    }
  }
  return 0;
}
