#include "modem/Format.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace zv {

std::string Fmt(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  va_list ap2;
  va_copy(ap2, ap);
  const int n = std::vsnprintf(nullptr, 0, format, ap);
  va_end(ap);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, ap2);
    out.resize(static_cast<std::size_t>(n));
  }
  va_end(ap2);
  return out;
}

bool FormatArgs(const std::string& format, const std::vector<FmtArg>& args, std::string& out) {
  out.clear();
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    std::string conversion = "%";
    std::size_t j = i + 1;
    while (j < format.size() && (format[j] == '-' || format[j] == '0')) conversion += format[j++];
    int digits = 0;
    while (j < format.size() && std::isdigit(static_cast<unsigned char>(format[j])) && digits < 3) {
      conversion += format[j++];
      ++digits;
    }
    if (j < format.size() && format[j] == '.') {
      conversion += format[j++];
      digits = 0;
      while (j < format.size() && std::isdigit(static_cast<unsigned char>(format[j])) &&
             digits < 3) {
        conversion += format[j++];
        ++digits;
      }
    }
    if (j >= format.size()) return false;
    const char conv = format[j];
    if (next >= args.size()) return false;
    const FmtArg& a = args[next++];
    char buf[1100];
    if (conv == 'd' || conv == 'u' || conv == 'x' || conv == 'X') {
      if (!std::holds_alternative<int>(a)) return false;
      conversion += conv;
      std::snprintf(buf, sizeof buf, conversion.c_str(), std::get<int>(a));
      out += buf;
    } else if (conv == 's') {
      if (!std::holds_alternative<std::string>(a)) return false;
      // Width and precision of text are applied by hand: the text may be long.
      const std::string& s = std::get<std::string>(a);
      std::size_t prec = std::string::npos;
      const auto dot = conversion.find('.');
      if (dot != std::string::npos) prec = std::strtoul(conversion.c_str() + dot + 1, nullptr, 10);
      std::string text = s.substr(0, prec);
      std::size_t width = 0;
      const std::string w = conversion.substr(1, dot == std::string::npos ? std::string::npos : dot - 1);
      std::string wd;
      for (char c : w)
        if (std::isdigit(static_cast<unsigned char>(c)) && !(wd.empty() && c == '0')) wd += c;
      if (!wd.empty()) width = std::strtoul(wd.c_str(), nullptr, 10);
      if (text.size() < width) {
        if (conversion.find('-') != std::string::npos)
          text.append(width - text.size(), ' ');
        else
          text.insert(0, width - text.size(), ' ');
      }
      out += text;
    } else {
      return false;
    }
    i = j;
  }
  return true;
}

}  // namespace zv
