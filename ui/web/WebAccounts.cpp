#include "ui/web/WebAccounts.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

namespace zv::web {

namespace {
std::once_flag gSodium;
bool gSodiumReady = false;
bool Sodium() {
  std::call_once(gSodium, [] { gSodiumReady = sodium_init() >= 0; });
  return gSodiumReady;
}
}  // namespace

bool WebAccounts::ValidName(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == ':' || c == ' ' || u < 0x20 || u == 0x7F) return false;
  }
  return true;
}

bool WebAccounts::ParseObjects(const std::string& text, bool& all, std::set<int>& ids) {
  all = false;
  ids.clear();
  if (text == "*") {
    all = true;
    return true;
  }
  std::stringstream ss(text);
  std::string item;
  while (std::getline(ss, item, ',')) {
    if (item.empty() || item.size() > 9 ||
        !std::all_of(item.begin(), item.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return false;
    const int id = std::stoi(item);
    if (id <= 0) return false;
    ids.insert(id);
  }
  return true;
}

std::string WebAccounts::FormatObjects(const WebAccount& a) {
  if (a.allObjects) return "*";
  std::string out;
  for (int id : a.objects) out += (out.empty() ? "" : ",") + std::to_string(id);
  return out;
}

bool WebAccounts::Load(const std::string& path, std::string& error) {
  accounts_.clear();
  skipped_ = 0;
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    if (errno == ENOENT) return true;
    error = "\"" + path + "\": " + std::strerror(errno);
    return false;
  }
  std::string line;
  while (std::getline(f, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const auto a = line.find(':');
    const auto b = a == std::string::npos ? a : line.find(':', a + 1);
    WebAccount acc;
    if (b == std::string::npos) {
      ++skipped_;
      continue;
    }
    acc.name = line.substr(0, a);
    acc.hash = line.substr(b + 1);
    if (!ValidName(acc.name) || acc.hash.empty() ||
        !ParseObjects(line.substr(a + 1, b - a - 1), acc.allObjects, acc.objects)) {
      ++skipped_;
      continue;
    }
    Set(acc);
  }
  return true;
}

bool WebAccounts::Save(const std::string& path, std::string& error) const {
  std::string text =
      "# Zorvenix web view accounts: name:objects:hash\n"
      "# objects: * (every Object) or the owner's Object IDs separated by commas.\n"
      "# Set a password with: zorvenix --web-passwd NAME [--web-objects LIST]\n";
  for (const auto& a : accounts_) text += a.name + ":" + FormatObjects(a) + ":" + a.hash + "\n";
  const std::string tmp = path + ".tmp";
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = "\"" + tmp + "\": " + std::strerror(errno);
    return false;
  }
  ::fchmod(fd, 0600);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) {
      error = "\"" + tmp + "\": " + std::strerror(errno);
      ::close(fd);
      ::unlink(tmp.c_str());
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  if (!synced || ::rename(tmp.c_str(), path.c_str()) != 0) {
    error = "\"" + path + "\": " + std::strerror(errno);
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

const WebAccount* WebAccounts::Find(const std::string& name) const {
  for (const auto& a : accounts_)
    if (a.name == name) return &a;
  return nullptr;
}

void WebAccounts::Set(const WebAccount& a) {
  for (auto& x : accounts_)
    if (x.name == a.name) {
      x = a;
      return;
    }
  accounts_.push_back(a);
}

bool WebAccounts::Remove(const std::string& name) {
  const auto n = accounts_.size();
  accounts_.erase(std::remove_if(accounts_.begin(), accounts_.end(),
                                 [&](const WebAccount& a) { return a.name == name; }),
                  accounts_.end());
  return accounts_.size() != n;
}

std::string WebAccounts::HashPassword(const std::string& password) {
  if (!Sodium()) return {};
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
    return {};
  return out;
}

bool WebAccounts::VerifyPassword(const std::string& hash, const std::string& password) {
  if (!Sodium() || hash.empty() || hash.size() >= crypto_pwhash_STRBYTES) return false;
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

}  // namespace zv::web
