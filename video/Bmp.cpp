#include "video/Bmp.h"

#include <cstring>
#include <fstream>
#include <sstream>

namespace zv {

namespace {

std::uint32_t U32(const std::string& b, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}
std::uint16_t U16(const std::string& b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                    static_cast<unsigned char>(b[at + 1]) << 8);
}
void Put32(std::string& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void Put16(std::string& b, std::uint16_t v) {
  b.push_back(static_cast<char>(v & 0xFF));
  b.push_back(static_cast<char>(v >> 8));
}
bool Fail(std::string* error, const char* why) {
  if (error) *error = why;
  return false;
}

}  // namespace

bool LoadBmpFromMemory(const std::string& b, TPicture& pic, std::string* error) {
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return Fail(error, "not a bitmap file");
  const std::uint32_t dataOffset = U32(b, 10);
  const std::uint32_t headerSize = U32(b, 14);
  if (headerSize < 40 || 14ull + headerSize > b.size()) return Fail(error, "unsupported header");
  const std::int32_t width = static_cast<std::int32_t>(U32(b, 18));
  const std::int32_t rawHeight = static_cast<std::int32_t>(U32(b, 22));
  const std::uint16_t bits = U16(b, 28);
  const std::uint32_t compression = U32(b, 30);
  std::uint32_t colours = U32(b, 46);
  if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN || width > 16384)
    return Fail(error, "bad size");
  const bool topDown = rawHeight < 0;
  const int height = topDown ? -rawHeight : rawHeight;
  if (height > 16384) return Fail(error, "bad size");
  // BI_RGB, or BI_BITFIELDS with the usual masks for 16 and 32 bits.
  if (compression != 0 && !(compression == 3 && (bits == 16 || bits == 32)))
    return Fail(error, "compressed bitmaps are not supported");
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    return Fail(error, "unsupported bit depth");
  const std::size_t rowBytes = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
  if (dataOffset > b.size() || rowBytes * height > b.size() - dataOffset)
    return Fail(error, "truncated bitmap");
  std::uint8_t palette[256][3] = {};
  if (bits <= 8) {
    if (colours == 0 || colours > (1u << bits)) colours = 1u << bits;
    const std::size_t palAt = 14 + headerSize;
    if (palAt + 4ull * colours > dataOffset) return Fail(error, "truncated colour table");
    for (std::uint32_t i = 0; i < colours; ++i)
      for (int c = 0; c < 3; ++c)
        palette[i][c] = static_cast<std::uint8_t>(b[palAt + 4 * i + static_cast<std::size_t>(c)]);
  }
  TPicture out(width, height);
  for (int y = 0; y < height; ++y) {
    // Stored row y of the file, counted from the bottom for a bottom-up file.
    const unsigned char* src =
        reinterpret_cast<const unsigned char*>(b.data()) + dataOffset + rowBytes * y;
    std::uint8_t* dst = topDown ? out.ScreenRow(y) : out.StoredRow(y);
    for (int x = 0; x < width; ++x) {
      std::uint8_t* px = dst + 3 * x;
      switch (bits) {
        case 24:
          std::memcpy(px, src + 3 * x, 3);
          break;
        case 32:
          std::memcpy(px, src + 4 * x, 3);
          break;
        case 16: {
          const unsigned v = src[2 * x] | src[2 * x + 1] << 8;
          px[0] = static_cast<std::uint8_t>((v & 0x1F) << 3);
          px[1] = static_cast<std::uint8_t>(((v >> 5) & 0x1F) << 3);
          px[2] = static_cast<std::uint8_t>(((v >> 10) & 0x1F) << 3);
          break;
        }
        default: {
          const int perByte = 8 / bits;
          const unsigned byte = src[x / perByte];
          const int shift = 8 - bits * (x % perByte + 1);
          const unsigned idx = (byte >> shift) & ((1u << bits) - 1);
          std::memcpy(px, palette[idx], 3);
        }
      }
    }
  }
  pic = std::move(out);
  return true;
}

bool LoadBmp(const std::string& path, TPicture& pic, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(error, "cannot open the file");
  std::ostringstream ss;
  ss << in.rdbuf();
  return LoadBmpFromMemory(ss.str(), pic, error);
}

std::string EncodeBmp(const TPicture& pic) {
  std::string b;
  const std::uint32_t image = static_cast<std::uint32_t>(pic.SizeBytes());
  b += "BM";
  Put32(b, 54 + image);
  Put32(b, 0);
  Put32(b, 54);
  Put32(b, 40);
  Put32(b, static_cast<std::uint32_t>(pic.Width()));
  Put32(b, static_cast<std::uint32_t>(pic.Height()));
  Put16(b, 1);
  Put16(b, 24);
  Put32(b, 0);
  Put32(b, image);
  Put32(b, 2835);
  Put32(b, 2835);
  Put32(b, 0);
  Put32(b, 0);
  b.append(reinterpret_cast<const char*>(pic.Data()), pic.SizeBytes());
  return b;
}

bool SaveBmp(const std::string& path, const TPicture& pic) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  const std::string b = EncodeBmp(pic);
  out.write(b.data(), static_cast<std::streamsize>(b.size()));
  return static_cast<bool>(out.flush());
}

}  // namespace zv
