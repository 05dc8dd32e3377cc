// JPEG and zlib coding of pictures, including damaged data.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "detect/PictureCodec.h"

namespace zv {
namespace {

// Top half (as seen on screen) red, bottom half blue, with a soft gradient.
TPicture TestPicture(int w, int h) {
  TPicture p(w, h);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = p.ScreenRow(y);
    for (int x = 0; x < w; ++x) {
      const bool top = y < h / 2;
      row[3 * x + 0] = top ? 20 : 220;                          // blue
      row[3 * x + 1] = static_cast<std::uint8_t>(x * 255 / w);  // green
      row[3 * x + 2] = top ? 220 : 20;                          // red
    }
  }
  return p;
}

double MeanError(const TPicture& a, const TPicture& b) {
  double sum = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width() * 3; ++x) sum += std::abs(a.StoredRow(y)[x] - b.StoredRow(y)[x]);
  return sum / (a.Width() * a.Height() * 3.0);
}

TEST(JpegCodec, ColourRoundTripKeepsOrientation) {
  JpegCodec codec;
  const TPicture pic = TestPicture(352, 288);
  auto jpeg = codec.EncodePicture(pic, 90, true);
  ASSERT_FALSE(jpeg.empty()) << codec.LastError();
  EXPECT_EQ(jpeg[0], 0xFF);
  EXPECT_EQ(jpeg[1], 0xD8);
  const std::vector<std::uint8_t> copy(jpeg.begin(), jpeg.end());
  TPicture out;
  ASSERT_TRUE(codec.DecodePicture(out, copy.data(), copy.size(), true)) << codec.LastError();
  ASSERT_EQ(out.Width(), 352);
  ASSERT_EQ(out.Height(), 288);
  EXPECT_LT(MeanError(pic, out), 6.0);
  // The top screen row is red, the bottom one blue.
  EXPECT_GT(out.ScreenRow(0)[2], 180);
  EXPECT_LT(out.ScreenRow(0)[0], 60);
  EXPECT_GT(out.ScreenRow(287)[0], 180);

  // Quality changes the size; the output block is reused between calls.
  const std::uint8_t* block = codec.EncodePicture(pic, 95, true).data();
  const std::size_t big = codec.EncodePicture(pic, 95, true).size();
  EXPECT_EQ(codec.EncodePicture(pic, 10, true).data(), block);
  EXPECT_LT(codec.EncodePicture(pic, 10, true).size(), big);
  EXPECT_FALSE(codec.EncodePicture(pic, 500, true).empty());  // limited to 100
  EXPECT_TRUE(codec.EncodePicture(TPicture(), 60, true).empty());
}

TEST(JpegCodec, GreyscaleRoundTrip) {
  JpegCodec codec;
  const TPicture pic = TestPicture(101, 37);  // odd size, padded rows
  auto span = codec.EncodePicture(pic, 80, false);
  ASSERT_FALSE(span.empty());
  const std::vector<std::uint8_t> grey(span.begin(), span.end());
  const std::vector<std::uint8_t> colour = [&] {
    auto s = codec.EncodePicture(pic, 80, true);
    return std::vector<std::uint8_t>(s.begin(), s.end());
  }();
  EXPECT_LT(grey.size(), colour.size());
  for (const auto* data : {&grey, &colour}) {
    TPicture out;
    ASSERT_TRUE(codec.DecodePicture(out, data->data(), data->size(), false));
    ASSERT_EQ(out.Width(), 101);
    for (int y = 0; y < out.Height(); ++y)
      for (int x = 0; x < out.Width(); ++x) {
        const std::uint8_t* px = out.StoredRow(y) + 3 * x;
        ASSERT_EQ(px[0], px[1]);
        ASSERT_EQ(px[1], px[2]);
      }
    // Red 220 over blue 20 is brighter than blue 220 over red 20.
    EXPECT_GT(out.ScreenRow(0)[50], out.ScreenRow(36)[50]);
  }
  // A greyscale JPEG shown on a colour camera stays grey.
  TPicture out;
  ASSERT_TRUE(codec.DecodePicture(out, grey.data(), grey.size(), true));
  EXPECT_EQ(out.ScreenRow(5)[0], out.ScreenRow(5)[2]);
}

