#pragma once
// A small JSON writer and reader for the station's messages to the outside
// world.  Texts are UTF-8 and pass through as they are (Cyrillic included);
// only what JSON requires is escaped, and bytes that are not valid UTF-8 are
// replaced by U+FFFD, so that a damaged name never makes a message that a
// receiver refuses as a whole.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zv::json {

// Appends s to out as a JSON string literal, quotes included.
void AppendString(std::string& out, std::string_view s);
std::string Quote(std::string_view s);

// Builds one JSON value.  Object keys and values are written in the order of
// the calls; a value after a key, an element inside an array.
class Writer {
 public:
  Writer& BeginObject();
  Writer& EndObject();
  Writer& BeginArray();
  Writer& EndArray();
  Writer& Key(std::string_view k);
  Writer& String(std::string_view v);
  Writer& Int(long long v);
  Writer& Bool(bool v);
  Writer& Null();
  // Shorthands for a key and its value.
  Writer& Field(std::string_view k, std::string_view v) { return Key(k).String(v); }
  Writer& Field(std::string_view k, const char* v) { return Key(k).String(v); }
  Writer& Field(std::string_view k, long long v) { return Key(k).Int(v); }
  Writer& Field(std::string_view k, int v) { return Key(k).Int(v); }
  Writer& Field(std::string_view k, bool v) { return Key(k).Bool(v); }

  const std::string& Text() const { return out_; }

 private:
  void Separate();
  std::string out_;
  std::vector<bool> first_;  // per open container: nothing written in it yet
  bool afterKey_ = false;
};

// A parsed value.  Numbers are kept as doubles; objects keep the last of
// duplicate keys.
struct Value {
  enum class Type { Null, Bool, Number, String, Array, Object };
  Type type = Type::Null;
  bool boolean = false;
  double number = 0;
  std::string string;
  std::vector<Value> array;
  std::map<std::string, Value> object;

  bool Is(Type t) const { return type == t; }
  // The member k of an object, or nullptr.
  const Value* Find(const std::string& k) const;
};

// Parses a whole text (surrounding blanks allowed).  Nothing on malformed
// input, on nesting deeper than 64 levels, or on texts over 1 MB.
std::optional<Value> Parse(std::string_view text);

}  // namespace zv::json
