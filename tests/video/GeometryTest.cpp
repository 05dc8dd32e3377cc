// Tiling of the views, zone geometry, overlay geometry and bitmap files.
#include <gtest/gtest.h>

#include "support/TempDir.h"
#include "video/Bmp.h"
#include "video/Camera.h"
#include "video/Tiling.h"

namespace zv::test {
namespace {

using P = TileResult::Placement;

std::vector<TileSlot> Slots(int n) {
  return std::vector<TileSlot>(n, TileSlot{true, true, false});
}

TEST(TilingTest, FourCamerasAndOneCameraInA700x400Panel) {
  TileResult r = TileViews(700, 400, 352, 288, Slots(4));
  ASSERT_EQ(r.rect.size(), 4u);
  EXPECT_EQ(r.rect[0], (ViewRect{2, 2, 242, 197}));
  EXPECT_EQ(r.rect[1], (ViewRect{246, 2, 242, 197}));
  EXPECT_EQ(r.rect[2], (ViewRect{2, 201, 242, 197}));
  EXPECT_EQ(r.rect[3], (ViewRect{246, 201, 242, 197}));
  r = TileViews(700, 400, 352, 288, Slots(1));
  EXPECT_EQ(r.rect[0], (ViewRect{2, 2, 485, 396}));
  // Without a frame width the aspect is 818 per mille, as for 352 x 288.
  EXPECT_EQ(TileViews(700, 400, 0, 0, Slots(1)).rect[0], (ViewRect{2, 2, 485, 396}));
}

TEST(TilingTest, HiddenExpandedAndTooSmall) {
  auto slots = Slots(3);
  slots[1].visible = false;
  TileResult r = TileViews(700, 400, 352, 288, slots);
  EXPECT_EQ(r.placement[1], P::Hidden);
  EXPECT_EQ(r.hiddenTop, 400);
  EXPECT_EQ(r.rect[2], (ViewRect{351, 2, 347, 283}));  // two views share the panel

  slots = Slots(3);
  slots[2].expanded = true;
  r = TileViews(700, 400, 352, 288, slots);
  EXPECT_EQ(r.placement[0], P::Hidden);
  EXPECT_EQ(r.placement[2], P::Placed);
  EXPECT_EQ(r.rect[2], (ViewRect{2, 2, 485, 396}));

  // Below 90 x 62 nothing is placed, but hidden views still move away.
  slots = Slots(2);
  slots[1].visible = false;
  r = TileViews(89, 400, 352, 288, slots);
  EXPECT_EQ(r.placement[0], P::Unchanged);
  EXPECT_EQ(r.placement[1], P::Hidden);
  EXPECT_EQ(TileViews(400, 61, 352, 288, Slots(1)).placement[0], P::Unchanged);
  EXPECT_EQ(TileViews(90, 62, 352, 288, Slots(1)).placement[0], P::Placed);
  // No camera 1: nothing at all.
  slots = Slots(2);
  slots[0].exists = false;
  EXPECT_TRUE(TileViews(700, 400, 352, 288, slots).placement.empty());
}

TEST(TilingTest, EightCamerasFitAndNeverOverlap) {
  for (int w : {90, 200, 799, 1600})
    for (int h : {62, 150, 480, 1000}) {
      const TileResult r = TileViews(w, h, 352, 288, Slots(8));
      for (int i = 0; i < 8; ++i) {
        const ViewRect& a = r.rect[i];
        EXPECT_LE(a.left + a.width, w) << w << "x" << h;
        EXPECT_LE(a.top + a.height, h) << w << "x" << h;
        for (int j = i + 1; j < 8; ++j) {
          const ViewRect& b = r.rect[j];
          const bool apart = a.left + a.width <= b.left || b.left + b.width <= a.left ||
                             a.top + a.height <= b.top || b.top + b.height <= a.top;
          EXPECT_TRUE(apart) << w << "x" << h << " " << i << "," << j;
        }
      }
    }
}

TEST(ZoneGeometryTest, ScreenAndFrameRectangles) {
  ZoneRect s[ZoneGrid::kCols][ZoneGrid::kRows];
  ScreenZoneGeometry(242, 197, s);
  EXPECT_EQ(s[0][0].left, 0);
  EXPECT_EQ(s[0][0].right, 12);  // 242 div 20
  EXPECT_EQ(s[1][0].right, 24);  // 484 div 20
  EXPECT_EQ(s[0][1].top, 12);    // 197 div 16
  EXPECT_EQ(s[19][15].right, 242);
  EXPECT_EQ(s[19][15].bottom, 197);
  int c, r;
  ZoneAt(241, 196, 242, 197, c, r);
  EXPECT_EQ(c, 19);
  EXPECT_EQ(r, 15);
  ZoneAt(12, 12, 242, 197, c, r);
  EXPECT_EQ(c, 0);  // 240 div 242
  EXPECT_EQ(r, 0);
}

TEST(OverlayGeometryTest, RectangleSidesCrossesColoursAndSaveNames) {
  // s x 2s is p % of w * h: 1 % of 400 x 200 is 800 = 20 x 40.
  EXPECT_EQ(OverlaySide(1.0, 400, 200), 20);
  EXPECT_EQ(OverlaySide(0.01, 352, 288), 2);  // sqrt(5.06)
  EXPECT_EQ(OverlaySide(0.0, 352, 288), 0);
  EXPECT_EQ(OverlaySide(-3.0, 352, 288), 0);
  const CrossLines x = ZoneCross(ZoneRect{10, 20, 22, 32});
  EXPECT_EQ(x.ax1, 13);  // cx = (10 + 22 - 1) div 2 = 15
  EXPECT_EQ(x.ay1, 23);  // cy = 25
  EXPECT_EQ(x.ax2, 18);
  EXPECT_EQ(x.by2, 28);
  EXPECT_EQ(x.bx2, 12);
  EXPECT_EQ(ObjectColor(0), 0x000000u);
  EXPECT_EQ(ObjectColor(9), 0x0000FFu);
  EXPECT_EQ(ObjectColor(23), 0xFF00FFu);
  EXPECT_EQ(ObjectColor(-1), 0xFF00FFu);  // never outside the table
  EXPECT_EQ(SaveFrameFileName("/tmp/frame"), "/tmp/frame.bmp");
  EXPECT_EQ(SaveFrameFileName("/tmp/frame.png"), "/tmp/frame.png");
  EXPECT_EQ(SaveFrameFileName("/tmp/a.b/frame"), "/tmp/a.b/frame");
}

TEST(BmpTest, TwentyFourBitRoundTripAndOtherKinds) {
  TempDir dir;
  TPicture p(5, 3);  // 15 bytes a row, padded to 16
  for (std::size_t i = 0; i < p.SizeBytes(); ++i) p.Data()[i] = static_cast<std::uint8_t>(i * 7);
  for (int y = 0; y < 3; ++y) p.StoredRow(y)[15] = 0;
  ASSERT_TRUE(SaveBmp(dir.file("p.bmp"), p));
  TPicture q;
  ASSERT_TRUE(LoadBmp(dir.file("p.bmp"), q));
  EXPECT_EQ(q, p);

  // An 8-bit, top-down picture with a colour table: 2 x 2.
  std::string b = EncodeBmp(TPicture(1, 1)).substr(0, 54);
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  put32(10, 54 + 8);                          // pixels after two palette entries
  put32(18, 2);                               // width
  put32(22, static_cast<std::uint32_t>(-2));  // top-down
  b[28] = 8;
  b[29] = 0;
  put32(46, 2);  // colours used
  b += std::string("\x10\x20\x30\x00\xA0\xB0\xC0\x00", 8);
  b += std::string("\x00\x01\x00\x00\x01\x01\x00\x00", 8);  // rows of 4 bytes
  TPicture r;
  std::string why;
  ASSERT_TRUE(LoadBmpFromMemory(b, r, &why)) << why;
  EXPECT_EQ(r.ScreenRow(0)[0], 0x10);  // top-left: colour 0
  EXPECT_EQ(r.ScreenRow(0)[3], 0xA0);  // top-right: colour 1
  EXPECT_EQ(r.ScreenRow(1)[2], 0xC0);  // bottom-left: colour 1
  // Truncated and foreign files are refused.
  EXPECT_FALSE(LoadBmpFromMemory(b.substr(0, b.size() - 3), r, &why));
  EXPECT_FALSE(LoadBmpFromMemory("GIF89a" + std::string(100, '\0'), r, &why));
  EXPECT_FALSE(LoadBmp(dir.file("missing.bmp"), r, &why));
}

}  // namespace
}  // namespace zv::test
