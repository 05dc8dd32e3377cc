#include "support/Locale.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

extern char** environ;

namespace zv::test {

namespace {

namespace fs = std::filesystem;

bool HasDecimalComma(const std::string& name) {
  // setlocale, not newlocale: the C library's newlocale leaks its search
  // path when LOCPATH is set.
  const char* cur = std::setlocale(LC_ALL, nullptr);
  const std::string previous = cur ? cur : "C";
  bool comma = false;
  if (std::setlocale(LC_ALL, name.c_str())) {
    const char* point = std::localeconv()->decimal_point;
    comma = point && std::strcmp(point, ",") == 0;
  }
  std::setlocale(LC_ALL, previous.c_str());
  return comma;
}

// Runs localedef; true when it exited with 0 (1 means warnings, also usable).
bool RunLocaledef(const std::string& out, std::string* why) {
  const char* argv[] = {"localedef", "-i", "ru_RU", "-f", "UTF-8", out.c_str(), nullptr};
  pid_t pid = 0;
  const int rc =
      ::posix_spawnp(&pid, "localedef", nullptr, nullptr, const_cast<char**>(argv), environ);
  if (rc != 0) {
    if (why) *why = std::string("localedef cannot be started: ") + std::strerror(rc);
    return false;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) {
    if (why) *why = "localedef -i ru_RU -f UTF-8 failed (is the locales package installed?)";
    return false;
  }
  return true;
}

std::optional<std::string> Find(std::string* why) {
  for (const char* name : {"ru_RU.UTF-8", "ru_RU.utf8", "uk_UA.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8",
                           "es_ES.UTF-8", "it_IT.UTF-8"})
    if (HasDecimalComma(name)) return std::string(name);

  // None installed: build ru_RU.UTF-8 into a folder of our own.  Processes
  // running side by side each build aside and the first rename wins.
  const std::string name = "ru_RU.UTF-8";
  std::error_code ec;
  const fs::path dir = fs::temp_directory_path(ec) / "zv-test-locales";
  fs::create_directories(dir, ec);
  setenv("LOCPATH", dir.c_str(), 1);
  if (HasDecimalComma(name)) return name;
  const fs::path aside = dir / (".build-" + std::to_string(::getpid()));
  fs::remove_all(aside, ec);
  fs::create_directories(aside, ec);
  if (RunLocaledef((aside / name).string(), why)) {
    fs::rename(aside / name, dir / name, ec);
  }
  fs::remove_all(aside, ec);
  if (HasDecimalComma(name)) return name;
  unsetenv("LOCPATH");
  if (why && why->empty()) *why = "the locale built by localedef is not usable";
  return std::nullopt;
}

}  // namespace

std::optional<std::string> DecimalCommaLocale(std::string* why) {
  // Built at most once per process.
  static std::string reason;
  static const std::optional<std::string> name = Find(&reason);
  if (!name && why) *why = reason;
  return name;
}

ScopedDecimalCommaLocale::ScopedDecimalCommaLocale() {
  const char* cur = std::setlocale(LC_ALL, nullptr);
  previous_ = cur ? cur : "C";
  const auto name = DecimalCommaLocale(&why_);
  if (!name) return;
  active_ = std::setlocale(LC_ALL, name->c_str()) != nullptr;
  if (!active_) why_ = "setlocale(LC_ALL, \"" + *name + "\") failed";
}

ScopedDecimalCommaLocale::~ScopedDecimalCommaLocale() {
  std::setlocale(LC_ALL, previous_.c_str());
}

}  // namespace zv::test
