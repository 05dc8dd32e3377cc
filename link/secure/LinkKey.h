#pragma once
// The link key an Object shares with its station: 32 random bytes, set on
// the station in the Object's record and at the site in its link settings.
//
// The key never leaves this type as bytes except to the handshake: there is
// no stream operator, and what may appear in a journal line is the key's
// fingerprint (the first 4 bytes of a hash of it), enough to tell two keys
// apart and useless for finding the key.
#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

namespace zv {

// Why a text is not a key.
enum class KeyTextError : std::uint8_t {
  Ok,
  Empty,         // no text at all: no key (the link runs without one)
  BadCharacter,  // something other than hex digits and separators
  WrongLength,   // not exactly 64 hex digits
  AllZero,       // 32 zero bytes are never a generated key
};

class LinkKey {
 public:
  static constexpr std::size_t kSize = 32;

  // No key.
  LinkKey() = default;
  LinkKey(const LinkKey& other) = default;
  LinkKey& operator=(const LinkKey& other) = default;
  ~LinkKey();

  // A new key from the system's random source.
  static LinkKey Generate();
  // A key with these kSize bytes.
  static LinkKey FromBytes(const std::uint8_t* bytes);

  // Reads a key from its text: 64 hex digits in either case; blanks, tabs,
  // '-', ':' and '.' between them are ignored (keys are copied from mails
  // and read over the phone in groups).  Anything else, or another number
  // of digits, is an error and out stays as it was.
  static KeyTextError Parse(std::string_view text, LinkKey& out);
  // A sentence for the operator saying what is wrong with a text.
  static std::string ErrorText(KeyTextError e);

  bool Empty() const { return !set_; }
  // 64 lower-case hex digits, for the settings file; empty without a key.
  std::string ToText() const;
  // The same digits in groups of four separated by blanks, for reading
  // and comparing by eye.
  std::string ToGroupedText() const;
  // "#" and 8 hex digits: tells keys apart in the journal; empty without a key.
  std::string Fingerprint() const;

  // The bytes, for the handshake only.
  const std::uint8_t* Bytes() const { return bytes_.data(); }

  // Compared in constant time; two empty keys are equal.
  friend bool operator==(const LinkKey& a, const LinkKey& b);

  // Never print a key's bytes.
  friend std::ostream& operator<<(std::ostream&, const LinkKey&) = delete;

 private:
  std::array<std::uint8_t, kSize> bytes_{};
  bool set_ = false;
};

// Test frameworks print values through PrintTo: a key shows its fingerprint.
void PrintTo(const LinkKey& key, std::ostream* os);

// Readies the cryptographic library; throws std::runtime_error when it cannot.
void EnsureSodium();

}  // namespace zv
