#pragma once
// The web view's accounts: the file "WebUsers" in the data folder, one
// account a line,
//
//   name:objects:hash
//
// objects is "*" for an account that sees every Object (the station's own
// staff) or the IDs of the owner's Objects separated by commas; hash is the
// password's Argon2id hash in libsodium's text form.  Lines starting with
// '#' are comments.  The file is written through a temporary file and a
// rename, readable by its owner only.
#include <set>
#include <string>
#include <vector>

namespace zv::web {

struct WebAccount {
  std::string name;
  bool allObjects = false;
  std::set<int> objects;
  std::string hash;

  bool Sees(int objectId) const { return allObjects || objects.count(objectId) > 0; }
};

class WebAccounts {
 public:
  // A missing file is an empty list.  False with the reason when the file
  // can't be read; malformed lines are skipped and counted.
  bool Load(const std::string& path, std::string& error);
  bool Save(const std::string& path, std::string& error) const;

  const WebAccount* Find(const std::string& name) const;
  void Set(const WebAccount& a);
  bool Remove(const std::string& name);
  const std::vector<WebAccount>& All() const { return accounts_; }
  int SkippedLines() const { return skipped_; }

  // Names: 1..64 characters, no ':', no blanks or control characters.
  static bool ValidName(const std::string& name);
  // "*" or IDs separated by commas; false when it is neither.
  static bool ParseObjects(const std::string& text, bool& all, std::set<int>& ids);
  static std::string FormatObjects(const WebAccount& a);

  // The password's hash (Argon2id, libsodium's interactive limits); empty
  // when it could not be made.
  static std::string HashPassword(const std::string& password);
  static bool VerifyPassword(const std::string& hash, const std::string& password);

 private:
  std::vector<WebAccount> accounts_;
  int skipped_ = 0;
};

}  // namespace zv::web
