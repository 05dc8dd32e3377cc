#pragma once
// Where the program keeps its settings file, journal and modem logs when no
// folder is given on the command line.
#include <string>

namespace zv {

struct DataFolderPlace {
  std::string explicitDir;    // --dir; wins when set (created if missing)
  std::string programDir;     // the running executable's folder
  std::string installDir;     // the folder an installed executable lies in
  std::string xdgConfigHome;  // $XDG_CONFIG_HOME (empty: unset)
  std::string home;           // $HOME
};

// The folder to use, created if it is missing; empty with a reason in error
// when it cannot be made.  Without an explicit folder the program's own
// folder is used, as a build or a copied program expects, unless it is the
// installed program's folder or not writable: then the user's configuration
// folder, $XDG_CONFIG_HOME/zorvenix (a relative $XDG_CONFIG_HOME is ignored,
// as the base-directory rules ask), else $HOME/.config/zorvenix.
std::string ChooseDataFolder(const DataFolderPlace& place, std::string& error);

}  // namespace zv
