#pragma once
// Geometry of the live change bar on the recording page, as a pure function
// of the change level and the two thresholds.  ui/ paints it.
namespace zv {

// Rectangle by its corners, as handed to the canvas fill (right and bottom
// exclusive, as the platform's rectangle fill takes them).
struct BarRect {
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  bool operator==(const BarRect&) const = default;
};

// Height in the bar of percentage p: (H - 1) - p * (H - 2) div 100.
int BarY(long long p, int height);

struct ChangeBarGeometry {
  BarRect outline;  // white fill, black pen: (0, 0, W, H)
  BarRect level;    // black fill: (1, y(v), W - 1, H - 1)
  bool hasIgnoreFill = false;
  BarRect ignoreFill;  // navy: (1, y(v), W - 1, y(Round(ignore)))
  bool hasEventFill = false;
  BarRect eventFill;    // red: (1, y(v), W - 1, y(Round(event)))
  int eventLineY = 0;   // black line from x = 1 to W
  int ignoreLineY = 0;  // maroon line from x = 1 to W, drawn last
};

// level v; the fills appear when v >= the threshold (compared as reals).
ChangeBarGeometry ComputeChangeBar(int level, double ignorePercent, double eventPercent, int width,
                                   int height);

}  // namespace zv
