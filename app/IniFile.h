#pragma once
// A small INI file: sections of key=value lines.  Reading strips one
// enclosing pair of double quotes; writing updates a key in place and keeps
// every other section, key and comment.  Section and key names compare
// without regard to ASCII case.  Files are written in UTF-8; a file that is
// not valid UTF-8 is read as Windows-1251.
#include <string>
#include <vector>

namespace zv {

class IniFile {
 public:
  IniFile() = default;
  explicit IniFile(std::string path);

  // Reads the file (a missing file is an empty one).  Returns false only when
  // the file exists but can't be read.
  bool Load();
  // Writes the whole file through a temporary file and a rename, so a crash
  // never leaves half a settings file.  False when it can't be written.
  bool Save() const;
  // The file's bytes as Load takes them: a UTF-8 byte-order mark is
  // dropped, and bytes that are not valid UTF-8 are read as Windows-1251.
  void LoadFromBytes(std::string bytes);
  void LoadFromText(const std::string& text);
  std::string ToText() const;

  const std::string& Path() const { return path_; }
  void SetPath(std::string p) { path_ = std::move(p); }
  bool WasCp1251() const { return wasCp1251_; }

  bool HasSection(const std::string& section) const;
  bool HasKey(const std::string& section, const std::string& key) const;
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) const;
  long long ReadInteger(const std::string& section, const std::string& key, long long def) const;
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;
  double ReadFloat(const std::string& section, const std::string& key, double def) const;
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  // Free text (names, addresses): wrapped in one more pair of quotes when the
  // reader would otherwise change it (enclosing quotes, outer blanks).
  void WriteText(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, long long value);
  void WriteBool(const std::string& section, const std::string& key, bool value);
  void WriteFloat(const std::string& section, const std::string& key, double value);
  void EraseSection(const std::string& section);
  void DeleteKey(const std::string& section, const std::string& key);
  std::vector<std::string> Sections() const;
  std::vector<std::string> Keys(const std::string& section) const;

  // Parses a decimal integer as the INI reader does; false when it is not one.
  static bool ParseInteger(const std::string& text, long long& out);

 private:
  struct Line {
    std::string raw;  // the line as it stands in the file
    std::string key;  // empty for comments, blanks and headers
    std::string value;
  };
  struct Section {
    std::string name;
    std::string header;  // the "[name]" line as it stands
    std::vector<Line> lines;
  };
  const Section* Find(const std::string& name) const;
  Section* Find(const std::string& name);
  const Line* FindKey(const Section& s, const std::string& key) const;

  std::string path_;
  std::vector<Line> preamble_;  // lines before the first section
  std::vector<Section> sections_;
  bool wasCp1251_ = false;
};

// List values: items in double quotes, separated by commas, quotes doubled.
std::string JoinQuotedList(const std::vector<std::string>& items);
// Splits by the quote-aware comma rule (the text as stored, quotes included).
std::vector<std::string> SplitQuotedList(const std::string& text);

}  // namespace zv
