// The settings file reader: any bytes (UTF-8, Windows-1251 from an older
// installation, or neither) are read; what is read is UTF-8; writing the
// file and reading it again gives the same sections, keys and values; and
// every value the program writes back (text, integers, numbers, name lists)
// reads back as it was.
#include <string>
#include <vector>

#include "app/IniFile.h"
#include "app/Text.h"
#include "fuzz/FuzzSupport.h"

namespace {

using zv::IniFile;
using zv::fuzz::Check;

// Line breaks cannot live in a value: the writer turns them into blanks.
std::string Flat(std::string v) {
  for (char& c : v)
    if (c == '\r' || c == '\n') c = ' ';
  return v;
}

void SameContent(const IniFile& a, const IniFile& b) {
  Check(a.Sections() == b.Sections(), "same sections after a write and a read");
  for (const auto& s : a.Sections()) {
    Check(a.Keys(s) == b.Keys(s), "same keys after a write and a read");
    for (const auto& k : a.Keys(s))
      Check(a.ReadString(s, k, "") == b.ReadString(s, k, "\x01"), "same value after a write");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 200000) return 0;
  IniFile ini;
  ini.LoadFromBytes(std::string(reinterpret_cast<const char*>(data), size));
  const std::string text = ini.ToText();
  Check(zv::IsValidUtf8(text), "what is read is UTF-8");

  // The file as the program writes it (UTF-8) reads back the same.
  IniFile again;
  again.LoadFromBytes(text);
  Check(!again.WasCp1251(), "a written file is UTF-8");
  Check(again.ToText() == text, "writing is stable");
  SameContent(ini, again);

  // Every value written back through the writer reads back as it was: as
  // text, as an integer, as a number and as a name list (the reader strips
  // the outer quotes of a list, and the settings store puts them back).
  IniFile text1, ints, floats, lists;
  for (const auto& s : ini.Sections())
    for (const auto& k : ini.Keys(s)) {
      const std::string v = ini.ReadString(s, k, "");
      text1.WriteText(s, k, v);
      long long n;
      if (IniFile::ParseInteger(v, n)) ints.WriteInteger(s, k, n);
      double f;
      if (zv::ParseFloat(v, f)) floats.WriteFloat(s, k, f);
      lists.WriteString(s, k, zv::JoinQuotedList(zv::SplitQuotedList("\"" + v + "\"")));
    }
  IniFile text2, ints2, floats2, lists2;
  text2.LoadFromBytes(text1.ToText());
  ints2.LoadFromBytes(ints.ToText());
  floats2.LoadFromBytes(floats.ToText());
  lists2.LoadFromBytes(lists.ToText());
  for (const auto& s : ini.Sections())
    for (const auto& k : ini.Keys(s)) {
      const std::string v = ini.ReadString(s, k, "");
      Check(text2.ReadString(s, k, "\x01") == Flat(v), "a text value reads back as written");
      long long n;
      if (IniFile::ParseInteger(v, n))
        Check(ints2.ReadInteger(s, k, n + 1) == n, "an integer reads back as written");
      double f;
      if (zv::ParseFloat(v, f))
        Check(zv::FormatFloat(floats2.ReadFloat(s, k, f + 1)) == zv::FormatFloat(f),
              "a number written once reads and writes the same");
      std::vector<std::string> items = zv::SplitQuotedList("\"" + v + "\"");
      for (auto& i : items) i = Flat(i);
      Check(zv::SplitQuotedList("\"" + lists2.ReadString(s, k, "") + "\"") == items,
            "a name list reads back as written");
    }
  return 0;
}
