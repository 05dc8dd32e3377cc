#pragma once
// Small shared routines: speaker tones and beep patterns, fixed-width
// numbers, name abbreviation.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Services.h"

namespace zv {

inline constexpr const char* kCommandMarker = "ZvxCmd";

// True when the speaker's tone generator can be driven directly.
bool IsWin9x(const Services& s);
// Sounds one tone and returns when it has ended.
void Tone(const Services& s, std::uint16_t frequency, std::uint16_t duration);
// Plays the notes of a pattern such as "g50;s200" one after another.
void PlayBeepPattern(const Services& s, std::string_view pattern);
// A pattern's notes: frequency and length in ms, as Tone takes them.
struct BeepNote {
  std::uint16_t hz = 0, ms = 0;
  bool operator==(const BeepNote&) const = default;
};
std::vector<BeepNote> ParseBeepPattern(std::string_view pattern);
// Sounds one tone on speaker, waiting with sleep(ms) where the speaker
// does not wait itself.
void SoundTone(ISpeaker& speaker, const std::function<void(unsigned)>& sleep,
               std::uint16_t frequency, std::uint16_t duration);
// Frequency of a note letter: Round(15 * 1.318^(code - 65)).
long NoteFrequency(int code);

std::string PadNumber(long long value, int width);

template <class T>
T Choose(bool condition, T ifTrue, T ifFalse) {
  return condition ? ifTrue : ifFalse;
}
inline std::string Choose(bool condition, const char* ifTrue, const char* ifFalse) {
  return condition ? ifTrue : ifFalse;
}

bool IsVowel(char32_t c);
std::string AbbreviateName(std::string_view text);

// Round half to even, as the program's percentage thresholds are rounded.
long long RoundHalfEven(double v);

}  // namespace zv
