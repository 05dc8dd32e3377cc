#include "fuzz/FuzzSupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace zv::fuzz {

void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

std::uint8_t Input::Byte() {
  if (left_ == 0) return 0;
  --left_;
  return *p_++;
}

std::uint16_t Input::U16() {
  const std::uint16_t lo = Byte();
  return static_cast<std::uint16_t>(lo | Byte() << 8);
}

std::uint32_t Input::U32() {
  const std::uint32_t lo = U16();
  return lo | static_cast<std::uint32_t>(U16()) << 16;
}

std::vector<std::uint8_t> Input::Bytes(std::size_t n) {
  if (n > left_) n = left_;
  std::vector<std::uint8_t> out(p_, p_ + n);
  p_ += n;
  left_ -= n;
  return out;
}

std::vector<std::uint8_t> Input::Rest() {
  return Bytes(left_);
}

std::uint32_t Pieces::Next() {
  s_ ^= s_ << 13;
  s_ ^= s_ >> 17;
  s_ ^= s_ << 5;
  return s_;
}

std::size_t Pieces::Length(std::size_t max) {
  if (max <= 1) return 1;
  const std::uint32_t r = Next();
  // Half the pieces are 1..8 bytes, the rest anything up to max.
  const std::size_t limit = (r & 1) ? std::min<std::size_t>(max, 8) : max;
  return 1 + (r >> 1) % limit;
}

namespace {
struct Scratch {
  std::string path;
  Scratch() {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path base =
        fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    path = (base / ("zv-fuzz-" + std::to_string(::getpid()))).string();
    fs::create_directories(path, ec);
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};
}  // namespace

const std::string& ScratchDir() {
  static Scratch s;
  return s.path;
}

void WriteWholeFile(const std::string& path, const void* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  Check(f != nullptr, "scratch file cannot be created");
  const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  std::fclose(f);
  Check(ok, "scratch file cannot be written");
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace zv::fuzz
