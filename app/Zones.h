#pragma once
// The 20 x 16 grid of detection zones of one camera, as the detector sees
// it: which cells take part, where each cell lies in the frame, and what the
// last measurement left in every cell.  The camera owns one of these; the
// detector only reads the flags and geometry and fills in the results.
#include <algorithm>
#include <iterator>

namespace zv {

struct ZoneRect {
  int left = 0, top = 0, right = 0, bottom = 0;
};

struct ZoneGrid {
  static constexpr int kCols = 20;
  static constexpr int kRows = 16;

  // Indexed [column][row]; column 0 at the left, row 0 at the top.
  bool on[kCols][kRows] = {};
  bool alarm[kCols][kRows] = {};
  int changes[kCols][kRows] = {};
  // Cell rectangles in frame pixels; both bounds inclusive when counting.
  ZoneRect frame[kCols][kRows] = {};
  // The frame size the rectangles were computed for.
  int frameWidth = 0;
  int frameHeight = 0;

  // Recomputes the frame rectangles for a W x H frame: left = c*W div 20,
  // right = (c+1)*W div 20, top = r*H div 16, bottom = (r+1)*H div 16.
  // Neighbouring cells share their boundary column and row.
  void UpdateFrameGeometry(int width, int height) {
    frameWidth = width;
    frameHeight = height;
    for (int c = 0; c < kCols; ++c)
      for (int r = 0; r < kRows; ++r) {
        ZoneRect& z = frame[c][r];
        z.left = c * width / kCols;
        z.right = (c + 1) * width / kCols;
        z.top = r * height / kRows;
        z.bottom = (r + 1) * height / kRows;
      }
  }

  // Forgets what the last measurement left (changes and alarm flags).
  void ClearResults() {
    for (auto& col : alarm) std::fill(std::begin(col), std::end(col), false);
    for (auto& col : changes) std::fill(std::begin(col), std::end(col), 0);
  }

  void SetAll(bool value) {
    for (auto& col : on) std::fill(std::begin(col), std::end(col), value);
  }
  int ActiveCount() const {
    int n = 0;
    for (const auto& col : on)
      for (bool b : col) n += b ? 1 : 0;
    return n;
  }
};

// The part of cell (c, r) that is counted in a picture of width x height:
// the right and bottom bounds are limited to the last column and row.
// Returns false when nothing of the cell lies inside the picture.
inline bool CountedZone(const ZoneGrid& g, int c, int r, int width, int height, ZoneRect& out) {
  const ZoneRect& z = g.frame[c][r];
  out.left = std::max(z.left, 0);
  out.top = std::max(z.top, 0);
  out.right = std::min(z.right, width - 1);
  out.bottom = std::min(z.bottom, height - 1);
  return out.left <= out.right && out.top <= out.bottom;
}

}  // namespace zv
