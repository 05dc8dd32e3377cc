#include "modem/ModemLogFile.h"

#include <cctype>
#include <cstdio>
#include <filesystem>

namespace zv {

std::string FormatDateTimePattern(const std::string& pattern, TDateTime t) {
  const DateTimeParts p = DecodeDateTime(t);
  std::string out;
  bool afterHour = false;
  char buf[16];
  std::size_t i = 0;
  auto run = [&](char c) {
    std::size_t n = 0;
    while (i + n < pattern.size() && std::tolower(static_cast<unsigned char>(pattern[i + n])) == c)
      ++n;
    return n;
  };
  while (i < pattern.size()) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(pattern[i])));
    if (pattern[i] == '"') {
      const auto end = pattern.find('"', i + 1);
      const std::size_t stop = end == std::string::npos ? pattern.size() : end;
      out += pattern.substr(i + 1, stop - i - 1);
      i = stop + 1;
      continue;
    }
    std::size_t n = run(c);
    switch (c) {
      case 'y':
        if (n >= 4) {
          std::snprintf(buf, sizeof buf, "%04d", p.year);
        } else {
          std::snprintf(buf, sizeof buf, "%02d", p.year % 100);
        }
        afterHour = false;
        break;
      case 'm':
        n = n >= 2 ? 2 : 1;
        std::snprintf(buf, sizeof buf, n == 2 ? "%02d" : "%d", afterHour ? p.minute : p.month);
        afterHour = false;
        break;
      case 'd':
        n = n >= 2 ? 2 : 1;
        std::snprintf(buf, sizeof buf, n == 2 ? "%02d" : "%d", p.day);
        afterHour = false;
        break;
      case 'h':
        n = n >= 2 ? 2 : 1;
        std::snprintf(buf, sizeof buf, n == 2 ? "%02d" : "%d", p.hour);
        afterHour = true;
        break;
      case 'n':
        n = n >= 2 ? 2 : 1;
        std::snprintf(buf, sizeof buf, n == 2 ? "%02d" : "%d", p.minute);
        afterHour = false;
        break;
      case 's':
        n = n >= 2 ? 2 : 1;
        std::snprintf(buf, sizeof buf, n == 2 ? "%02d" : "%d", p.second);
        afterHour = false;
        break;
      case 'z':
        n = n >= 3 ? 3 : 1;
        std::snprintf(buf, sizeof buf, n == 3 ? "%03d" : "%d", p.msec);
        break;
      default:
        out += pattern[i];
        ++i;
        continue;
    }
    out += buf;
    i += n;
  }
  return out;
}

void TModemLogFile::SetFileName(const std::string& name) {
  if (name == fileName_) return;
  Close();
  fileName_ = name;
}

bool TModemLogFile::OpenFile() {
  if (fileName_.empty()) return false;
  if (CretateNew) {
    file_ = std::fopen(fileName_.c_str(), "wb");
    if (!file_) return false;
  } else {
    file_ = std::fopen(fileName_.c_str(), "ab");
    if (!file_) return false;
    std::error_code ec;
    const auto size = std::filesystem::file_size(fileName_, ec);
    // Each opening is set off from the text before it by a blank line.
    if (!ec && size > 0 && std::fputs("\r\n", file_) < 0) {
      Close();
      return false;
    }
  }
  std::string title = Title;
  if (OnGetTitle) OnGetTitle(title);
  if (!title.empty()) {
    title += "\r\n\r\n";
    if (std::fputs(title.c_str(), file_) < 0) {
      Close();
      return false;
    }
  }
  return true;
}

bool TModemLogFile::Add(const std::string& text) {
  if (!file_ && !OpenFile()) return false;
  std::string line;
  if (AddDateTime) line = FormatDateTimePattern(DateTimeFormat, clock_.Now()) + " - ";
  line += text;
  line += "\r\n";
  if (std::fwrite(line.data(), 1, line.size(), file_) != line.size()) return false;
  // Flushed line by line: the log must hold what happened before a crash.
  return std::fflush(file_) == 0;
}

bool TModemLogFile::Close() {
  if (!file_) return true;
  const int r = std::fclose(file_);
  file_ = nullptr;
  return r == 0;
}

}  // namespace zv
