#include "link/secure/LinkKey.h"

#include <sodium.h>

#include <algorithm>
#include <ostream>
#include <stdexcept>

namespace zv {

void EnsureSodium() {
  static const int ready = sodium_init();
  if (ready < 0) throw std::runtime_error("криптографическая библиотека не инициализирована");
}

LinkKey::~LinkKey() {
  sodium_memzero(bytes_.data(), bytes_.size());
}

LinkKey LinkKey::Generate() {
  EnsureSodium();
  LinkKey k;
  // A zero key is refused when read back; the chance of drawing one is nil,
  // but drawing again costs nothing.
  do {
    randombytes_buf(k.bytes_.data(), k.bytes_.size());
  } while (sodium_is_zero(k.bytes_.data(), k.bytes_.size()));
  k.set_ = true;
  return k;
}

LinkKey LinkKey::FromBytes(const std::uint8_t* bytes) {
  LinkKey k;
  std::copy(bytes, bytes + kSize, k.bytes_.begin());
  k.set_ = true;
  return k;
}

namespace {
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
bool Separator(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '-' || c == ':' || c == '.';
}
constexpr char kDigits[] = "0123456789abcdef";
}  // namespace

KeyTextError LinkKey::Parse(std::string_view text, LinkKey& out) {
  std::array<std::uint8_t, kSize> bytes{};
  std::size_t digits = 0;
  bool tooMany = false;
  for (const char c : text) {
    if (Separator(c)) continue;
    const int v = HexValue(c);
    if (v < 0) {
      sodium_memzero(bytes.data(), bytes.size());
      return KeyTextError::BadCharacter;
    }
    if (digits < 2 * kSize)
      bytes[digits / 2] = static_cast<std::uint8_t>(bytes[digits / 2] << 4 | v);
    else
      tooMany = true;
    ++digits;
  }
  KeyTextError result = KeyTextError::Ok;
  if (digits == 0)
    result = KeyTextError::Empty;
  else if (tooMany || digits != 2 * kSize)
    result = KeyTextError::WrongLength;
  else if (sodium_is_zero(bytes.data(), bytes.size()))
    result = KeyTextError::AllZero;
  if (result == KeyTextError::Ok) out = FromBytes(bytes.data());
  sodium_memzero(bytes.data(), bytes.size());
  return result;
}

std::string LinkKey::ErrorText(KeyTextError e) {
  switch (e) {
    case KeyTextError::Ok:
      return {};
    case KeyTextError::Empty:
      return "Ключ связи не задан";
    case KeyTextError::BadCharacter:
      return "Ключ связи может содержать только шестнадцатеричные цифры 0-9 и a-f";
    case KeyTextError::WrongLength:
      return "Ключ связи должен состоять ровно из 64 шестнадцатеричных цифр";
    case KeyTextError::AllZero:
      return "Ключ связи из одних нулей недопустим: создайте новый ключ";
  }
  return {};
}

std::string LinkKey::ToText() const {
  if (!set_) return {};
  std::string s;
  s.reserve(2 * kSize);
  for (const std::uint8_t b : bytes_) {
    s.push_back(kDigits[b >> 4]);
    s.push_back(kDigits[b & 15]);
  }
  return s;
}

std::string LinkKey::ToGroupedText() const {
  const std::string plain = ToText();
  std::string s;
  for (std::size_t i = 0; i < plain.size(); ++i) {
    if (i > 0 && i % 4 == 0) s.push_back(' ');
    s.push_back(plain[i]);
  }
  return s;
}

std::string LinkKey::Fingerprint() const {
  if (!set_) return {};
  EnsureSodium();
  // A hash of its own kind, so that it has nothing in common with what the
  // handshake computes with the key.
  static constexpr unsigned char kLabel[] = "Zorvenix link key fingerprint";
  std::uint8_t h[crypto_generichash_BYTES];
  crypto_generichash_state st;
  crypto_generichash_init(&st, nullptr, 0, sizeof h);
  crypto_generichash_update(&st, kLabel, sizeof kLabel - 1);
  crypto_generichash_update(&st, bytes_.data(), bytes_.size());
  crypto_generichash_final(&st, h, sizeof h);
  std::string s = "#";
  for (int i = 0; i < 4; ++i) {
    s.push_back(kDigits[h[i] >> 4]);
    s.push_back(kDigits[h[i] & 15]);
  }
  return s;
}

bool operator==(const LinkKey& a, const LinkKey& b) {
  if (a.set_ != b.set_) return false;
  return sodium_memcmp(a.bytes_.data(), b.bytes_.data(), LinkKey::kSize) == 0;
}

void PrintTo(const LinkKey& key, std::ostream* os) {
  *os << (key.Empty() ? std::string("LinkKey(none)") : "LinkKey(" + key.Fingerprint() + ")");
}

}  // namespace zv
