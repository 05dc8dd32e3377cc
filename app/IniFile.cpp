#include "app/IniFile.h"

#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/Text.h"

namespace zv {

namespace {

bool IEquals(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {}

bool IniFile::Load() {
  preamble_.clear();
  sections_.clear();
  wasCp1251_ = false;
  std::error_code ec;
  if (!std::filesystem::exists(path_, ec)) return true;
  std::ifstream f(path_, std::ios::binary);
  if (!f) return false;
  std::ostringstream ss;
  ss << f.rdbuf();
  LoadFromBytes(ss.str());
  return true;
}

void IniFile::LoadFromBytes(std::string text) {
  wasCp1251_ = false;
  // Every byte-order mark: an editor that adds one to a file that has one
  // leaves two, and the second would hide the first section's header.
  while (text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
         static_cast<unsigned char>(text[1]) == 0xBB && static_cast<unsigned char>(text[2]) == 0xBF)
    text.erase(0, 3);
  if (!IsValidUtf8(text)) {
    text = Cp1251ToUtf8(text);
    wasCp1251_ = true;
  }
  LoadFromText(text);
}

void IniFile::LoadFromText(const std::string& text) {
  preamble_.clear();
  sections_.clear();
  std::size_t pos = 0;
  Section* cur = nullptr;
  while (pos <= text.size()) {
    std::size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    std::string raw = text.substr(pos, nl - pos);
    pos = nl + 1;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    if (pos > text.size() && raw.empty()) break;
    const std::string t = Trim(raw);
    if (!t.empty() && t.front() == '[') {
      const std::size_t close = t.find(']');
      Section s;
      s.name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      s.header = raw;
      sections_.push_back(std::move(s));
      cur = &sections_.back();
      continue;
    }
    Line line;
    line.raw = raw;
    if (!t.empty() && t[0] != ';' && t[0] != '#') {
      const std::size_t eq = t.find('=');
      if (eq != std::string::npos) {
        line.key = Trim(t.substr(0, eq));
        line.value = Trim(t.substr(eq + 1));
      }
    }
    (cur ? cur->lines : preamble_).push_back(std::move(line));
  }
}

std::string IniFile::ToText() const {
  std::string out;
  for (const auto& l : preamble_) out += l.raw + "\r\n";
  for (const auto& s : sections_) {
    out += s.header + "\r\n";
    for (const auto& l : s.lines) out += l.raw + "\r\n";
  }
  return out;
}

bool IniFile::Save() const {
  const std::string text = ToText();
  const std::string tmp = path_ + ".tmp";
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fflush(f) == 0 && ok;
  ok = ::fsync(fileno(f)) == 0 && ok;
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    std::remove(tmp.c_str());
    return false;
  }
  if (std::rename(tmp.c_str(), path_.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

const IniFile::Section* IniFile::Find(const std::string& name) const {
  for (const auto& s : sections_)
    if (IEquals(s.name, name)) return &s;
  return nullptr;
}

IniFile::Section* IniFile::Find(const std::string& name) {
  for (auto& s : sections_)
    if (IEquals(s.name, name)) return &s;
  return nullptr;
}

const IniFile::Line* IniFile::FindKey(const Section& s, const std::string& key) const {
  for (const auto& l : s.lines)
    if (!l.key.empty() && IEquals(l.key, key)) return &l;
  return nullptr;
}

bool IniFile::HasSection(const std::string& section) const {
  return Find(section) != nullptr;
}

bool IniFile::HasKey(const std::string& section, const std::string& key) const {
  const Section* s = Find(section);
  return s && FindKey(*s, key);
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& def) const {
  const Section* s = Find(section);
  if (!s) return def;
  const Line* l = FindKey(*s, key);
  if (!l) return def;
  std::string v = l->value;
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  return v;
}

bool IniFile::ParseInteger(const std::string& text, long long& out) {
  const std::string t = Trim(text);
  std::size_t i = 0;
  bool neg = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    neg = t[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < t.size() && t[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= t.size()) return false;
  unsigned long long v = 0;
  for (; i < t.size(); ++i) {
    const char c = t[i];
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    if (v > 0x7FFFFFFFFFFFull) return false;
  }
  out = neg ? -static_cast<long long>(v) : static_cast<long long>(v);
  return true;
}

long long IniFile::ReadInteger(const std::string& section, const std::string& key,
                               long long def) const {
  long long v;
  return ParseInteger(ReadString(section, key, ""), v) ? v : def;
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  if (!HasKey(section, key)) return def;
  return ReadString(section, key, "") == "1";
}

double IniFile::ReadFloat(const std::string& section, const std::string& key, double def) const {
  double v;
  return ParseFloat(ReadString(section, key, ""), v) ? v : def;
}

void IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value) {
  // Line breaks can't live in an INI value; they would start a new key.
  std::string v = value;
  for (char& c : v)
    if (c == '\r' || c == '\n') c = ' ';
  Section* s = Find(section);
  if (!s) {
    Section ns;
    ns.name = section;
    ns.header = "[" + section + "]";
    sections_.push_back(std::move(ns));
    s = &sections_.back();
  }
  for (auto& l : s->lines) {
    if (!l.key.empty() && IEquals(l.key, key)) {
      l.value = v;
      l.raw = l.key + "=" + v;
      return;
    }
  }
  Line line{key + "=" + v, key, v};
  // Insert after the section's last key, before trailing blank lines.
  auto pos = s->lines.end();
  while (pos != s->lines.begin() && Trim((pos - 1)->raw).empty()) --pos;
  s->lines.insert(pos, std::move(line));
}

void IniFile::WriteText(const std::string& section, const std::string& key,
                        const std::string& value) {
  const bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
  const bool padded = !value.empty() && (Trim(value).size() != value.size());
  WriteString(section, key, (quoted || padded) ? "\"" + value + "\"" : value);
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, long long value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::WriteFloat(const std::string& section, const std::string& key, double value) {
  WriteString(section, key, FormatFloat(value));
}

void IniFile::EraseSection(const std::string& section) {
  for (auto it = sections_.begin(); it != sections_.end(); ++it)
    if (IEquals(it->name, section)) {
      sections_.erase(it);
      return;
    }
}

void IniFile::DeleteKey(const std::string& section, const std::string& key) {
  Section* s = Find(section);
  if (!s) return;
  for (auto it = s->lines.begin(); it != s->lines.end(); ++it)
    if (!it->key.empty() && IEquals(it->key, key)) {
      s->lines.erase(it);
      return;
    }
}

std::vector<std::string> IniFile::Sections() const {
  std::vector<std::string> out;
  for (const auto& s : sections_) out.push_back(s.name);
  return out;
}

std::vector<std::string> IniFile::Keys(const std::string& section) const {
  std::vector<std::string> out;
  if (const Section* s = Find(section))
    for (const auto& l : s->lines)
      if (!l.key.empty()) out.push_back(l.key);
  return out;
}

std::string JoinQuotedList(const std::vector<std::string>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += ',';
    out += '"';
    for (char c : items[i]) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out;
}

std::vector<std::string> SplitQuotedList(const std::string& text) {
  std::vector<std::string> out;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    std::string item;
    if (i < n && text[i] == '"') {
      ++i;
      while (i < n) {
        if (text[i] == '"') {
          if (i + 1 < n && text[i + 1] == '"') {
            item += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item += text[i++];
      }
      // Anything after the closing quote up to the comma belongs to the item.
      while (i < n && text[i] != ',') item += text[i++];
    } else {
      while (i < n && text[i] != ',') item += text[i++];
      item = Trim(item);
    }
    out.push_back(item);
    if (i < n && text[i] == ',') {
      ++i;
      if (i == n) out.emplace_back();
    }
  }
  return out;
}

}  // namespace zv
