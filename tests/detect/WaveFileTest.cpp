// The alarm sound's wave files: format and length read from real files,
// and each recording appended to the sound file.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

#include "platform/WaveFile.h"
#include "support/TempDir.h"

namespace zv::test {
namespace {

void Put32(std::string& s, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
}
void Put16(std::string& s, std::uint16_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>(v >> 8);
}

// A PCM wave file of 8 kHz, 16-bit mono samples, with an extra chunk before
// the data as recorders write them.
std::string Wave(const std::string& samples, std::uint32_t rate = 8000) {
  std::string fmt;
  Put16(fmt, 1);
  Put16(fmt, 1);
  Put32(fmt, rate);
  Put32(fmt, rate * 2);
  Put16(fmt, 2);
  Put16(fmt, 16);
  std::string body = "WAVEfmt ";
  Put32(body, 16);
  body += fmt;
  body += "LIST";
  Put32(body, 3);
  body += "abc";
  body += '\0';  // padding of the odd chunk
  body += "data";
  Put32(body, static_cast<std::uint32_t>(samples.size()));
  body += samples;
  std::string file = "RIFF";
  Put32(file, static_cast<std::uint32_t>(body.size()));
  return file + body;
}

TEST(WaveFile, ReadsFormatAndLengthAndRefusesOtherFiles) {
  TempDir dir;
  WriteFile(dir.file("a.wav"), Wave(std::string(16000, 'x')));
  WaveInfo w;
  std::string why;
  ASSERT_TRUE(ReadWaveInfo(dir.file("a.wav"), w, why)) << why;
  EXPECT_EQ(w.sampleRate, 8000u);
  EXPECT_EQ(w.dataSize, 16000);
  EXPECT_EQ(WaveLengthMs(w), 1000);
  EXPECT_EQ(ReadFile(dir.file("a.wav")).substr(static_cast<std::size_t>(w.dataOffset), 1), "x");

  EXPECT_FALSE(ReadWaveInfo(dir.file("none.wav"), w, why));
  EXPECT_NE(why.find("none.wav"), std::string::npos);
  WriteFile(dir.file("b.wav"), "RIFF\4\0\0\0AVI ");
  EXPECT_FALSE(ReadWaveInfo(dir.file("b.wav"), w, why));
  // A recording cut short: the data size is limited to what is there.
  std::string cut = Wave(std::string(100, 'y'));
  cut.resize(cut.size() - 40);
  WriteFile(dir.file("c.wav"), cut);
  ASSERT_TRUE(ReadWaveInfo(dir.file("c.wav"), w, why));
  EXPECT_EQ(w.dataSize, 60);
}

TEST(WaveFile, RecordingsAreAppendedToTheSoundFile) {
  TempDir dir;
  const std::string sound = dir.file("Sound.wav"), part = dir.file("part.wav");
  std::string why;
  // The first recording becomes the file.
  WriteFile(part, Wave("AAAA"));
  ASSERT_TRUE(AppendWave(sound, part, why)) << why;
  EXPECT_EQ(ReadFile(sound), Wave("AAAA"));
  // The next one is appended with the header's sizes fixed.
  WriteFile(part, Wave("BBBBBB"));
  ASSERT_TRUE(AppendWave(sound, part, why)) << why;
  EXPECT_EQ(ReadFile(sound), Wave("AAAABBBBBB"));
  // Another format is refused and changes nothing.
  WriteFile(part, Wave("CC", 11025));
  EXPECT_FALSE(AppendWave(sound, part, why));
  EXPECT_EQ(ReadFile(sound), Wave("AAAABBBBBB"));
  // Junk after a torn data chunk is dropped, not buried in the samples.
  std::string torn = Wave("DDDD");
  WriteFile(sound, torn + "junk");
  WriteFile(part, Wave("EE"));
  ASSERT_TRUE(AppendWave(sound, part, why)) << why;
  EXPECT_EQ(ReadFile(sound), Wave("DDDDEE"));
}

}  // namespace
}  // namespace zv::test
