#include "modem/KeyStore.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

namespace zv {

namespace {

struct Section {
  std::string name;
  std::vector<std::pair<std::string, std::string>> values;
};

// Names compare without regard to letter case, as registry names do.
bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string_view Trim(std::string_view s) {
  std::size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r')) --b;
  return s.substr(a, b - a);
}

std::string Escape(const std::string& v) {
  std::string out;
  for (char c : v) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

std::string Unescape(std::string_view v) {
  std::string out;
  out.reserve(v.size());
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '\\' && i + 1 < v.size()) {
      const char n = v[i + 1];
      if (n == '\\' || n == 'n' || n == 'r') {
        out += n == 'n' ? '\n' : n == 'r' ? '\r' : '\\';
        ++i;
        continue;
      }
    }
    out += v[i];
  }
  return out;
}

bool Load(const std::string& path, std::vector<Section>& sections) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::string line;
  Section* cur = nullptr;
  bool first = true;
  while (std::getline(f, line)) {
    // A file saved by an editor may start with byte-order marks: they are
    // not part of the first key's header.
    for (; first && line.rfind("\xEF\xBB\xBF", 0) == 0;) line.erase(0, 3);
    first = false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string_view t = Trim(line);
    if (t.empty() || t[0] == ';') continue;
    if (t.front() == '[' && t.back() == ']') {
      sections.push_back({std::string(t.substr(1, t.size() - 2)), {}});
      cur = &sections.back();
      continue;
    }
    const auto eq = line.find('=');
    if (!cur || eq == std::string::npos) continue;
    const std::string_view whole(line);
    cur->values.emplace_back(std::string(Trim(whole.substr(0, eq))),
                             Unescape(whole.substr(eq + 1)));
  }
  return true;
}

Section* Find(std::vector<Section>& sections, const std::string& name) {
  for (auto& s : sections)
    if (SameName(s.name, name)) return &s;
  return nullptr;
}

}  // namespace

std::string TKeyStore::FileFor(const std::string& rootKey) const {
  return (std::filesystem::path(folder_) / (rootKey + ".ini")).string();
}

bool TKeyStore::ReadKey(const std::string& rootKey, const std::string& keyPath,
                        Values& values) const {
  if (rootKey.empty() || keyPath.empty()) return false;
  std::vector<Section> sections;
  if (!Load(FileFor(rootKey), sections)) return false;
  Section* s = Find(sections, keyPath);
  if (!s) return false;
  values.clear();
  for (const auto& [k, v] : s->values) values[k] = v;
  return true;
}

bool TKeyStore::WriteKey(const std::string& rootKey, const std::string& keyPath,
                         const Values& values) const {
  if (rootKey.empty() || keyPath.empty() || keyPath.find_first_of("[]\r\n") != std::string::npos)
    return false;
  const std::string path = FileFor(rootKey);
  std::vector<Section> sections;
  Load(path, sections);
  Section* s = Find(sections, keyPath);
  if (!s) {
    sections.push_back({keyPath, {}});
    s = &sections.back();
  }
  for (const auto& [k, v] : values) {
    if (k.empty() || k.find_first_of("=\r\n") != std::string::npos) continue;
    bool set = false;
    for (auto& kv : s->values)
      if (SameName(kv.first, k)) {
        kv.second = v;
        set = true;
      }
    if (!set) s->values.emplace_back(k, v);
  }

  std::ostringstream out;
  for (const auto& sec : sections) {
    out << '[' << sec.name << "]\n";
    for (const auto& [k, v] : sec.values) out << k << '=' << Escape(v) << '\n';
    out << '\n';
  }
  // Written aside and renamed over: a failed write leaves the old file whole.
  const std::string tmp = path + ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    const std::string text = out.str();
    f.write(text.data(), static_cast<std::streamsize>(text.size()));
    f.flush();
    if (!f) {
      f.close();
      std::remove(tmp.c_str());
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(tmp, path, ec);
  if (ec) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace zv
