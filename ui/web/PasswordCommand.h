#pragma once
// `zorvenix --web-passwd NAME [--web-objects LIST] [--web-users FILE] [--dir DIR]`:
// sets the web view password of an account (creating the account), read
// from the standard input, without starting the window system.
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace zv::web {

// Whether the arguments (after the program's name) ask for the command.
bool WantsPasswordCommand(const std::vector<std::string>& args);

// The data folder for a --dir value ("" when not given); empty with the
// reason in error when there is none.
using DataFolderFn = std::function<std::string(const std::string& dir, std::string& error)>;

// Runs the command; returns the exit code.  The password comes from in: one
// line, or when interactive (a terminal, without echo) typed twice.
// LIST: "*" for every Object, or the owner's Object IDs separated by commas;
// a new account needs it, an existing one keeps its list without it.
int RunPasswordCommand(const std::vector<std::string>& args, const DataFolderFn& dataFolder,
                       std::istream& in, std::ostream& out, std::ostream& err, bool interactive);

}  // namespace zv::web
