#include "platform/NetworkCamera.h"

#include <algorithm>
#include <cctype>

namespace zv {

namespace {

// Position just after "scheme://", or npos when text at pos does not start an
// address with a scheme (letters, digits, '+', '-', '.' before "://").
std::size_t SchemeEnd(const std::string& url) {
  const std::size_t sep = url.find("://");
  if (sep == std::string::npos || sep == 0) return std::string::npos;
  for (std::size_t i = 0; i < sep; ++i) {
    const unsigned char c = static_cast<unsigned char>(url[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return std::string::npos;
  }
  return sep + 3;
}

// End of the authority (user part, host, port) that starts at from.
std::size_t AuthorityEnd(const std::string& text, std::size_t from) {
  std::size_t i = from;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '/' || c == '?' || c == '#' || c == '\'' || c == '"' || c == '<' || c == '>' ||
        std::isspace(static_cast<unsigned char>(c)))
      break;
    ++i;
  }
  return i;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

void ReplaceAll(std::string& text, const std::string& what, const std::string& with) {
  if (what.empty()) return;
  std::size_t pos = 0;
  while ((pos = text.find(what, pos)) != std::string::npos) {
    text.replace(pos, what.size(), with);
    pos += with.size();
  }
}

}  // namespace

bool IsNetworkUrl(const std::string& url) {
  const std::size_t end = SchemeEnd(url);
  if (end == std::string::npos) return false;
  std::string scheme = url.substr(0, end - 3);
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return scheme != "file";
}

std::string RedactUrl(const std::string& url) {
  const std::size_t start = SchemeEnd(url);
  if (start == std::string::npos) return url;
  const std::size_t end = AuthorityEnd(url, start);
  const std::size_t at = url.rfind('@', end == 0 ? 0 : end - 1);
  if (at == std::string::npos || at < start || at >= end) return url;
  return url.substr(0, start) + url.substr(at + 1);
}

std::string PercentEncode(const std::string& text) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string InsertCredentials(const std::string& url, const std::string& user,
                              const std::string& password) {
  if (user.empty() || !IsNetworkUrl(url)) return url;
  const std::string bare = RedactUrl(url);
  const std::size_t start = SchemeEnd(bare);
  std::string userinfo = PercentEncode(user);
  if (!password.empty()) userinfo += ":" + PercentEncode(password);
  return bare.substr(0, start) + userinfo + "@" + bare.substr(start);
}

bool SplitCredentials(std::string& url, std::string& user, std::string& password) {
  const std::size_t start = SchemeEnd(url);
  if (start == std::string::npos) return false;
  const std::size_t end = AuthorityEnd(url, start);
  const std::size_t at = url.rfind('@', end == 0 ? 0 : end - 1);
  if (at == std::string::npos || at < start || at >= end) return false;
  const std::string userinfo = url.substr(start, at - start);
  const std::size_t colon = userinfo.find(':');
  user = PercentDecode(userinfo.substr(0, colon));
  password = colon == std::string::npos ? std::string() : PercentDecode(userinfo.substr(colon + 1));
  url = url.substr(0, start) + url.substr(at + 1);
  return true;
}

std::string Base64(const std::string& text) {
  static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < text.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(text[i]) << 16 |
                       static_cast<unsigned char>(text[i + 1]) << 8 |
                       static_cast<unsigned char>(text[i + 2]);
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += kAlphabet[v >> 6 & 63];
    out += kAlphabet[v & 63];
  }
  if (i + 1 == text.size()) {
    const unsigned v = static_cast<unsigned char>(text[i]) << 16;
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += "==";
  } else if (i + 2 == text.size()) {
    const unsigned v =
        static_cast<unsigned char>(text[i]) << 16 | static_cast<unsigned char>(text[i + 1]) << 8;
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += kAlphabet[v >> 6 & 63];
    out += '=';
  }
  return out;
}

// ---------------------------------------------------------------------------

namespace {

// The forms a credential may take in a text: as typed, percent-encoded
// (inside an address) and, for the pair, base64 (basic authentication).
std::vector<std::string> SecretForms(const std::string& user, const std::string& password) {
  std::vector<std::string> forms;
  if (!password.empty()) {
    forms.push_back(password);
    forms.push_back(PercentEncode(password));
  }
  if (!user.empty() || !password.empty()) forms.push_back(Base64(user + ":" + password));
  return forms;
}

}  // namespace

void SecretRedactor::Add(const std::string& user, const std::string& password) {
  for (std::string& s : SecretForms(user, password)) secrets_.push_back(std::move(s));
  // Longest first, so that a secret inside another is not half replaced.
  std::stable_sort(secrets_.begin(), secrets_.end(),
                   [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
}

void SecretRedactor::Remove(const std::string& user, const std::string& password) {
  for (const std::string& s : SecretForms(user, password)) {
    auto it = std::find(secrets_.begin(), secrets_.end(), s);
    if (it != secrets_.end()) secrets_.erase(it);
  }
}

std::string SecretRedactor::Redact(std::string text) const {
  // The user part of every address in the text.
  std::size_t pos = 0;
  while ((pos = text.find("://", pos)) != std::string::npos) {
    const std::size_t start = pos + 3;
    const std::size_t end = AuthorityEnd(text, start);
    const std::size_t at = text.rfind('@', end == 0 ? 0 : end - 1);
    if (at != std::string::npos && at >= start && at < end) {
      text.replace(start, at + 1 - start, "***@");
      pos = start + 4;
    } else {
      pos = start;
    }
  }
  // Header values that carry credentials, to the end of their line.
  for (const char* header : {"Authorization:", "authorization:", "AUTHORIZATION:"}) {
    std::size_t h = 0;
    while ((h = text.find(header, h)) != std::string::npos) {
      const std::size_t from = h + std::char_traits<char>::length(header);
      std::size_t eol = text.find_first_of("\r\n", from);
      if (eol == std::string::npos) eol = text.size();
      text.replace(from, eol - from, " ***");
      h = from + 4;
    }
  }
  for (const std::string& s : secrets_) ReplaceAll(text, s, "***");
  return text;
}

}  // namespace zv
