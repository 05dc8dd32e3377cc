// The key store's files (the modem library's registry): any file is read;
// saving the modem profile into it and loading it again gives the same
// profile; the other keys of the file keep their values; and any value
// written reads back unchanged.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "modem/KeyStore.h"
#include "modem/ModemProfile.h"

namespace {

using zv::TKeyStore;
using zv::fuzz::Check;

const char* kRoot = "HKEY_CURRENT_USER";
const char* kProfileKey = "Software\\Zorvenix\\Modem";

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The key paths the file names (its section headers), as a user would see them.
std::vector<std::string> KeyPaths(const std::string& file) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos < file.size()) {
    std::size_t nl = file.find('\n', pos);
    if (nl == std::string::npos) nl = file.size();
    std::string line = file.substr(pos, nl - pos);
    pos = nl + 1;
    const auto b = line.find_first_not_of(" \t");
    const auto e = line.find_last_not_of(" \t\r");
    if (b == std::string::npos || line[b] != '[' || line[e] != ']' || e == b) continue;
    out.push_back(line.substr(b + 1, e - b - 1));
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 100000) return 0;
  const std::string file(reinterpret_cast<const char*>(data), size);
  const TKeyStore store(zv::fuzz::ScratchDir());
  zv::fuzz::WriteWholeFile(store.FileFor(kRoot), data, size);

  // The keys at the start and at the end of the file (each read parses the
  // whole file: all of them would make a file of many keys a slow input).
  std::vector<std::string> paths = KeyPaths(file);
  if (paths.size() > 8) paths.erase(paths.begin() + 6, paths.end() - 2);
  std::vector<std::pair<std::string, TKeyStore::Values>> others;
  for (const auto& path : paths) {
    if (Lower(path) == Lower(kProfileKey) || path.empty()) continue;
    TKeyStore::Values v;
    if (store.ReadKey(kRoot, path, v)) others.emplace_back(path, v);
  }

  // Loaded, saved, loaded again and saved again: the second save writes
  // what the first did.
  zv::TModemProfile loaded;
  loaded.LoadFromRegistry(store, kRoot, kProfileKey);
  loaded.SaveToRegistry(store, kRoot, kProfileKey);
  TKeyStore::Values first, second;
  Check(store.ReadKey(kRoot, kProfileKey, first), "a saved profile reads");
  zv::TModemProfile again;
  again.LoadFromRegistry(store, kRoot, kProfileKey);
  again.SaveToRegistry(store, kRoot, kProfileKey);
  Check(store.ReadKey(kRoot, kProfileKey, second) && second == first,
        "a saved profile loads as it was");

  for (const auto& [path, before] : others) {
    TKeyStore::Values after;
    Check(store.ReadKey(kRoot, path, after), "another key is still there");
    Check(after == before, "another key keeps its values");
  }

  // A value of any bytes reads back as written.
  const std::string value = file.substr(0, 64);
  Check(store.WriteKey(kRoot, "Software\\Zorvenix\\Test", {{"Value", value}}), "a key is written");
  TKeyStore::Values v;
  Check(store.ReadKey(kRoot, "Software\\Zorvenix\\Test", v), "a written key reads");
  bool found = false;
  for (const auto& [k, x] : v)
    if (Lower(k) == "value") {
      found = true;
      Check(x == value, "a value reads back as written");
    }
  Check(found, "the value written is there");
  return 0;
}
