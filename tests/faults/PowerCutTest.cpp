// A power cut at every write.  The work runs in a child process that dies at
// its first write to the test's folder, then at its second, and so on until
// it gets through, each time once before any byte of that write reaches the
// file and once in the middle of it.  After every death the files must read
// back whole, and a program started again must go on with them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "Crash.h"
#include "app/IniFile.h"
#include "app/Journal.h"
#include "detect/PictureCodec.h"
#include "detect/RecordingFiles.h"
#include "platform/WaveFile.h"
#include "support/FakePlatform.h"
#include "support/FileChecks.h"
#include "support/TempDir.h"

namespace zv::test {
namespace {

namespace fs = std::filesystem;

// Picture number `tag` of a recording: a plain field whose brightness says
// which picture it is, with a patch of noise whose size varies, so that the
// pictures are of different lengths and a wrapping recording overwrites
// its old pictures across their borders.
struct Pictures {
  std::vector<std::vector<std::uint8_t>> jpeg;
  static int Level(int tag) { return 30 + (tag * 37) % 190; }
  explicit Pictures(int count) {
    JpegCodec codec;
    std::mt19937 rnd(7);
    for (int tag = 0; tag < count; ++tag) {
      TPicture pic(64, 48);
      for (std::size_t i = 0; i < pic.SizeBytes(); ++i)
        pic.Data()[i] = static_cast<std::uint8_t>(Level(tag));
      const int rows = 8 * (tag % 5);
      for (int y = 48 - rows; y < 48; ++y)
        for (int x = 0; x < 64 * 3; ++x) pic.ScreenRow(y)[x] = static_cast<std::uint8_t>(rnd());
      const auto j = codec.EncodePicture(pic, 90, true);
      jpeg.emplace_back(j.begin(), j.end());
    }
  }
  // Appends picture tag; its change level carries the tag.
  AppendResult Append(RecordingPair& pair, int tag) const {
    FrameDescriptor d;
    d.captureTime = 45000 + tag / 86400.0;
    d.width = 64;
    d.height = 48;
    d.colored = true;
    d.format = kFormatJpeg;
    d.changeLevel = tag;
    const auto& j = jpeg.at(static_cast<std::size_t>(tag));
    return pair.Append(d, j.data(), j.size());
  }
  // The decoded picture must be the one its descriptor names.
  static std::string Matches(const FrameDescriptor& d, const TPicture& pic) {
    const int level = pic.ScreenRow(2)[6];
    if (std::abs(level - Level(d.changeLevel)) <= 6) return {};
    return "picture of brightness " + std::to_string(level) + " under the descriptor of picture " +
           std::to_string(d.changeLevel);
  }
};

// Runs the cut at every write of work, cutting each write after each of
// the byte counts in torn; after each cut, check looks at the files (in a
// fresh folder prepared by setup).  Returns the number of cuts made.
int CutEverywhere(const std::function<void(const std::string&)>& setup,
                  const std::function<void(const std::string&)>& work,
                  const std::function<void(const std::string&, const std::string&)>& check,
                  std::vector<std::size_t> torn) {
  int cuts = 0;
  // The figure of docs/reliability.md: how many cuts the files survived.
  const auto done = [&] {
    std::printf("figure: %s: %d power cuts\n",
                ::testing::UnitTest::GetInstance()->current_test_info()->name(), cuts);
    return cuts;
  };
  for (long n = 1; n < 10000; ++n) {
    for (const std::size_t part : torn) {
      TempDir dir;
      const std::string d = dir.path().string();
      setup(d);
      const bool died = DiesAt(d, n, part, [&] { work(d); });
      if (!died) return done();
      ++cuts;
      check(d, "cut at write " + std::to_string(n) + " after " + std::to_string(part) + " bytes");
      if (::testing::Test::HasFailure()) return done();
    }
  }
  return done();
}

TEST(PowerCut, ARecordingKeepsEveryRecordWholeAndGoesOnAfterTheCut) {
  const Pictures pics(12);
  const int cuts = CutEverywhere(
      [&](const std::string& d) {
        RecordingPair pair;
        ASSERT_TRUE(pair.OpenOrCreate(d + "/rec.dsc"));
        for (int tag = 0; tag < 3; ++tag) ASSERT_TRUE(pics.Append(pair, tag).ok());
      },
      [&](const std::string& d) {
        RecordingPair pair;
        if (!pair.OpenOrCreate(d + "/rec.dsc")) std::_Exit(1);
        for (int tag = 3; tag < 9; ++tag) pics.Append(pair, tag);
      },
      [&](const std::string& d, const std::string& where) {
        const PairReport before = CheckPair(d + "/rec.dsc", Pictures::Matches);
        EXPECT_TRUE(before.Whole()) << where << ": " << before.Describe();
        EXPECT_GE(before.records, 3) << where;
        // Started again, the recorder continues with the next record.
        RecordingPair pair;
        ASSERT_TRUE(pair.OpenOrCreate(d + "/rec.dsc")) << where;
        const AppendResult next = pics.Append(pair, 11);
        ASSERT_TRUE(next.ok()) << where << ": " << next.reason;
        EXPECT_EQ(next.recordNumber, before.records + 1) << where;
        pair.Close();
        const PairReport after = CheckPair(d + "/rec.dsc", Pictures::Matches);
        EXPECT_TRUE(after.Whole()) << where << ": " << after.Describe();
        EXPECT_EQ(after.pictures, before.pictures + 1) << where;
      },
      {0, 20, 700});
  EXPECT_GE(cuts, 3 * 2 * 6);  // a picture and a descriptor per record
}

TEST(PowerCut, AWrappingRecordingNeverShowsAPictureItHasOverwritten) {
  const Pictures pics(40);
  std::size_t sizes = 0;
  for (int tag = 0; tag < 40; ++tag) sizes += pics.jpeg[static_cast<std::size_t>(tag)].size();
  // Room for about a quarter of the pictures: the recording goes round
  // three times.
  const VolumePolicy wrap{static_cast<std::int64_t>(sizes / 4 + 12 * kDescriptorSize),
                          VolumeLimitAction::Wrap};
  int wrapped = 0;
  CutEverywhere(
      [&](const std::string& d) {
        RecordingPair pair;
        ASSERT_TRUE(pair.OpenOrCreate(d + "/rec.dsc"));
      },
      [&](const std::string& d) {
        RecordingPair pair;
        if (!pair.OpenOrCreate(d + "/rec.dsc")) std::_Exit(1);
        pair.SetVolumePolicy(wrap);
        for (int tag = 0; tag < 36; ++tag) pics.Append(pair, tag);
      },
      [&](const std::string& d, const std::string& where) {
        const PairReport r = CheckPair(d + "/rec.dsc", Pictures::Matches);
        EXPECT_TRUE(r.Whole()) << where << ": " << r.Describe();
        if (r.overwritten > 0) ++wrapped;
        // Started again, it goes on round after its newest record.
        RecordingPair pair;
        ASSERT_TRUE(pair.OpenOrCreate(d + "/rec.dsc")) << where;
        pair.SetVolumePolicy(wrap);
        for (int tag = 36; tag < 40; ++tag) ASSERT_TRUE(pics.Append(pair, tag).ok()) << where;
        pair.Close();
        const PairReport after = CheckPair(d + "/rec.dsc", Pictures::Matches);
        EXPECT_TRUE(after.Whole()) << where << ": " << after.Describe();
      },
      {0, 20, 300});
  EXPECT_GT(wrapped, 10);
}

TEST(PowerCut, TheJournalHasNoHalfLineAndItsNumbersGoOn) {
  FakeClock clock(45000.5);
  CutEverywhere([](const std::string&) {},
                [&](const std::string& d) {
                  Journal j(clock, d);
                  for (int i = 1; i <= 6; ++i)
                    j.AddJournal("Сработка - \"Двери\" ! " + std::to_string(i), jkAlarm);
                },
                [&](const std::string& d, const std::string& where) {
                  // The next start adds its line to what the cut left.
                  Journal j(clock, d);
                  j.AddJournal("Старт программы...", jkInfo);
                  const JournalReport r = CheckJournal(j.LogPath());
                  EXPECT_TRUE(r.Whole()) << where << ": " << r.Describe();
                  EXPECT_EQ(r.first, 1) << where;
                  ASSERT_FALSE(r.texts.empty()) << where;
                  EXPECT_EQ(r.texts.back(), "Старт программы...") << where;
                },
                {0, 30});
}

TEST(PowerCut, TheSettingsFileIsEitherTheOldOrTheNewOne) {
  IniFile before;
  before.LoadFromText("[Main]\r\nServerMode=0\r\nAbonentsCount=1\r\n[Abonent1]\r\nName=Хозяин\r\n");
  IniFile after = before;
  after.WriteInteger("Main", "AbonentsCount", 2);
  after.WriteText("Abonent2", "Name", "Сосед");
  for (int k = 1; k <= 8; ++k) after.WriteString("Camera" + std::to_string(k), "Zones", "1111");
  CutEverywhere(
      [&](const std::string& d) {
        IniFile f = before;
        f.SetPath(d + "/Zorvenix.ini");
        ASSERT_TRUE(f.Save());
      },
      [&](const std::string& d) {
        IniFile f = after;
        f.SetPath(d + "/Zorvenix.ini");
        f.Save();
      },
      [&](const std::string& d, const std::string& where) {
        const std::string text = ReadFile(d + "/Zorvenix.ini");
        EXPECT_TRUE(text == before.ToText() || text == after.ToText()) << where << ":\n" << text;
      },
      {0, 40});
}

std::string Samples(std::size_t n, char base) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(base + i % 13);
  return s;
}

TEST(PowerCut, TheAlarmSoundKeepsEveryEarlierRecording) {
  const WaveInfo fmt{1, 1, 8000, 16000, 2, 16};
  const std::string old = Samples(4000, 'a'), fresh = Samples(3000, 'A');
  std::string why;
  CutEverywhere(
      [&](const std::string& d) {
        ASSERT_TRUE(WriteWave(d + "/Sound.wav", fmt, old, why)) << why;
        ASSERT_TRUE(WriteWave(d + "/part.wav", fmt, fresh, why)) << why;
      },
      [&](const std::string& d) {
        std::string w;
        AppendWave(d + "/Sound.wav", d + "/part.wav", w);
      },
      [&](const std::string& d, const std::string& where) {
        WaveInfo info;
        std::string w;
        ASSERT_TRUE(ReadWaveInfo(d + "/Sound.wav", info, w)) << where << ": " << w;
        const std::string all = ReadFile(d + "/Sound.wav");
        const std::string data = all.substr(static_cast<std::size_t>(info.dataOffset),
                                            static_cast<std::size_t>(info.dataSize));
        EXPECT_TRUE(data == old || data == old + fresh) << where << ": " << data.size() << " bytes";
      },
      {0, 1000});
}

}  // namespace
}  // namespace zv::test
