#pragma once
// Wave (RIFF/WAVE) files of the alarm sound: reading the format and length,
// and appending the samples of one recording to an earlier one, so that
// every alarm's sound ends up in the same file.
#include <cstdint>
#include <string>

namespace zv {

struct WaveInfo {
  std::uint16_t format = 0;  // 1 = PCM
  std::uint16_t channels = 0;
  std::uint32_t sampleRate = 0;
  std::uint32_t byteRate = 0;
  std::uint16_t blockAlign = 0;
  std::uint16_t bitsPerSample = 0;
  std::int64_t dataOffset = 0;  // of the first sample byte
  std::int64_t dataSize = 0;    // sample bytes, limited to what the file holds
  bool SameFormat(const WaveInfo& o) const {
    return format == o.format && channels == o.channels && sampleRate == o.sampleRate &&
           bitsPerSample == o.bitsPerSample && blockAlign == o.blockAlign;
  }
};

// False, with why set, when the file is missing or no wave file.
bool ReadWaveInfo(const std::string& path, WaveInfo& out, std::string& why);
// Playing time of the samples in milliseconds (0 without a byte rate).
long long WaveLengthMs(const WaveInfo& w);

// Writes a PCM wave file of format fmt (format, channels, rate, bits; the
// byte rate and block alignment are derived) holding samples.
bool WriteWave(const std::string& path, const WaveInfo& fmt, const std::string& samples,
               std::string& why);

// Appends the samples of the wave file `part` to `target` and fixes the
// sizes in target's header.  A missing or empty target becomes a copy of
// part.  Formats must match; nothing is changed on failure.
bool AppendWave(const std::string& target, const std::string& part, std::string& why);

}  // namespace zv
