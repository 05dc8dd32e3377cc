#pragma once
// The registry of the modem library as files: one INI-style file per root key
// ("<folder>/<RootKey>.ini") in a folder the caller gives, one section per
// key path, every value a string.  Line breaks and backslashes inside values
// are escaped so that any text reads back unchanged.
#include <map>
#include <string>

namespace zv {

class TKeyStore {
 public:
  using Values = std::map<std::string, std::string>;

  explicit TKeyStore(std::string folder) : folder_(std::move(folder)) {}
  const std::string& Folder() const { return folder_; }

  // The values of KeyPath under RootKey; false when the key does not exist
  // (the file or its section is missing or cannot be read).
  bool ReadKey(const std::string& rootKey, const std::string& keyPath, Values& values) const;
  // Creates the key if needed and sets the given values in it, keeping the
  // others; false when the file cannot be written.
  bool WriteKey(const std::string& rootKey, const std::string& keyPath, const Values& values) const;

  std::string FileFor(const std::string& rootKey) const;

 private:
  std::string folder_;
};

}  // namespace zv
