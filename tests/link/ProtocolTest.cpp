// The framed messages, the receive assembler and the modem picture stream.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/Protocol.h"

namespace zv {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Picture(std::size_t payload, std::uint8_t cam, std::uint8_t seed) {
  Bytes m = BuildHeader(static_cast<std::int32_t>(payload + 19), link::mtPicture, 7, cam, 0xFF, 0);
  for (std::size_t i = 0; i < payload; ++i) m.push_back(static_cast<std::uint8_t>(seed + i * 31));
  return m;
}

struct Seen {
  std::uint8_t type, arg1, arg2, arg3;
  std::uint32_t trailer;
  Bytes payload;
};

struct AssemblerTest : ::testing::Test {
  std::vector<Seen> seen;
  LinkAssembler a{[this](const LinkMessage& m) {
    seen.push_back(
        {m.Type, m.Arg1, m.Arg2, m.Arg3, m.Trailer, Bytes(m.Payload, m.Payload + m.PayloadSize)});
  }};
  void Feed(const Bytes& b) { a.Feed(b.data(), b.size()); }
};

TEST(LinkMessageLayout, PictureAndCommandBytes) {
  // 352 x 288 at 24 bits: stride 1,056, payload 304,128, Length 304,147.
  const Bytes h = BuildHeader(304147, link::mtPicture, 3, 2, 0xFF, 0);
  ASSERT_EQ(h.size(), 19u);
  EXPECT_EQ(std::string(h.begin(), h.begin() + 6), "ZvxCmd");
  EXPECT_EQ(h[6] | h[7] << 8 | h[8] << 16 | h[9] << 24, 304147);
  EXPECT_EQ((Bytes{h[10], h[11], h[12], h[13], h[14]}), (Bytes{1, 3, 2, 0xFF, 0}));
  EXPECT_EQ((Bytes{h[15], h[16], h[17], h[18]}), (Bytes{0, 0, 0, 0}));

  const Bytes arm = BuildCommand(true, 4), disarm = BuildCommand(false, 0);
  EXPECT_EQ(arm.size(), 19u);
  EXPECT_EQ(arm[6], 19);
  EXPECT_EQ((Bytes{arm[10], arm[11], arm[12], arm[13], arm[14]}), (Bytes{2, 1, 1, 5, 0}));
  EXPECT_EQ(disarm[10], 3);
  EXPECT_EQ(disarm[13], 1);
}

TEST_F(AssemblerTest, MessageSplitOverManyReadsIsHandledOnceWhenItsLastByteArrives) {
  const Bytes m = Picture(5000, 2, 9);
  for (std::size_t i = 0; i + 1 < m.size(); i += 7) {
    const std::size_t n = std::min<std::size_t>(7, m.size() - 1 - i);
    a.Feed(m.data() + i, n);
    // Even the Length field arriving byte by byte is not taken early.
  }
  EXPECT_TRUE(seen.empty());
  a.Feed(&m.back(), 1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].arg2, 2);
  EXPECT_EQ(seen[0].payload, Bytes(m.begin() + 19, m.end()));
}

TEST_F(AssemblerTest, EveryCompleteMessageOfOneReadIsHandledAtOnce) {
  // An arm command right after a picture, and a disarm after that: none of
  // them waits for another read.
  Bytes all = Picture(100, 1, 1);
  const Bytes arm = BuildCommand(true, 0), disarm = BuildCommand(false, 0);
  all.insert(all.end(), arm.begin(), arm.end());
  all.insert(all.end(), disarm.begin(), disarm.end());
  const Bytes next = Picture(50, 3, 5);
  all.insert(all.end(), next.begin(), next.begin() + 20);  // and a part of the next
  Feed(all);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[1].type, link::mtArm);
  EXPECT_EQ(seen[1].trailer, 0u);  // a command's trailer is its reserved field
  EXPECT_EQ(seen[2].type, link::mtDisarm);
  Feed(Bytes(next.begin() + 20, next.end()));
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[3].payload, Bytes(next.begin() + 19, next.end()));
}

TEST_F(AssemblerTest, GarbageAndFalseMarkersAreSkipped) {
  Bytes all = {'x', 'Z', 'v', 'x', 0, 'Z'};
  const Bytes bad = BuildHeader(5, link::mtPicture, 0, 0, 0, 0);  // Length 5
  all.insert(all.end(), bad.begin(), bad.end());
  const Bytes huge = BuildHeader(1000000, link::mtPicture, 0, 0, 0, 0);  // above the bound
  all.insert(all.end(), huge.begin(), huge.end());
  const Bytes m = Picture(40, 4, 3);
  all.insert(all.end(), m.begin(), m.end());
  Feed(all);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].arg2, 4);
  EXPECT_EQ(seen[0].payload, Bytes(m.begin() + 19, m.end()));
}

