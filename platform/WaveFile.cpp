#include "platform/WaveFile.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace zv {

namespace {

std::uint32_t Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t Le16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
void Put32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

bool ReadWaveInfo(const std::string& path, WaveInfo& out, std::string& why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = "Файл \"" + path + "\" не найден";
    return false;
  }
  in.seekg(0, std::ios::end);
  const std::int64_t size = in.tellg();
  in.seekg(0);
  unsigned char h[12];
  if (!in.read(reinterpret_cast<char*>(h), 12) || std::memcmp(h, "RIFF", 4) != 0 ||
      std::memcmp(h + 8, "WAVE", 4) != 0) {
    why = "Файл \"" + path + "\" не является звуковым файлом WAVE";
    return false;
  }
  WaveInfo w;
  bool haveFormat = false;
  std::int64_t pos = 12;
  while (pos + 8 <= size) {
    unsigned char c[8];
    in.seekg(pos);
    if (!in.read(reinterpret_cast<char*>(c), 8)) break;
    const std::int64_t len = Le32(c + 4);
    if (std::memcmp(c, "fmt ", 4) == 0 && len >= 16) {
      unsigned char f[16];
      if (!in.read(reinterpret_cast<char*>(f), 16)) break;
      w.format = Le16(f);
      w.channels = Le16(f + 2);
      w.sampleRate = Le32(f + 4);
      w.byteRate = Le32(f + 8);
      w.blockAlign = Le16(f + 12);
      w.bitsPerSample = Le16(f + 14);
      haveFormat = true;
    } else if (std::memcmp(c, "data", 4) == 0) {
      if (!haveFormat) break;
      w.dataOffset = pos + 8;
      // A recording cut short leaves a size larger than the file.
      w.dataSize = std::min<std::int64_t>(len, size - w.dataOffset);
      out = w;
      return true;
    }
    pos += 8 + len + (len & 1);
  }
  why = "Файл \"" + path + "\" не содержит звуковых данных";
  return false;
}

long long WaveLengthMs(const WaveInfo& w) {
  return w.byteRate ? w.dataSize * 1000 / w.byteRate : 0;
}

bool WriteWave(const std::string& path, const WaveInfo& fmt, const std::string& samples,
               std::string& why) {
  auto put32 = [](std::string& s, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
  };
  auto put16 = [](std::string& s, std::uint16_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
  };
  const std::uint16_t align = static_cast<std::uint16_t>(fmt.channels * (fmt.bitsPerSample / 8));
  std::string h = "RIFF";
  put32(h, static_cast<std::uint32_t>(36 + samples.size()));
  h += "WAVEfmt ";
  put32(h, 16);
  put16(h, fmt.format ? fmt.format : 1);
  put16(h, fmt.channels);
  put32(h, fmt.sampleRate);
  put32(h, fmt.sampleRate * align);
  put16(h, align);
  put16(h, fmt.bitsPerSample);
  h += "data";
  put32(h, static_cast<std::uint32_t>(samples.size()));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(h.data(), static_cast<std::streamsize>(h.size()));
  out.write(samples.data(), static_cast<std::streamsize>(samples.size()));
  out.flush();
  if (!out) {
    why = "Ошибка записи файла \"" + path + "\"";
    return false;
  }
  return true;
}

bool AppendWave(const std::string& target, const std::string& part, std::string& why) {
  WaveInfo p;
  if (!ReadWaveInfo(part, p, why)) return false;
  std::error_code ec;
  if (!std::filesystem::exists(target, ec) || std::filesystem::file_size(target, ec) == 0) {
    std::filesystem::copy_file(part, target, std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) why = "Ошибка записи файла \"" + target + "\": " + ec.message();
    return !ec;
  }
  WaveInfo t;
  if (!ReadWaveInfo(target, t, why)) return false;
  if (!t.SameFormat(p)) {
    why = "Формат записи не совпадает с форматом файла \"" + target + "\"";
    return false;
  }
  const std::int64_t newData = t.dataSize + p.dataSize;
  if (t.dataOffset + newData > 0xFFFFFFF0LL) {
    why = "Файл \"" + target + "\" достиг предельного размера";
    return false;
  }
  std::vector<char> samples(static_cast<std::size_t>(p.dataSize));
  {
    std::ifstream in(part, std::ios::binary);
    in.seekg(p.dataOffset);
    if (!in.read(samples.data(), static_cast<std::streamsize>(samples.size()))) {
      why = "Ошибка чтения файла \"" + part + "\"";
      return false;
    }
  }
  std::fstream out(target, std::ios::binary | std::ios::in | std::ios::out);
  // Samples go right after the target's own (anything after its data chunk
  // is dropped), then the two sizes of the header follow.
  out.seekp(t.dataOffset + t.dataSize);
  out.write(samples.data(), static_cast<std::streamsize>(samples.size()));
  unsigned char n[4];
  Put32(n, static_cast<std::uint32_t>(newData));
  out.seekp(t.dataOffset - 4);
  out.write(reinterpret_cast<const char*>(n), 4);
  Put32(n, static_cast<std::uint32_t>(t.dataOffset + newData - 8));
  out.seekp(4);
  out.write(reinterpret_cast<const char*>(n), 4);
  out.flush();
  if (!out) {
    why = "Ошибка записи файла \"" + target + "\"";
    return false;
  }
  out.close();
  if (static_cast<std::int64_t>(std::filesystem::file_size(target, ec)) > t.dataOffset + newData)
    std::filesystem::resize_file(target, static_cast<std::uintmax_t>(t.dataOffset + newData), ec);
  return true;
}

}  // namespace zv
