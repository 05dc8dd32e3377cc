#include "app/DataFolder.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace zv {

namespace fs = std::filesystem;

namespace {

bool SameFolder(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  std::error_code ec1, ec2;
  const fs::path ca = fs::weakly_canonical(a, ec1);
  const fs::path cb = fs::weakly_canonical(b, ec2);
  return !ec1 && !ec2 && ca == cb;
}

bool WritableFolder(const std::string& dir) {
  std::error_code ec;
  return !dir.empty() && fs::is_directory(dir, ec) && ::access(dir.c_str(), W_OK | X_OK) == 0;
}

std::string Made(const fs::path& dir, std::string& error) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir)) {
    error = "cannot create the folder " + dir.string() + (ec ? ": " + ec.message() : "");
    return {};
  }
  return fs::absolute(dir, ec).lexically_normal().string();
}

}  // namespace

std::string ChooseDataFolder(const DataFolderPlace& place, std::string& error) {
  error.clear();
  if (!place.explicitDir.empty()) return Made(place.explicitDir, error);
  // An installed program's folder is never written to, not even by root.
  if (WritableFolder(place.programDir) && !SameFolder(place.programDir, place.installDir))
    return fs::path(place.programDir).lexically_normal().string();
  fs::path base;
  if (!place.xdgConfigHome.empty() && fs::path(place.xdgConfigHome).is_absolute())
    base = place.xdgConfigHome;
  else if (!place.home.empty())
    base = fs::path(place.home) / ".config";
  else {
    error = "neither XDG_CONFIG_HOME nor HOME is set; give a folder with --dir";
    return {};
  }
  return Made(base / "zorvenix", error);
}

}  // namespace zv