TEST_F(AssemblerTest, EndlessGarbageStaysBoundedAndAMessageAfterItIsFound) {
  Bytes junk(300000, 'q');
  for (int i = 0; i < 10; ++i) {
    Feed(junk);
    EXPECT_LE(a.Held(), link::kGarbageLimit + junk.size());
    EXPECT_GT(a.Space(), 0u);
  }
  // A marker cut by the read boundary still counts.
  const Bytes m = Picture(64, 6, 8);
  Bytes tail(junk.begin(), junk.begin() + 1000);
  tail.insert(tail.end(), m.begin(), m.begin() + 3);
  Feed(tail);
  Feed(Bytes(m.begin() + 3, m.end()));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].arg2, 6);
}

// The buffer allocated at start-up is the one messages are collected in.
TEST_F(AssemblerTest, ABufferHandedOverAtStartUpIsUsed) {
  auto buf = std::make_unique<std::uint8_t[]>(link::kReceiveBufferSize);
  std::uint8_t* raw = buf.get();
  a.AdoptBuffer(std::move(buf));
  a.AdoptBuffer(std::make_unique<std::uint8_t[]>(link::kReceiveBufferSize));  // has one already
  EXPECT_EQ(a.WritePtr(), raw);
  Feed(BuildCommand(false, 2));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].type, link::mtDisarm);
}

TEST_F(AssemblerTest, LargestMessagesBackToBackNeverOverrunTheBuffer) {
  const Bytes big = Picture(link::kMaxLength - 19, 1, 2);
  Bytes all;
  for (int i = 0; i < 3; ++i) all.insert(all.end(), big.begin(), big.end());
  Feed(all);  // taken in pieces no larger than the room left
  EXPECT_EQ(seen.size(), 3u);
  EXPECT_LE(a.Held(), link::kReceiveBufferSize);
  Feed(BuildCommand(true, 0));
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[3].type, link::mtArm);
}

// Pictures come whole whatever the reads; where bytes were lost or added on
// the line the receiver says so once and goes on with the next picture.
TEST(ModemPictureStream, EveryCompletePictureIsTakenAndTheStreamFindsItsPlaceAgain) {
  std::vector<std::string> pictures;
  std::vector<std::uint32_t> lost;
  ModemPictureReceiver r(
      [&](const std::uint8_t* p, std::size_t n) { pictures.emplace_back(p + 3, p + n); },
      [&](std::uint32_t n) { lost.push_back(n); });
  // A picture as the site sends it: the count, then JPEG bytes.
  auto frame = [](const std::string& s) {
    const auto n = static_cast<std::uint8_t>(s.size() + 3);
    Bytes b = {n, 0, 0, 0, 0xFF, 0xD8, 0xFF};
    b.insert(b.end(), s.begin(), s.end());
    return b;
  };
  auto join = [](std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  const Bytes third = frame("third");
  const Bytes two =
      join({frame("first"), frame("second!"), Bytes(third.begin(), third.begin() + 6)});
  r.Receive(two.data(), two.size());
  EXPECT_EQ(pictures, (std::vector<std::string>{"first", "second!"}));
  r.Receive(third.data() + 6, third.size() - 6);
  EXPECT_EQ(pictures.back(), "third");
  EXPECT_EQ(r.Held(), 0u);
  EXPECT_TRUE(lost.empty());

  // An impossible count; a picture whose first bytes were lost; bytes added
  // between two pictures: each told once, and the next picture comes.
  const Bytes tooBig = {0x40, 0x42, 0x0F, 0x00, 0xFF, 0xD8, 0xFF, 1, 2, 3};  // 1,000,000
  const Bytes cut = frame("cut short");
  const Bytes stream = join({tooBig, frame("after"), Bytes(cut.begin() + 5, cut.end()),
                             frame("found"), Bytes{'+', '+', '+', '\r'}, frame("again")});
  for (std::size_t step : {stream.size(), std::size_t{1}, std::size_t{3}}) {
    pictures.clear();
    lost.clear();
    r.Reset();
    for (std::size_t i = 0; i < stream.size(); i += step)
      r.Receive(stream.data() + i, std::min(step, stream.size() - i));
    EXPECT_EQ(pictures, (std::vector<std::string>{"after", "found", "again"})) << step;
    ASSERT_EQ(lost.size(), 3u) << step;
    EXPECT_EQ(lost[0], 1000000u);
    EXPECT_EQ(r.Held(), 0u);
  }
}

}  // namespace
}  // namespace zv
