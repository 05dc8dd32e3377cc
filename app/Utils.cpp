#include "app/Utils.h"

#include <cmath>
#include <vector>

#include "app/Text.h"

namespace zv {

bool IsWin9x(const Services& s) {
  return s.speaker.HasDirectAccess();
}

void Tone(const Services& s, std::uint16_t frequency, std::uint16_t duration) {
  SoundTone(
      s.speaker, [&s](unsigned ms) { s.clock.Sleep(ms); }, frequency, duration);
}

void SoundTone(ISpeaker& speaker, const std::function<void(unsigned)>& sleep,
               std::uint16_t frequency, std::uint16_t duration) {
  unsigned f = frequency < 19 ? 19 : frequency;
  unsigned d = duration > 10000 ? 10000 : duration;
  if (speaker.HasDirectAccess()) {
    // The timer chip divides its 1.19 MHz clock; the divisor is worked out
    // with 1193000 and the chip then sounds 1193182 / divisor.
    const unsigned divisor = 1193000u / f;
    const unsigned hz = divisor ? (1193182u + divisor / 2) / divisor : 0;
    speaker.SetDirectTone(hz);
    sleep(d);
    speaker.SetDirectTone(0);
  } else {
    speaker.Beep(f, d);
  }
}

long NoteFrequency(int code) {
  return std::lround(15.0 * std::pow(1.318, code - 65));
}

namespace {
bool IsSeparator(char c) {
  switch (c) {
    case ' ':
    case ',':
    case '-':
    case '.':
    case '/':
    case ':':
    case ';':
    case '\\':
    case '_':
    case '|':
      return true;
    default:
      return false;
  }
}
}  // namespace

std::vector<BeepNote> ParseBeepPattern(std::string_view pattern) {
  std::vector<BeepNote> notes;
  std::size_t i = 0;
  while (i < pattern.size()) {
    while (i < pattern.size() && IsSeparator(pattern[i])) ++i;
    std::size_t j = i;
    while (j < pattern.size() && !IsSeparator(pattern[j])) ++j;
    if (j == i) break;
    std::string note = AsciiUpper(std::string(pattern.substr(i, j - i)));
    i = j;
    const int code = static_cast<unsigned char>(note[0]);
    const long freq = NoteFrequency(code);
    const std::string rest = note.substr(1);
    if (rest.empty() || rest.size() > 9) continue;
    long long dur = 0;
    bool ok = true;
    for (char c : rest) {
      if (c < '0' || c > '9') {
        ok = false;
        break;
      }
      dur = dur * 10 + (c - '0');
    }
    if (!ok || dur > 65535 || freq < 0 || freq > 65535) continue;
    notes.push_back({static_cast<std::uint16_t>(freq), static_cast<std::uint16_t>(dur)});
  }
  return notes;
}

void PlayBeepPattern(const Services& s, std::string_view pattern) {
  for (const BeepNote& n : ParseBeepPattern(pattern)) Tone(s, n.hz, n.ms);
}

std::string PadNumber(long long value, int width) {
  std::string s = std::to_string(value);
  if (static_cast<int>(s.size()) < width)
    s.insert(0, static_cast<std::size_t>(width) - s.size(), ' ');
  return s;
}

bool IsVowel(char32_t c) {
  static const std::u32string kVowels = U"АаЕеЁёОоУуЫыИиЭэЮюЯяЬьЪъ";
  return kVowels.find(c) != std::u32string::npos;
}

std::string AbbreviateName(std::string_view text) {
  const std::u32string u = Utf8ToU32(text);
  std::u32string out;
  std::size_t i = 0;
  while (i < u.size()) {
    while (i < u.size() && (u[i] == U' ' || u[i] == U'.')) ++i;
    std::size_t j = i;
    while (j < u.size() && u[j] != U' ' && u[j] != U'.') ++j;
    if (j == i) break;
    const std::u32string_view w(u.data() + i, j - i);
    i = j;
    out.push_back(ToUpperChar(w[0]));
    if (w.size() >= 2) out.push_back(ToLowerChar(w[1]));
    for (std::size_t k = 2; k < w.size(); ++k) {
      if (IsVowel(w[k])) {
        out.push_back(U'.');
        break;
      }
      out.push_back(ToLowerChar(w[k]));
    }
  }
  return U32ToUtf8(out);
}

long long RoundHalfEven(double v) {
  return std::llrint(v);
}

}  // namespace zv
