// The bitmap reader (pictures of a folder that the emulated camera plays,
// a camera's still picture): any file must be refused or read whole, and a
// picture read writes as a 24-bit file that reads back the same.
#include <string>

#include "fuzz/FuzzSupport.h"
#include "video/Bmp.h"

using zv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  zv::TPicture pic(3, 2);
  const zv::TPicture before = pic;
  std::string why;
  if (!zv::LoadBmpFromMemory(bytes, pic, &why)) {
    Check(pic == before, "a refused file leaves the picture as it was");
    Check(!why.empty(), "a refusal says why");
    return 0;
  }
  Check(pic.Width() > 0 && pic.Height() > 0, "a picture read has a size");
  // Bounded by the file: the reader never makes more of it than it holds.
  Check(pic.SizeBytes() <= 24 * 8 * bytes.size() + 4 * 16384, "picture size bounded by the file");
  zv::TPicture again;
  Check(zv::LoadBmpFromMemory(zv::EncodeBmp(pic), again), "a written bitmap reads");
  Check(again == pic, "a written bitmap reads back the same");
  return 0;
}
