#include "ui/web/PasswordCommand.h"

#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <istream>
#include <ostream>

#include "ui/web/WebAccounts.h"

namespace zv::web {

namespace {

constexpr std::size_t kMinPassword = 8;

// Reads a line with the terminal's echo off when interactive.
bool ReadSecret(std::istream& in, bool interactive, std::string& line) {
  termios old{};
  const bool tty = interactive && ::tcgetattr(STDIN_FILENO, &old) == 0;
  if (tty) {
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  const bool ok = static_cast<bool>(std::getline(in, line));
  if (tty) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return ok || !line.empty();
}

}  // namespace

bool WantsPasswordCommand(const std::vector<std::string>& args) {
  for (const auto& a : args)
    if (a == "--web-passwd") return true;
  return false;
}

int RunPasswordCommand(const std::vector<std::string>& args, const DataFolderFn& dataFolder,
                       std::istream& in, std::ostream& out, std::ostream& err, bool interactive) {
  std::string name, objects, usersFile, dir;
  bool haveObjects = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string* value = a == "--web-passwd"    ? &name
                         : a == "--web-objects" ? &objects
                         : a == "--web-users"   ? &usersFile
                         : a == "--dir"         ? &dir
                                                : nullptr;
    if (!value) {
      err << "zorvenix: " << a << " is not an option of --web-passwd\n";
      return 2;
    }
    if (i + 1 >= args.size()) {
      err << "zorvenix: " << a << " needs a value\n";
      return 2;
    }
    *value = args[++i];
    if (a == "--web-objects") haveObjects = true;
  }
  if (!WebAccounts::ValidName(name)) {
    err << "zorvenix: the account name must be 1 to 64 characters without ':' or blanks\n";
    return 2;
  }
  WebAccount acc;
  if (haveObjects && !WebAccounts::ParseObjects(objects, acc.allObjects, acc.objects)) {
    err << "zorvenix: --web-objects wants * or Object IDs separated by commas, not \"" << objects
        << "\"\n";
    return 2;
  }
  if (usersFile.empty()) {
    std::string error;
    const std::string folder = dataFolder(dir, error);
    if (folder.empty()) {
      err << "zorvenix: " << error << "\n";
      return 1;
    }
    usersFile = (std::filesystem::path(folder) / "WebUsers").string();
  }
  WebAccounts accounts;
  std::string error;
  if (!accounts.Load(usersFile, error)) {
    err << "zorvenix: " << error << "\n";
    return 1;
  }
  if (const WebAccount* old = accounts.Find(name); old && !haveObjects) {
    acc.allObjects = old->allObjects;
    acc.objects = old->objects;
  } else if (!old && !haveObjects) {
    err << "zorvenix: a new account needs --web-objects (* or the owner's Object IDs)\n";
    return 2;
  }
  std::string password, again;
  if (interactive) err << "Пароль для \"" << name << "\": " << std::flush;
  if (!ReadSecret(in, interactive, password)) {
    err << "\nzorvenix: no password was given\n";
    return 1;
  }
  if (interactive) {
    err << "\nЕщё раз: " << std::flush;
    ReadSecret(in, interactive, again);
    err << "\n";
    if (again != password) {
      err << "zorvenix: the passwords differ; nothing was changed\n";
      return 1;
    }
  }
  if (password.size() < kMinPassword) {
    err << "zorvenix: the password needs at least " << kMinPassword << " characters\n";
    return 1;
  }
  acc.name = name;
  acc.hash = WebAccounts::HashPassword(password);
  if (acc.hash.empty()) {
    err << "zorvenix: the password could not be hashed\n";
    return 1;
  }
  accounts.Set(acc);
  if (!accounts.Save(usersFile, error)) {
    err << "zorvenix: " << error << "\n";
    return 1;
  }
  out << "Пароль веб-доступа для \"" << name << "\" записан в " << usersFile
      << " (объекты: " << WebAccounts::FormatObjects(acc) << ")\n";
  return 0;
}

}  // namespace zv::web
