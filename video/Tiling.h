#pragma once
// Geometry of the camera area: how the views are tiled in the view panel,
// and where the 20 x 16 detection zones lie in a frame and on a view.
#include <vector>

#include "app/Zones.h"

namespace zv {

struct ViewRect {
  int left = 0, top = 0, width = 0, height = 0;
  bool operator==(const ViewRect&) const = default;
};

// One camera slot as the tiling sees it.
struct TileSlot {
  bool exists = false;
  bool visible = true;
  bool expanded = false;
};

struct TileResult {
  enum class Placement { Unchanged, Placed, Hidden };
  std::vector<Placement> placement;  // per slot
  std::vector<ViewRect> rect;        // Placed: the view's rectangle
  int hiddenTop = 0;                 // Hidden: moved below the panel to this top
};

// Tiles the views of slots (index 0 = camera 1) in a panel of
// panelWidth x panelHeight for frames of frameWidth x frameHeight.  Returns
// an empty result when camera 1 doesn't exist.
TileResult TileViews(int panelWidth, int panelHeight, int frameWidth, int frameHeight,
                     const std::vector<TileSlot>& slots);

// The screen rectangles of the zones for a view of width x height.
void ScreenZoneGeometry(int width, int height, ZoneRect (&out)[ZoneGrid::kCols][ZoneGrid::kRows]);

// The zone under view point (x, y) of a width x height view.
inline void ZoneAt(int x, int y, int width, int height, int& col, int& row) {
  col = width > 0 ? x * ZoneGrid::kCols / width : 0;
  row = height > 0 ? y * ZoneGrid::kRows / height : 0;
}

}  // namespace zv
