#pragma once
// Text helpers: the program's strings are UTF-8; names are handled as
// characters, not bytes.  Older settings files come in Windows-1251.
#include <string>
#include <string_view>
#include <vector>

namespace zv {

std::u32string Utf8ToU32(std::string_view s);
std::string U32ToUtf8(std::u32string_view s);
bool IsValidUtf8(std::string_view s);
std::string Cp1251ToUtf8(std::string_view s);
// Characters that Windows-1251 cannot hold become '?'.
std::string Utf8ToCp1251(std::string_view s);

// Case mapping for ASCII and Cyrillic letters; other characters unchanged.
char32_t ToUpperChar(char32_t c);
char32_t ToLowerChar(char32_t c);
std::string ToUpperUtf8(std::string_view s);
std::string ToLowerUtf8(std::string_view s);
std::string AsciiUpper(std::string s);

std::string Trim(std::string_view s);
// Splits "a, b; c" into items at blanks, tabs, commas and semicolons.
std::vector<std::string> SplitAddresses(const std::string& text);

// Decimal text of a double with "." as separator and no trailing zeros
// ("0.02", "100", "0.001"), whatever the machine's locale.
std::string FormatFloat(double v);
// Parses a decimal number with "." (a "," is accepted too), whatever the
// machine's locale; false when the text is not a number.
bool ParseFloat(std::string_view s, double& out);

}  // namespace zv
