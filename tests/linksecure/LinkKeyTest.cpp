// Link keys: generation, their text for settings files and copy/paste, and
// that nothing but a fingerprint of a key is ever printed.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "link/secure/LinkKey.h"

namespace zv {
namespace {

TEST(LinkKeyTest, GeneratedKeysAreDistinctAndSurviveTheirTextForms) {
  std::set<std::string> texts;
  for (int i = 0; i < 20; ++i) {
    const LinkKey k = LinkKey::Generate();
    ASSERT_FALSE(k.Empty());
    const std::string text = k.ToText();
    ASSERT_EQ(text.size(), 64u);
    texts.insert(text);
    LinkKey back;
    ASSERT_EQ(LinkKey::Parse(text, back), KeyTextError::Ok);
    EXPECT_EQ(back, k);
    LinkKey grouped;
    ASSERT_EQ(LinkKey::Parse(k.ToGroupedText(), grouped), KeyTextError::Ok);
    EXPECT_EQ(grouped, k);
  }
  EXPECT_EQ(texts.size(), 20u);
  EXPECT_TRUE(LinkKey().ToText().empty());
  EXPECT_NE(LinkKey(), LinkKey::Generate());
}

TEST(LinkKeyTest, TextIsReadTolerantOfLayoutAndStrictOnDigits) {
  const std::string hex = "00112233445566778899aabbccddeeff0123456789ABCDEFfedcba9876543210";
  LinkKey k;
  ASSERT_EQ(LinkKey::Parse(hex, k), KeyTextError::Ok);
  EXPECT_EQ(k.ToText(), "00112233445566778899aabbccddeeff0123456789abcdeffedcba9876543210");
  // Grouped, with other separators, as read over the phone or pasted.
  LinkKey same;
  ASSERT_EQ(LinkKey::Parse(" 0011-2233 4455:6677\t8899.AABB ccdd eeff 0123 4567 89ab cdef fedc "
                           "ba98 7654 3210\r\n",
                           same),
            KeyTextError::Ok);
  EXPECT_EQ(same, k);

  // A wrong text leaves the key as it was.
  LinkKey kept = k;
  EXPECT_EQ(LinkKey::Parse("", kept), KeyTextError::Empty);
  EXPECT_EQ(LinkKey::Parse("  - ", kept), KeyTextError::Empty);
  EXPECT_EQ(LinkKey::Parse(hex.substr(1), kept), KeyTextError::WrongLength);
  EXPECT_EQ(LinkKey::Parse(hex + "0", kept), KeyTextError::WrongLength);
  EXPECT_EQ(LinkKey::Parse(hex + hex, kept), KeyTextError::WrongLength);
  EXPECT_EQ(LinkKey::Parse(hex.substr(0, 63) + "g", kept), KeyTextError::BadCharacter);
  EXPECT_EQ(LinkKey::Parse("0x" + hex.substr(2), kept), KeyTextError::BadCharacter);
  EXPECT_EQ(LinkKey::Parse(std::string(64, '0'), kept), KeyTextError::AllZero);
  EXPECT_EQ(kept, k);
  for (auto e : {KeyTextError::Empty, KeyTextError::BadCharacter, KeyTextError::WrongLength,
                 KeyTextError::AllZero})
    EXPECT_FALSE(LinkKey::ErrorText(e).empty());
}

TEST(LinkKeyTest, OnlyAFingerprintIsEverShown) {
  const LinkKey a = LinkKey::Generate(), b = LinkKey::Generate();
  const std::string fa = a.Fingerprint();
  ASSERT_EQ(fa.size(), 9u);
  EXPECT_EQ(fa[0], '#');
  EXPECT_EQ(fa, LinkKey(a).Fingerprint());
  EXPECT_NE(fa, b.Fingerprint());
  // Not a piece of the key's own text.
  EXPECT_EQ(a.ToText().find(fa.substr(1)), std::string::npos);
  EXPECT_TRUE(LinkKey().Fingerprint().empty());

  std::ostringstream os;
  PrintTo(a, &os);
  EXPECT_NE(os.str().find(fa), std::string::npos);
  EXPECT_EQ(os.str().find(a.ToText().substr(0, 8)), std::string::npos);
}

}  // namespace
}  // namespace zv
