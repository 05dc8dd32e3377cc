// The replay program of a fuzz target (built without libFuzzer): runs every
// file given, and every file of every folder given, through the target once.
// A crash, a sanitizer report or a failed check ends it as it would end a
// fuzzing run, so every saved input is a regression test.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool Run(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file.c_str());
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE|FOLDER...\n", argv[0]);
    return 2;
  }
  std::size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg(argv[i]);
    std::vector<fs::path> files;
    std::error_code ec;
    if (fs::is_directory(arg, ec)) {
      for (const auto& e : fs::directory_iterator(arg, ec))
        if (e.is_regular_file()) files.push_back(e.path());
      std::sort(files.begin(), files.end());
    } else if (fs::is_regular_file(arg, ec)) {
      files.push_back(arg);
    } else {
      std::fprintf(stderr, "%s: no such file or folder\n", argv[i]);
      return 2;
    }
    for (const auto& f : files) {
      if (!Run(f)) return 2;
      ++count;
    }
  }
  std::printf("%zu inputs replayed\n", count);
  // An empty corpus proves nothing: a folder that lost its files fails.
  return count > 0 ? 0 : 1;
}