TEST(JpegCodec, DamagedDataFailsAndLeavesThePictureAlone) {
  JpegCodec codec;
  const TPicture pic = TestPicture(160, 120);
  auto s = codec.EncodePicture(pic, 60, true);
  const std::vector<std::uint8_t> jpeg(s.begin(), s.end());
  TPicture target = TestPicture(160, 120);
  std::fill(target.Bytes().begin(), target.Bytes().begin() + 100, 7);
  const TPicture before = target;

  EXPECT_FALSE(codec.DecodePicture(target, jpeg.data(), jpeg.size() / 2, true));  // truncated
  EXPECT_TRUE(target == before);
  EXPECT_FALSE(codec.DecodePicture(target, jpeg.data(), 0, true));
  EXPECT_FALSE(codec.DecodePicture(target, nullptr, 10, true));
  std::mt19937 rng(5);
  std::vector<std::uint8_t> junk(5000);
  for (auto& b : junk) b = static_cast<std::uint8_t>(rng());
  EXPECT_FALSE(codec.DecodePicture(target, junk.data(), junk.size(), true));
  junk[0] = 0xFF, junk[1] = 0xD8;  // a JPEG start followed by noise
  EXPECT_FALSE(codec.DecodePicture(target, junk.data(), junk.size(), true));
  EXPECT_TRUE(target == before);
  // Damage in the middle: may decode or fail, but never crashes, and the
  // picture keeps its size.
  for (int round = 0; round < 200; ++round) {
    std::vector<std::uint8_t> bad = jpeg;
    for (int k = 0; k < 4; ++k)
      bad[rng() % bad.size()] ^= static_cast<std::uint8_t>(1 + rng() % 255);
    bad.resize(rng() % 4 == 0 ? rng() % bad.size() : bad.size());
    codec.DecodePicture(target, bad.data(), bad.size(), round % 2 == 0);
    ASSERT_EQ(target.Width(), 160);
    ASSERT_EQ(target.Height(), 120);
  }
  // The codec still works afterwards.
  TPicture out;
  EXPECT_TRUE(codec.DecodePicture(out, jpeg.data(), jpeg.size(), true)) << codec.LastError();
}

TEST(JpegCodec, OtherSizeIsDrawnAtTheTopLeft) {
  JpegCodec codec;
  auto s = codec.EncodePicture(TestPicture(64, 32), 90, true);
  const std::vector<std::uint8_t> jpeg(s.begin(), s.end());
  TPicture target(100, 100);
  ASSERT_TRUE(codec.DecodePicture(target, jpeg.data(), jpeg.size(), true));
  EXPECT_EQ(target.Width(), 100);
  EXPECT_GT(target.ScreenRow(0)[2], 180);     // red top of the small picture
  EXPECT_GT(target.ScreenRow(31)[0], 180);    // its blue bottom row
  EXPECT_EQ(target.ScreenRow(32)[0], 0);      // below it: untouched
  EXPECT_EQ(target.ScreenRow(0)[64 * 3], 0);  // right of it: untouched
}

TEST(InflatePicture, RoundTripAndDamage) {
  const TPicture pic = TestPicture(352, 288);
  const std::vector<std::uint8_t> z = DeflatePicture(pic);
  ASSERT_FALSE(z.empty());
  std::vector<std::uint8_t> scratch;
  TPicture out(352, 288);
  ASSERT_TRUE(InflatePicture(out, z.data(), z.size(), scratch));
  EXPECT_TRUE(out == pic);

  TPicture target(352, 288);
  const TPicture before = target;
  EXPECT_FALSE(InflatePicture(target, z.data(), z.size() / 2, scratch));  // truncated
  std::vector<std::uint8_t> bad = z;
  bad[bad.size() / 2] ^= 0xFF;
  bad[bad.size() / 2 + 1] ^= 0x55;
  InflatePicture(target, bad.data(), bad.size(), scratch);  // detected by the checksum or not
  std::vector<std::uint8_t> junk(1000, 0xAB);
  EXPECT_FALSE(InflatePicture(target, junk.data(), junk.size(), scratch));
  target = before;
  EXPECT_FALSE(InflatePicture(target, z.data(), 10, scratch));
  EXPECT_TRUE(target == before);

  // A larger stream fills only what the picture holds.
  TPicture small(10, 10);
  EXPECT_TRUE(InflatePicture(small, z.data(), z.size(), scratch));
  EXPECT_EQ(0, std::memcmp(small.Data(), pic.Data(), small.SizeBytes()));
}

}  // namespace
}  // namespace zv
