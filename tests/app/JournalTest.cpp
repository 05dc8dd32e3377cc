#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "app/Journal.h"
#include "support/FakePlatform.h"
#include "support/TempDir.h"

namespace zv {
namespace {

using test::ReadFile;
using test::WriteFile;

// 5 March 2001, 14:07:09
TDateTime March5() {
  return EncodeDateTime({2001, 3, 5, 14, 7, 9, 0});
}

std::string LastLine(const std::string& text) {
  std::string t = text;
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
  const auto pos = t.find_last_of("\r\n");
  return pos == std::string::npos ? t : t.substr(pos + 1);
}

TEST(JournalLayout, FileAndViewLinesMatchTheFixedColumns) {
  test::TempDir dir;
  test::FakeClock clock(March5());
  Journal j(clock, dir.path().string());
  WriteFile(j.LogPath(), "   11  01.01.01 00:00:00    0   0   0  0       0 x\r\n");
  j.AddJournal("Старт программы...", jkInfo);
  EXPECT_EQ(LastLine(ReadFile(j.LogPath())),
            "   12  05.03.01 14:07:09    0   0   0  0       0 Старт программы...");
  ASSERT_EQ(j.View().size(), 1u);
  EXPECT_EQ(j.View()[0].text, "   12  05.03.01 14:07:09  Старт программы...");
  EXPECT_EQ(j.View()[0].color, colors::clBlack);
  // Every file line ends with CR LF.
  const std::string all = ReadFile(j.LogPath());
  EXPECT_EQ(all.substr(all.size() - 2), "\r\n");

  j.AddJournal("Не поступил звонок", jkAlarm, jeServiceCallMissed, 17, 0, jcDispatchCall);
  EXPECT_EQ(LastLine(ReadFile(j.LogPath())),
            "   13  05.03.01 14:07:09    3   3  17  0      20 Не поступил звонок");
  EXPECT_EQ(j.View().back().color, colors::clFuchsia);
}

TEST(JournalNumbering, RestoresFromTheLastLineOfTheFile) {
  test::TempDir dir;
  test::FakeClock clock(March5());
  {
    Journal j(clock, dir.path().string());
    j.AddJournal("first", jkInfo);
    EXPECT_EQ(j.JournalNumber(), 1);  // no file before: number 1
  }
  // A last line "  417..." followed by empty lines continues at 418.
  {
    Journal j(clock, dir.path().string());
    WriteFile(j.LogPath(), "  416  x\r\n  417  05.03.01 14:07:09 line\r\n\r\n\r\n");
    j.AddJournal("next", jkInfo);
    EXPECT_EQ(j.JournalNumber(), 418);
  }
  // Only five characters are read: 100000 comes back as 10000.
  {
    Journal j(clock, dir.path().string());
    WriteFile(j.LogPath(), "100000  05.03.01 14:07:09    0   0   0  0       0 x\r\n");
    j.AddJournal("next", jkInfo);
    EXPECT_EQ(j.JournalNumber(), 10001);
  }
  // A long last line (Cyrillic text is two bytes a letter) is read from its
  // start, not from digits of its time; one past any real length restarts
  // the numbering.
  {
    Journal j(clock, dir.path().string());
    std::string text;
    for (int i = 0; i < 8; ++i) text += "Установка на охрану объекта №3(Дача) ";
    WriteFile(j.LogPath(), "   55  05.03.01 14:07:09 " + text + "\r\n");
    j.AddJournal("next", jkInfo);
    EXPECT_EQ(j.JournalNumber(), 56);
  }
  {
    Journal j(clock, dir.path().string());
    WriteFile(j.LogPath(), "   55  05.03.01 14:07:09 " + std::string(5000, 'x') + "\r\n");
    j.AddJournal("next", jkInfo);
    EXPECT_EQ(j.JournalNumber(), 1);
  }
}

TEST(JournalNumbering, GrowsPastFiveDigitsWithinARun) {
  test::TempDir dir;
  test::FakeClock clock(March5());
  Journal j(clock, dir.path().string());
  WriteFile(j.LogPath(), "99998  x\r\n");
  j.AddJournal("a", jkInfo);
  j.AddJournal("b", jkInfo);
  EXPECT_EQ(j.View()[0].text.substr(0, 7), "99999  ");
  EXPECT_EQ(j.View()[1].text.substr(0, 8), "100000  ");
  EXPECT_EQ(j.View()[1].text.size(), j.View()[0].text.size() + 1);
}

TEST(JournalRotation, RotatesOnlyAboveTheLimitAndKeepsOneBackup) {
  test::TempDir dir;
  test::FakeClock clock(March5());
  Journal j(clock, dir.path().string());
  WriteFile(j.BackupPath(), "old backup");
  {
    std::ofstream f(j.LogPath(), std::ios::binary);
    // Whole lines, as the journal writes them.
    f << std::string(Journal::kRotateSize - 2, 'a') << "\r\n";
  }
  j.AddJournal("at the limit", jkInfo);
  EXPECT_EQ(ReadFile(j.BackupPath()), "old backup");
  // The file is now over the limit: the next entry rotates it.
  j.AddJournal("past the limit", jkInfo);
  EXPECT_GT(std::filesystem::file_size(j.BackupPath()), Journal::kRotateSize);
  const std::string fresh = ReadFile(j.LogPath());
  EXPECT_NE(fresh.find("past the limit"), std::string::npos);
  EXPECT_EQ(fresh.find("at the limit"), std::string::npos);
  EXPECT_EQ(std::count(fresh.begin(), fresh.end(), '\n'), 1);
}

TEST(JournalFailure, UnwritableFileStillShowsTheViewLine) {
  test::TempDir dir;
  test::FakeClock clock(March5());
  // The log's name is taken by a directory: opening it for appending fails.
  Journal j(clock, dir.path().string());
  std::filesystem::create_directory(j.LogPath());
  j.AddJournal("still shown", jkError);
  ASSERT_EQ(j.View().size(), 2u);
  EXPECT_NE(j.View()[0].text.find("still shown"), std::string::npos);
  EXPECT_EQ(j.View()[0].color, colors::clRed);
  // Why the file takes no lines is said once, not with every line.
  EXPECT_NE(j.View()[1].text.find("Ошибка записи журнала"), std::string::npos);
  j.AddJournal("shown too", jkInfo);
  EXPECT_EQ(j.View().size(), 3u);
  EXPECT_EQ(j.Unwritten(), 3u);
}

TEST(JournalStatus, StatusAndErrorReports) {
  test::TempDir dir;
  test::FakeClock clock(March5());
  Journal j(clock, dir.path().string());
  EXPECT_EQ(j.Status()[0].color, colors::clNavy);
  int repaints = 0;
  j.StatusChanged.Connect([&] { ++repaints; });

  j.ShowStatus("Порт открыт", jkDevice, 1);
  EXPECT_EQ(j.Status()[0].text, "Порт открыт");
  EXPECT_EQ(j.Status()[0].color, colors::clBlue);
  EXPECT_EQ(j.Status()[0].style, static_cast<unsigned>(fsBold));
  EXPECT_EQ(j.View().size(), 1u);

  // Empty text with toJournal = 1 clears the panel and journals nothing.
  j.SetStatus(0, "", 0, colors::clBlack, jkInfo, 1);
  EXPECT_EQ(j.Status()[0].text, "");
  EXPECT_EQ(j.View().size(), 1u);

  // ReportError without the status line: red journal line, status untouched.
  j.ShowStatus("keep", jkInfo, 0);
  j.ReportError("Ошибка тайлинга", jcTileViews, 0);
  EXPECT_EQ(j.Status()[0].text, "keep");
  EXPECT_EQ(j.View().back().color, colors::clRed);
  const std::string line = LastLine(ReadFile(j.LogPath()));
  EXPECT_EQ(line.substr(26, 3), "  4");       // kind field
  EXPECT_EQ(line.substr(40, 8), "       7");  // error code field
  j.ReportError("с показом", jcWrongPassword, 1);
  EXPECT_EQ(j.Status()[0].text, "с показом");
  EXPECT_EQ(j.Status()[0].color, colors::clRed);
  EXPECT_GE(repaints, 4);
}

// The log file keeps these numbers: two names for one number, or a number
// nobody can look up, would make old lines ambiguous.
TEST(JournalNumbers, EveryNumberHasOneNameAndAMeaning) {
  const std::pair<const char*, const std::vector<JournalNumber>*> tables[] = {
      {"jk", &JournalKinds()}, {"je", &JournalEvents()}, {"jc", &JournalCodes()}};
  for (const auto& [prefix, table] : tables) {
    std::set<int> numbers;
    std::set<std::string_view> names;
    for (const JournalNumber& n : *table) {
      EXPECT_TRUE(numbers.insert(n.number).second) << prefix << " number " << n.number << " twice";
      EXPECT_TRUE(names.insert(n.name).second) << n.name;
      EXPECT_EQ(n.name.substr(0, 2), prefix) << n.name;
      EXPECT_GE(n.meaning.size(), 10u) << n.name << " is not described";
    }
  }
  // The kinds are the five colours of the view, numbered as stored.
  ASSERT_EQ(JournalKinds().size(), 5u);
  for (int k = 0; k < 5; ++k) EXPECT_EQ(JournalKinds()[static_cast<std::size_t>(k)].number, k);
  EXPECT_EQ(KindColor(jkAlarm), colors::clFuchsia);
}

}  // namespace
}  // namespace zv
