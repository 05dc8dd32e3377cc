#include "video/Tiling.h"

namespace zv {

TileResult TileViews(int panelWidth, int panelHeight, int frameWidth, int frameHeight,
                     const std::vector<TileSlot>& slots) {
  TileResult r;
  if (slots.empty() || !slots[0].exists) return r;
  r.placement.assign(slots.size(), TileResult::Placement::Unchanged);
  r.rect.assign(slots.size(), ViewRect{});
  r.hiddenTop = panelHeight;
  const int aspect = frameWidth > 0 ? frameHeight * 1000 / frameWidth : 818;
  const int W = panelWidth - 2, H = panelHeight - 2;

  int expanded = -1;
  for (std::size_t i = 0; i < slots.size(); ++i)
    if (slots[i].exists && slots[i].expanded) {
      expanded = static_cast<int>(i);
      break;
    }
  std::vector<std::size_t> shown;
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (!slots[i].exists) continue;
    const bool placed = expanded >= 0 ? static_cast<int>(i) == expanded : slots[i].visible;
    if (placed)
      shown.push_back(i);
    else
      r.placement[i] = TileResult::Placement::Hidden;
  }
  const int count = static_cast<int>(shown.size());
  if (W < 88 || H < 60 || count == 0) return r;

  int t = W - 2;
  int u = aspect * t / 1000;
  while (t > 1 && (W / (t + 2)) * (H / (u + 2)) < count) {
    --t;
    u = aspect * t / 1000;
  }
  const int columns = W / (t + 2);
  if (columns <= 0) return r;
  for (int i = 0; i < count; ++i) {
    const std::size_t k = shown[static_cast<std::size_t>(i)];
    r.placement[k] = TileResult::Placement::Placed;
    r.rect[k] = ViewRect{(i % columns) * (t + 2) + 2, (i / columns) * (u + 2) + 2, t, u};
  }
  return r;
}

void ScreenZoneGeometry(int width, int height, ZoneRect (&out)[ZoneGrid::kCols][ZoneGrid::kRows]) {
  for (int c = 0; c < ZoneGrid::kCols; ++c)
    for (int r = 0; r < ZoneGrid::kRows; ++r) {
      ZoneRect& z = out[c][r];
      z.left = c * width / ZoneGrid::kCols;
      z.right = (c + 1) * width / ZoneGrid::kCols;
      z.top = r * height / ZoneGrid::kRows;
      z.bottom = (r + 1) * height / ZoneGrid::kRows;
    }
}

}  // namespace zv
