#include "remote/Json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zv::json {

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not one
// (overlong forms, surrogates and values past U+10FFFF included).
std::size_t Utf8Length(std::string_view s, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  if (c < 0x80) return 1;
  std::size_t n;
  unsigned lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  if (b(i + 1) < lo || b(i + 1) > hi) return 0;
  for (std::size_t k = 2; k < n; ++k)
    if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
  return n;
}

void AppendUtf8(std::string& out, unsigned cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

void AppendString(std::string& out, std::string_view s) {
  out += '"';
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      const std::size_t n = Utf8Length(s, i);
      if (n == 0) {
        out += "\xEF\xBF\xBD";  // U+FFFD for a byte that starts no character
        ++i;
      } else {
        out.append(s.substr(i, n));
        i += n;
      }
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else if (c == '/' && i > 0 && s[i - 1] == '<') {
          out += "\\/";  // "</" never appears, so a message can sit in a page's script
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
}

std::string Quote(std::string_view s) {
  std::string out;
  AppendString(out, s);
  return out;
}

void Writer::Separate() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!first_.empty()) {
    if (!first_.back()) out_ += ',';
    first_.back() = false;
  }
}

Writer& Writer::BeginObject() {
  Separate();
  out_ += '{';
  first_.push_back(true);
  return *this;
}
Writer& Writer::EndObject() {
  out_ += '}';
  first_.pop_back();
  return *this;
}
Writer& Writer::BeginArray() {
  Separate();
  out_ += '[';
  first_.push_back(true);
  return *this;
}
Writer& Writer::EndArray() {
  out_ += ']';
  first_.pop_back();
  return *this;
}
Writer& Writer::Key(std::string_view k) {
  Separate();
  AppendString(out_, k);
  out_ += ':';
  afterKey_ = true;
  return *this;
}
Writer& Writer::String(std::string_view v) {
  Separate();
  AppendString(out_, v);
  return *this;
}
Writer& Writer::Int(long long v) {
  Separate();
  out_ += std::to_string(v);
  return *this;
}
Writer& Writer::Bool(bool v) {
  Separate();
  out_ += v ? "true" : "false";
  return *this;
}
Writer& Writer::Null() {
  Separate();
  out_ += "null";
  return *this;
}

const Value* Value::Find(const std::string& k) const {
  if (type != Type::Object) return nullptr;
  auto it = object.find(k);
  return it == object.end() ? nullptr : &it->second;
}

namespace {

class Parser {
 public:
  explicit Parser(std::string_view t) : t_(t) {}

  std::optional<Value> Whole() {
    Value v;
    if (!ParseValue(v, 0)) return std::nullopt;
    Blanks();
    if (p_ != t_.size()) return std::nullopt;
    return v;
  }

