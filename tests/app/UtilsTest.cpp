#include <gtest/gtest.h>

#include "app/Text.h"
#include "app/Utils.h"
#include "support/FakePlatform.h"

namespace zv {
namespace {

using Note = test::FakeSpeaker::Note;

std::vector<std::pair<unsigned, unsigned>> Beeps(const test::FakeSpeaker& s) {
  std::vector<std::pair<unsigned, unsigned>> out;
  for (const Note& n : s.beeps) out.emplace_back(n.hz, n.ms);
  return out;
}

TEST(Tone, ClampsFrequencyAndDurationOnBothPaths) {
  test::FakeLoop loop;
  Tone(loop.services, 5, 20000);
  EXPECT_EQ(Beeps(loop.speaker), (std::vector<std::pair<unsigned, unsigned>>{{19, 10000}}));
  EXPECT_EQ(loop.clock.sleptMs, 10000u);

  // Direct access: the tone generator is set, the caller waits, then silence.
  loop.speaker.direct = true;
  loop.clock.sleptMs = 0;
  Tone(loop.services, 1000, 50);
  ASSERT_EQ(loop.speaker.directTones.size(), 2u);
  // divisor 1193000 div 1000 = 1193; the chip sounds 1193182 / 1193.
  EXPECT_EQ(loop.speaker.directTones[0], 1000u);
  EXPECT_EQ(loop.speaker.directTones[1], 0u);
  EXPECT_EQ(loop.clock.sleptMs, 50u);
  EXPECT_TRUE(IsWin9x(loop.services));
}

TEST(BeepPattern, PlaysNotesAndSkipsBadOnes) {
  using V = std::vector<std::pair<unsigned, unsigned>>;
  auto play = [](const char* pattern) {
    test::FakeLoop loop;
    PlayBeepPattern(loop.services, pattern);
    return Beeps(loop.speaker);
  };
  const V gs{{79, 50}, {2161, 200}};
  EXPECT_EQ(play("g50;s200"), gs);
  EXPECT_EQ(play("G50 S200"), gs);
  EXPECT_EQ(play("g50,,s200"), gs);
  EXPECT_EQ(play(" |g50-._/:\\s200; "), gs);
  // A lone letter and an over-long duration play nothing.
  EXPECT_EQ(play("g i50"), (V{{137, 50}}));
  EXPECT_EQ(play("g70000"), V{});
  EXPECT_EQ(play("gx5"), V{});
  // The digit 1 as a note gives 0 Hz, sounded at 19 Hz.
  EXPECT_EQ(play("1200"), (V{{19, 200}}));
  EXPECT_EQ(play("n200;d200;p200;d200"), (V{{543, 200}, {34, 200}, {944, 200}, {34, 200}}));
}

TEST(BeepPattern, NoteTable) {
  const long expected[] = {15,   20,   26,   34,   45,   60,   79,    104,  137,
                           180,  237,  313,  412,  543,  716,  944,   1244, 1639,
                           2161, 2848, 3753, 4947, 6520, 8593, 11326, 14927};
  for (int i = 0; i < 26; ++i) EXPECT_EQ(NoteFrequency('A' + i), expected[i]) << char('A' + i);
}

TEST(Formatting, PadNumberChooseAndRounding) {
  EXPECT_EQ(PadNumber(7, 3), "  7");
  EXPECT_EQ(PadNumber(98765, 4), "98765");
  EXPECT_EQ(PadNumber(-3, 4), "  -3");
  EXPECT_EQ(Choose(true, "1", "0"), "1");
  EXPECT_EQ(Choose(false, 'P', 'T'), 'T');
  EXPECT_EQ(RoundHalfEven(0.5), 0);
  EXPECT_EQ(RoundHalfEven(1.5), 2);
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(0.10), 0);
}

TEST(Names, AbbreviateOnCharacters) {
  EXPECT_EQ(AbbreviateName("Прихожая"), "Пр.");
  EXPECT_EQ(AbbreviateName("Кухня"), "Кухн.");
  EXPECT_EQ(AbbreviateName("Большая комн."), "Бол.Комн");
  EXPECT_EQ(AbbreviateName("Сейф"), "Сейф");
  EXPECT_EQ(AbbreviateName(""), "");
  EXPECT_EQ(AbbreviateName("Я"), "Я");
  EXPECT_EQ(AbbreviateName("ёлка"), "Ёлк.");
  EXPECT_TRUE(IsVowel(U'Ъ'));
  EXPECT_FALSE(IsVowel(U'a'));
}

TEST(Text, EncodingsAndNumbers) {
  const std::string cp = Utf8ToCp1251("Объект №1 ёЁ");
  EXPECT_FALSE(IsValidUtf8(cp));
  EXPECT_EQ(Cp1251ToUtf8(cp), "Объект №1 ёЁ");
  EXPECT_TRUE(IsValidUtf8("Объект"));
  EXPECT_FALSE(IsValidUtf8("\xC0\x80"));  // overlong
  double d = 0;
  EXPECT_TRUE(ParseFloat("0.02", d));
  EXPECT_DOUBLE_EQ(d, 0.02);
  EXPECT_TRUE(ParseFloat("1,5", d));
  EXPECT_DOUBLE_EQ(d, 1.5);
  EXPECT_FALSE(ParseFloat("abc", d));
  EXPECT_FALSE(ParseFloat("1.5x", d));
  EXPECT_EQ(FormatFloat(0.02), "0.02");
  EXPECT_EQ(FormatFloat(100.0), "100");
}

TEST(DateTime, EncodeDecodeAndFormat) {
  const TDateTime t = EncodeDateTime({2001, 3, 5, 14, 7, 9, 0});
  EXPECT_EQ(FormatJournalTime(t), "05.03.01 14:07:09");
  EXPECT_DOUBLE_EQ(EncodeDateTime({1899, 12, 30, 0, 0, 0, 0}), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime({1900, 1, 1, 12, 0, 0, 0}), 2.5);
  const DateTimeParts p = DecodeDateTime(t + 59 * kOneSecond);
  EXPECT_EQ(p.minute, 8);
  EXPECT_EQ(p.second, 8);
}

}  // namespace
}  // namespace zv
