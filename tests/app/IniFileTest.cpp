#include <gtest/gtest.h>

#include "app/IniFile.h"
#include "app/Text.h"
#include "support/TempDir.h"

namespace zv {
namespace {

TEST(IniFile, ReadsWithDefaultsQuotesAndNumbers) {
  IniFile ini;
  ini.LoadFromText(
      "; comment\r\n[Main]\r\nServerMode=1\r\nName=\"quoted\"\r\nHalf=\"open\r\n"
      "N= 42 \r\nHex=$1F\r\nBad=12a\r\n[main2]\r\nx=y\r\n");
  EXPECT_EQ(ini.ReadString("Main", "ServerMode", "0"), "1");
  EXPECT_EQ(ini.ReadString("MAIN", "servermode", "0"), "1");  // names ignore case
  EXPECT_EQ(ini.ReadString("Main", "Name", ""), "quoted");    // one pair stripped
  EXPECT_EQ(ini.ReadString("Main", "Half", ""), "\"open");
  EXPECT_EQ(ini.ReadString("Main", "Missing", "def"), "def");
  EXPECT_EQ(ini.ReadInteger("Main", "N", 0), 42);
  EXPECT_EQ(ini.ReadInteger("Main", "Hex", 0), 31);
  EXPECT_EQ(ini.ReadInteger("Main", "Bad", 7), 7);
  EXPECT_EQ(ini.ReadInteger("Nope", "N", -1), -1);
}

TEST(IniFile, WritesInPlaceKeepingEverythingElse) {
  IniFile ini;
  const std::string text = "; top comment\r\n[A]\r\nx=1\r\n; inner\r\ny=2\r\n\r\n[B]\r\nz=3\r\n";
  ini.LoadFromText(text);
  ini.WriteString("A", "x", "10");
  ini.WriteString("A", "new", "v");
  ini.WriteString("C", "k", "w");
  EXPECT_EQ(ini.ToText(),
            "; top comment\r\n[A]\r\nx=10\r\n; "
            "inner\r\ny=2\r\nnew=v\r\n\r\n[B]\r\nz=3\r\n[C]\r\nk=w\r\n");
  // A line break in a value can't start a new key.
  ini.WriteString("B", "z", "a\nevil=1");
  EXPECT_FALSE(ini.HasKey("B", "evil"));
  IniFile again;
  again.LoadFromText(ini.ToText());
  EXPECT_FALSE(again.HasKey("B", "evil"));
}

TEST(IniFile, FreeTextSurvivesTheQuoteStripping) {
  IniFile ini;
  for (const std::string v : {"\"Ромашка\"", " padded ", "ООО \"Ромашка\"", "", "a,b"}) {
    ini.WriteText("S", "k", v);
    IniFile back;
    back.LoadFromText(ini.ToText());
    EXPECT_EQ(back.ReadString("S", "k", "?"), v);
  }
}

TEST(IniFile, ListsSurviveCommasQuotesAndBlanks) {
  const std::vector<std::string> items = {"В/камера1",  "с пробелом", "a,b",
                                          "say \"hi\"", "",           "\"\""};
  IniFile ini;
  ini.WriteString("S", "L", JoinQuotedList(items));
  IniFile back;
  back.LoadFromText(ini.ToText());
  EXPECT_EQ(SplitQuotedList("\"" + back.ReadString("S", "L", "") + "\""), items);
}

TEST(IniFile, SavesAtomicallyAndReadsWindows1251) {
  test::TempDir dir;
  const std::string path = dir.file("x.ini");
  test::WriteFile(path, Utf8ToCp1251("[Object1]\r\nName=Склад №2\r\n"));
  IniFile ini(path);
  ASSERT_TRUE(ini.Load());
  EXPECT_TRUE(ini.WasCp1251());
  EXPECT_EQ(ini.ReadString("Object1", "Name", ""), "Склад №2");
  ASSERT_TRUE(ini.Save());
  EXPECT_EQ(test::ReadFile(path), "[Object1]\r\nName=Склад №2\r\n");  // now UTF-8
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

  IniFile bad(dir.file("no/such/dir/x.ini"));
  bad.WriteString("a", "b", "c");
  EXPECT_FALSE(bad.Save());
}

TEST(IniFile, ByteOrderMarksBeforeTheFirstSectionAreDropped) {
  // One mark, and two (an editor that added one to a file that had one), in
  // UTF-8 and before Windows-1251 text: the first section is always found.
  const std::string bom = "\xEF\xBB\xBF";
  for (const std::string& text :
       {bom + "[Main]\r\nServerMode=1\r\n", bom + bom + "[Main]\r\nServerMode=1\r\n",
        bom + bom + Utf8ToCp1251("[Main]\r\nServerMode=1\r\nИмя=Склад\r\n")}) {
    IniFile ini;
    ini.LoadFromBytes(text);
    EXPECT_EQ(ini.ReadString("Main", "ServerMode", "0"), "1");
    EXPECT_EQ(ini.ToText().rfind("[Main]", 0), 0u);  // written without a mark
  }
}

}  // namespace
}  // namespace zv
