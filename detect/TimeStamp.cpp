#include "detect/TimeStamp.h"

#include <cstdint>

namespace zv {

namespace {

// Rows top to bottom, bit 4 the leftmost column.
const std::uint8_t* Glyph(char c) {
  static const std::uint8_t kDigits[10][7] = {
      {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
      {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
      {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
      {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
      {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}};
  static const std::uint8_t kDot[7] = {0, 0, 0, 0, 0, 0x0C, 0x0C};
  static const std::uint8_t kColon[7] = {0, 0x0C, 0x0C, 0, 0x0C, 0x0C, 0};
  static const std::uint8_t kDash[7] = {0, 0, 0, 0x1F, 0, 0, 0};
  static const std::uint8_t kSlash[7] = {0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x10};
  static const std::uint8_t kBlank[7] = {};
  if (c >= '0' && c <= '9') return kDigits[c - '0'];
  switch (c) {
    case '.':
      return kDot;
    case ':':
      return kColon;
    case '-':
      return kDash;
    case '/':
      return kSlash;
    default:
      return kBlank;
  }
}

}  // namespace

int StampTextWidth(const std::string& text) {
  if (text.empty()) return 0;
  return static_cast<int>(text.size()) * (kStampGlyphWidth + kStampGap) - kStampGap;
}

void DrawTimeStamp(TPicture& picture, const std::string& text) {
  const int w = picture.Width(), h = picture.Height();
  int x0 = w - 2 - StampTextWidth(text);
  const int y0 = 2;
  for (char c : text) {
    const std::uint8_t* g = Glyph(c);
    for (int row = 0; row < kStampGlyphHeight; ++row) {
      const int y = y0 + row;
      if (y < 0 || y >= h) continue;
      std::uint8_t* line = picture.ScreenRow(y);
      for (int col = 0; col < kStampGlyphWidth; ++col) {
        const int x = x0 + col;
        if (x < 0 || x >= w || !(g[row] & (0x10 >> col))) continue;
        line[x * 3] = 0;        // blue
        line[x * 3 + 1] = 128;  // green
        line[x * 3 + 2] = 0;    // red
      }
    }
    x0 += kStampGlyphWidth + kStampGap;
  }
}

}  // namespace zv
