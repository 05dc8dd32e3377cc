#include "detect/PictureCodec.h"

#include <turbojpeg.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace zv {

JpegCodec::JpegCodec() : compressor_(tjInitCompress()), decompressor_(tjInitDecompress()) {}

JpegCodec::~JpegCodec() {
  if (compressor_) tjDestroy(compressor_);
  if (decompressor_) tjDestroy(decompressor_);
}

std::span<const std::uint8_t> JpegCodec::EncodePicture(const TPicture& picture, int quality,
                                                       bool colored) {
  error_.clear();
  if (!compressor_) {
    error_ = "JPEG compressor not available";
    return {};
  }
  if (picture.Empty()) {
    error_ = "empty picture";
    return {};
  }
  const int samp = colored ? TJSAMP_420 : TJSAMP_GRAY;
  const unsigned long bound = tjBufSize(picture.Width(), picture.Height(), samp);
  if (bound == static_cast<unsigned long>(-1)) {
    error_ = tjGetErrorStr2(compressor_);
    return {};
  }
  // The output block is ours and reused: no allocation once it is big enough.
  if (out_.size() < bound) out_.resize(bound);
  unsigned char* buf = out_.data();
  unsigned long size = bound;
  const int flags = TJFLAG_BOTTOMUP | TJFLAG_FASTDCT | TJFLAG_NOREALLOC;
  if (tjCompress2(compressor_, picture.Data(), picture.Width(), picture.Stride(), picture.Height(),
                  TJPF_BGR, &buf, &size, samp, std::clamp(quality, 1, 100), flags) != 0) {
    error_ = tjGetErrorStr2(compressor_);
    tjDestroy(compressor_);
    compressor_ = tjInitCompress();
    return {};
  }
  return {out_.data(), static_cast<std::size_t>(size)};
}

// After an error the decompressor can be left in the middle of a stream and
// refuse the next, good one; it is replaced by a fresh one.
void JpegCodec::ResetDecompressor() {
  if (decompressor_) tjDestroy(decompressor_);
  decompressor_ = tjInitDecompress();
}

namespace {

// libjpeg's own weights for RGB -> Y, in 16-bit fixed point.
void ToGrey(TPicture& p) {
  for (int y = 0; y < p.Height(); ++y) {
    std::uint8_t* row = p.StoredRow(y);
    for (int x = 0; x < p.Width(); ++x) {
      std::uint8_t* px = row + 3 * x;
      const std::uint32_t g = (7471u * px[0] + 38470u * px[1] + 19595u * px[2] + 32768u) >> 16;
      px[0] = px[1] = px[2] = static_cast<std::uint8_t>(g);
    }
  }
}

}  // namespace

bool JpegCodec::DecodePicture(TPicture& target, const std::uint8_t* data, std::size_t size,
                              bool colored) {
  error_.clear();
  if (!decompressor_) {
    error_ = "JPEG decompressor not available";
    return false;
  }
  if (data == nullptr || size == 0) {
    error_ = "no data";
    return false;
  }
  int w = 0, h = 0, samp = 0, colorspace = 0;
  if (tjDecompressHeader3(decompressor_, data, static_cast<unsigned long>(size), &w, &h, &samp,
                          &colorspace) != 0) {
    error_ = tjGetErrorStr2(decompressor_);
    ResetDecompressor();
    return false;
  }
  if (w <= 0 || h <= 0 ||
      static_cast<std::size_t>(TPicture::StrideFor(w)) * static_cast<std::size_t>(h) >
          kMaxPictureBytes) {
    error_ = "picture too large";
    return false;
  }
  scratch_.SetSize(w, h);
  // Warnings (a truncated or damaged stream) count as failures: the picture
  // shown stays whole.  Progressive streams with absurd scan counts are cut.
  const int flags = TJFLAG_BOTTOMUP | TJFLAG_FASTDCT | TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS;
  if (tjDecompress2(decompressor_, data, static_cast<unsigned long>(size), scratch_.Data(), w,
                    scratch_.Stride(), h, TJPF_BGR, flags) != 0) {
    error_ = tjGetErrorStr2(decompressor_);
    ResetDecompressor();
    return false;
  }
  if (!colored && samp != TJSAMP_GRAY) ToGrey(scratch_);
  if (target.Empty()) target.SetSize(w, h);
  if (target.Width() == w && target.Height() == h) {
    std::swap(target.Bytes(), scratch_.Bytes());  // the old buffer is the next scratch
    return true;
  }
  // Another size: the picture is drawn at the top-left corner.
  const int rows = std::min(h, target.Height());
  const std::size_t bytes = static_cast<std::size_t>(std::min(w, target.Width())) * 3;
  for (int y = 0; y < rows; ++y) std::memcpy(target.ScreenRow(y), scratch_.ScreenRow(y), bytes);
  return true;
}

bool InflatePicture(TPicture& target, const std::uint8_t* data, std::size_t size,
                    std::vector<std::uint8_t>& scratch) {
  const std::size_t raw = target.SizeBytes();
  if (data == nullptr || size == 0 || raw == 0) return false;
  if (scratch.size() < raw) scratch.resize(raw);
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return false;
  zs.next_in = const_cast<Bytef*>(data);
  zs.avail_in = static_cast<uInt>(std::min<std::size_t>(size, 0xFFFFFFFFu));
  zs.next_out = scratch.data();
  zs.avail_out = static_cast<uInt>(raw);
  int ret = Z_OK;
  while (ret == Z_OK && zs.avail_out > 0 && zs.avail_in > 0) ret = inflate(&zs, Z_NO_FLUSH);
  const std::size_t produced = raw - zs.avail_out;
  inflateEnd(&zs);
  // Whole stream, or as much as the picture holds; anything else is damage.
  const bool ok = ret == Z_STREAM_END || (ret == Z_OK && zs.avail_out == 0);
  if (!ok) return false;
  std::memcpy(target.Data(), scratch.data(), produced);
  return true;
}

std::vector<std::uint8_t> DeflatePicture(const TPicture& picture) {
  uLongf size = compressBound(static_cast<uLong>(picture.SizeBytes()));
  std::vector<std::uint8_t> out(size);
  if (compress(out.data(), &size, picture.Data(), static_cast<uLong>(picture.SizeBytes())) != Z_OK)
    return {};
  out.resize(size);
  return out;
}

}  // namespace zv
