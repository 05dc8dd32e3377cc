#pragma once
// Picture coding of the recording files: JPEG (format 2) written and read,
// and the zlib stream of the raw buffer (format 1), read only.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/Picture.h"

namespace zv {

// Pictures larger than this (decoded bytes) are refused when reading: a
// corrupt header or descriptor must not make the program allocate gigabytes.
constexpr std::size_t kMaxPictureBytes = 64u << 20;

// One compressor and one decompressor, kept for the whole run.  Coding is
// baseline JPEG with the fastest DCT, straight from and into the bottom-up
// BGR buffer.  A corrupt JPEG never ends the program: decoding just fails.
class JpegCodec {
 public:
  JpegCodec();
  ~JpegCodec();
  JpegCodec(const JpegCodec&) = delete;
  JpegCodec& operator=(const JpegCodec&) = delete;

  // Quality is limited to 1..100; greyscale when not colored.  The result
  // lives in the codec and stays valid until the next call; empty on failure.
  std::span<const std::uint8_t> EncodePicture(const TPicture& picture, int quality, bool colored);

  // Draws the JPEG at the top-left corner of target (target takes the
  // JPEG's size when it is empty); converted to grey when not colored.  On
  // failure target is left exactly as it was.
  bool DecodePicture(TPicture& target, const std::uint8_t* data, std::size_t size, bool colored);

  const std::string& LastError() const { return error_; }

 private:
  void ResetDecompressor();

  void* compressor_ = nullptr;
  void* decompressor_ = nullptr;
  std::vector<std::uint8_t> out_;
  TPicture scratch_;
  std::string error_;
};

// Inflates a zlib stream into target's pixel buffer (target keeps its size;
// at most its buffer's length is taken).  On a corrupt or truncated stream
// target is left as it was.  scratch is working memory kept by the caller.
bool InflatePicture(TPicture& target, const std::uint8_t* data, std::size_t size,
                    std::vector<std::uint8_t>& scratch);

// The zlib stream of a picture's buffer (for tests and tools; the recorder
// never writes format 1).
std::vector<std::uint8_t> DeflatePicture(const TPicture& picture);

}  // namespace zv
