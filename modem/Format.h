#pragma once
// printf-like formatting for the modem library.  Fmt takes a literal format;
// FormatArgs takes a format that comes from settings (command templates) and
// checks every conversion against its argument, so a wrong template fails
// cleanly instead of reading memory it should not.
#include <string>
#include <variant>
#include <vector>

namespace zv {

std::string Fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));

using FmtArg = std::variant<int, std::string>;

// Supports %d %u %x %X (integers), %s (text) and %%, with the flags "-0",
// a width and a precision.  False when a conversion is unknown, lacks its
// argument or has one of the wrong kind.  Extra arguments are ignored.
bool FormatArgs(const std::string& format, const std::vector<FmtArg>& args, std::string& out);

}  // namespace zv
