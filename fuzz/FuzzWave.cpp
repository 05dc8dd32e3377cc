// The alarm sound file ("Sound.wav"), to which every alarm's recording is
// appended: any file is read or refused; appending a recording of the same
// format adds exactly its samples after the file's own, which stay as they
// were; an append that is refused changes nothing.
#include <string>

#include "fuzz/FuzzSupport.h"
#include "platform/WaveFile.h"

using zv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 100000) return 0;
  const std::string file(reinterpret_cast<const char*>(data), size);
  const std::string dir = zv::fuzz::ScratchDir();
  const std::string target = dir + "/Sound.wav", part = dir + "/part.wav";
  zv::fuzz::WriteWholeFile(target, data, size);

  zv::WaveInfo t;
  std::string why;
  const bool readable = zv::ReadWaveInfo(target, t, why);
  if (readable) {
    Check(t.dataOffset >= 12 && t.dataSize >= 0, "samples lie after the header");
    Check(t.dataOffset + t.dataSize <= static_cast<std::int64_t>(size), "samples within the file");
    (void)zv::WaveLengthMs(t);
  } else {
    Check(!why.empty(), "a refusal says why");
  }

  // A recording in the file's own format (or a common one).
  zv::WaveInfo fmt;
  fmt.format = 1;
  fmt.channels = readable ? t.channels : 1;
  fmt.sampleRate = readable ? t.sampleRate : 8000;
  fmt.bitsPerSample = readable ? t.bitsPerSample : 16;
  const std::string samples = file.substr(size / 2, 64);
  if (!zv::WriteWave(part, fmt, samples, why)) return 0;

  if (zv::AppendWave(target, part, why)) {
    zv::WaveInfo after;
    Check(zv::ReadWaveInfo(target, after, why), "the sound file reads after an append");
    const std::string now = zv::fuzz::ReadWholeFile(target);
    const std::int64_t before = size == 0 ? 0 : t.dataSize;
    Check(size == 0 || readable, "only a readable file takes an append");
    Check(after.dataSize == before + static_cast<std::int64_t>(samples.size()),
          "an append adds exactly the recording's samples");
    Check(now.compare(static_cast<std::size_t>(after.dataOffset + before), samples.size(),
                      samples) == 0,
          "the recording's samples follow");
    if (size > 0)
      Check(now.compare(static_cast<std::size_t>(t.dataOffset), static_cast<std::size_t>(before),
                        file, static_cast<std::size_t>(t.dataOffset),
                        static_cast<std::size_t>(before)) == 0,
            "the file's own samples stay as they were");
  } else {
    Check(zv::fuzz::ReadWholeFile(target) == file, "a refused append changes nothing");
  }
  return 0;
}
