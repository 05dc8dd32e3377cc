#pragma once
// Helpers shared by the fuzz targets: taking typed values off the input, a
// small deterministic generator for read boundaries, a scratch folder for
// targets whose parser reads files, and the check that stops a run.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zv::fuzz {

// Stops the run with a message: a broken invariant counts as a crash.
[[noreturn]] void Fail(const char* what);
inline void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

// Reads typed values off the front of the input; past the end every value is 0.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : p_(data), left_(size) {}
  std::uint8_t Byte();
  std::uint16_t U16();
  std::uint32_t U32();
  // Up to n bytes (fewer when the input runs out).
  std::vector<std::uint8_t> Bytes(std::size_t n);
  // Everything that is left.
  std::vector<std::uint8_t> Rest();
  std::size_t Left() const { return left_; }
  const std::uint8_t* Data() const { return p_; }

 private:
  const std::uint8_t* p_;
  std::size_t left_;
};

// xorshift32: the same seed always gives the same read boundaries.
class Pieces {
 public:
  explicit Pieces(std::uint32_t seed) : s_(seed ? seed : 0x9E3779B9u) {}
  std::uint32_t Next();
  // A piece length in 1..max, small ones more likely (1-byte reads matter).
  std::size_t Length(std::size_t max);

 private:
  std::uint32_t s_;
};

// A folder of this process on a memory file system when there is one,
// created on first use and removed at exit.
const std::string& ScratchDir();
void WriteWholeFile(const std::string& path, const void* data, std::size_t size);
std::string ReadWholeFile(const std::string& path);

}  // namespace zv::fuzz