 private:
  void Blanks() {
    while (p_ < t_.size() && (t_[p_] == ' ' || t_[p_] == '\t' || t_[p_] == '\n' || t_[p_] == '\r'))
      ++p_;
  }
  bool Literal(std::string_view word) {
    if (t_.substr(p_, word.size()) != word) return false;
    p_ += word.size();
    return true;
  }
  bool Hex4(unsigned& v) {
    if (p_ + 4 > t_.size()) return false;
    v = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = t_[p_++];
      v <<= 4;
      if (c >= '0' && c <= '9')
        v |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f')
        v |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        v |= static_cast<unsigned>(c - 'A' + 10);
      else
        return false;
    }
    return true;
  }
  bool ParseString(std::string& out) {
    if (p_ >= t_.size() || t_[p_] != '"') return false;
    ++p_;
    while (p_ < t_.size()) {
      const unsigned char c = static_cast<unsigned char>(t_[p_]);
      if (c == '"') {
        ++p_;
        return true;
      }
      if (c < 0x20) return false;
      if (c >= 0x80) {
        const std::size_t n = Utf8Length(t_, p_);
        if (n == 0) return false;
        out.append(t_.substr(p_, n));
        p_ += n;
        continue;
      }
      ++p_;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (p_ >= t_.size()) return false;
      const char e = t_[p_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'u': {
          unsigned cp;
          if (!Hex4(cp)) return false;
          if (cp >= 0xDC00 && cp <= 0xDFFF) return false;
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            unsigned lo;
            if (!Literal("\\u") || !Hex4(lo) || lo < 0xDC00 || lo > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          }
          AppendUtf8(out, cp);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }
  bool ParseNumber(double& out) {
    const std::size_t start = p_;
    if (p_ < t_.size() && t_[p_] == '-') ++p_;
    const auto digits = [&] {
      const std::size_t s = p_;
      while (p_ < t_.size() && t_[p_] >= '0' && t_[p_] <= '9') ++p_;
      return p_ - s;
    };
    const std::size_t intStart = p_;
    if (digits() == 0) return false;
    if (t_[intStart] == '0' && p_ - intStart > 1) return false;
    if (p_ < t_.size() && t_[p_] == '.') {
      ++p_;
      if (digits() == 0) return false;
    }
    if (p_ < t_.size() && (t_[p_] == 'e' || t_[p_] == 'E')) {
      ++p_;
      if (p_ < t_.size() && (t_[p_] == '+' || t_[p_] == '-')) ++p_;
      if (digits() == 0) return false;
    }
    // The text is plain JSON (never locale-dependent): parse it by hand.
    const std::string_view num = t_.substr(start, p_ - start);
    double mant = 0;
    int exp10 = 0;
    std::size_t i = num[0] == '-' ? 1 : 0;
    for (; i < num.size() && num[i] >= '0' && num[i] <= '9'; ++i) mant = mant * 10 + (num[i] - '0');
    if (i < num.size() && num[i] == '.')
      for (++i; i < num.size() && num[i] >= '0' && num[i] <= '9'; ++i) {
        mant = mant * 10 + (num[i] - '0');
        --exp10;
      }
    if (i < num.size() && (num[i] == 'e' || num[i] == 'E')) {
      ++i;
      bool neg = false;
      if (num[i] == '+' || num[i] == '-') neg = num[i++] == '-';
      int e = 0;
      for (; i < num.size(); ++i) e = e < 10000 ? e * 10 + (num[i] - '0') : e;
      exp10 += neg ? -e : e;
    }
    out = mant * std::pow(10.0, exp10);
    if (num[0] == '-') out = -out;
    return std::isfinite(out);
  }
  bool ParseValue(Value& v, int depth) {
    if (depth > 64) return false;
    Blanks();
    if (p_ >= t_.size()) return false;
    const char c = t_[p_];
    if (c == '{') {
      ++p_;
      v.type = Value::Type::Object;
      Blanks();
      if (p_ < t_.size() && t_[p_] == '}') {
        ++p_;
        return true;
      }
      for (;;) {
        Blanks();
        std::string key;
        if (!ParseString(key)) return false;
        Blanks();
        if (p_ >= t_.size() || t_[p_++] != ':') return false;
        Value member;
        if (!ParseValue(member, depth + 1)) return false;
        v.object[key] = std::move(member);
        Blanks();
        if (p_ >= t_.size()) return false;
        if (t_[p_] == ',') {
          ++p_;
          continue;
        }
        if (t_[p_++] != '}') return false;
        return true;
      }
    }
    if (c == '[') {
      ++p_;
      v.type = Value::Type::Array;
      Blanks();
      if (p_ < t_.size() && t_[p_] == ']') {
        ++p_;
        return true;
      }
      for (;;) {
        Value element;
        if (!ParseValue(element, depth + 1)) return false;
        v.array.push_back(std::move(element));
        Blanks();
        if (p_ >= t_.size()) return false;
        if (t_[p_] == ',') {
          ++p_;
          continue;
        }
        if (t_[p_++] != ']') return false;
        return true;
      }
    }
    if (c == '"') {
      v.type = Value::Type::String;
      return ParseString(v.string);
    }
    if (Literal("true")) {
      v.type = Value::Type::Bool;
      v.boolean = true;
      return true;
    }
    if (Literal("false")) {
      v.type = Value::Type::Bool;
      return true;
    }
    if (Literal("null")) return true;
    v.type = Value::Type::Number;
    return ParseNumber(v.number);
  }

  std::string_view t_;
  std::size_t p_ = 0;
};

}  // namespace

std::optional<Value> Parse(std::string_view text) {
  if (text.size() > 1024 * 1024) return std::nullopt;
  return Parser(text).Whole();
}

}  // namespace zv::json
