#include "support/DiskFaults.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace zv::test {
namespace {

enum Mode { kOff, kFail, kDie };

std::atomic<int> g_mode{kOff};
std::mutex g_mu;
std::string g_dir;  // canonical, with a trailing slash
std::size_t g_budget = 0;
int g_err = ENOSPC;
long g_dieAt = 0;
std::size_t g_torn = 0;
long g_seen = 0;

template <class F>
F Real(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

using WriteFn = ssize_t (*)(int, const void*, size_t);
using PwriteFn = ssize_t (*)(int, const void*, size_t, off_t);
using WritevFn = ssize_t (*)(int, const struct iovec*, int);
using FwriteFn = size_t (*)(const void*, size_t, size_t, FILE*);
using FflushFn = int (*)(FILE*);

WriteFn RealWrite() {
  static const WriteFn f = Real<WriteFn>("write");
  return f;
}
PwriteFn RealPwrite() {
  static const PwriteFn f = Real<PwriteFn>("pwrite");
  return f;
}
PwriteFn RealPwrite64() {
  static const PwriteFn f = Real<PwriteFn>("pwrite64");
  return f;
}
WritevFn RealWritev() {
  static const WritevFn f = Real<WritevFn>("writev");
  return f;
}
FwriteFn RealFwrite() {
  static const FwriteFn f = Real<FwriteFn>("fwrite");
  return f;
}
FflushFn RealFflush() {
  static const FflushFn f = Real<FflushFn>("fflush");
  return f;
}

bool Under(int fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[4096];
  const ssize_t n = ::readlink(link, target, sizeof target - 1);
  if (n <= 0) return false;
  target[n] = '\0';
  return std::strncmp(target, g_dir.c_str(), g_dir.size()) == 0;
}

// What becomes of a write of len bytes to fd.
struct Verdict {
  bool touched = false;   // a file under the folder, with the layer armed
  std::size_t allow = 0;  // bytes that reach the file
  bool die = false;       // the process ends after those
};

Verdict Judge(int fd, std::size_t len) {
  Verdict v;
  if (g_mode.load() == kOff || !Under(fd)) return v;
  std::lock_guard<std::mutex> lock(g_mu);
  v.touched = true;
  ++g_seen;
  if (g_mode.load() == kFail) {
    v.allow = len < g_budget ? len : g_budget;
    g_budget -= v.allow;
  } else {
    v.allow = len;
    if (g_seen == g_dieAt) {
      v.die = true;
      v.allow = len < g_torn ? len : g_torn;
    }
  }
  return v;
}

[[noreturn]] void Die() {
  ::kill(::getpid(), SIGKILL);
  for (;;) ::pause();
}

void Arm(const std::string& dir, int mode) {
  std::error_code ec;
  std::string d = std::filesystem::weakly_canonical(dir, ec).string();
  if (ec) d = dir;
  if (d.empty() || d.back() != '/') d += '/';
  std::lock_guard<std::mutex> lock(g_mu);
  g_dir = d;
  g_seen = 0;
  g_mode = mode;
}

}  // namespace

void WriteFaults::FailAfter(const std::string& dir, std::size_t bytes, int err) {
  {
    std::lock_guard<std::mutex> lock(g_mu);
    g_budget = bytes;
    g_err = err;
  }
  Arm(dir, kFail);
}

void WriteFaults::DieAt(const std::string& dir, long n, std::size_t torn) {
  {
    std::lock_guard<std::mutex> lock(g_mu);
    g_dieAt = n;
    g_torn = torn;
  }
  Arm(dir, kDie);
}

void WriteFaults::Off() {
  g_mode = kOff;
}

long WriteFaults::Seen() {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_seen;
}

// ---------------------------------------------------------------- SmallDisk

SmallDisk::SmallDisk(std::size_t bytes) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "zvdisk-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
  if (::geteuid() == 0) {
    const std::string opts = "size=" + std::to_string(bytes) + ",mode=0755";
    mounted_ = ::mount("tmpfs", tmpl.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, opts.c_str()) == 0;
  }
}

SmallDisk::~SmallDisk() {
  WriteFaults::Off();
  if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void SmallDisk::Fill(pid_t writer) {
  if (mounted_) {
    // Every free block goes to one file, down to the last byte it takes.
    ballast_ = file(".ballast");
    const int fd = ::open(ballast_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    std::vector<char> block(1u << 20, '\0');
    for (std::size_t chunk = block.size(); chunk > 0; chunk /= 2)
      while (RealWrite()(fd, block.data(), chunk) == static_cast<ssize_t>(chunk)) {
      }
    ::close(fd);
  } else if (writer > 0) {
    const rlimit none{0, RLIM_INFINITY};
    ::prlimit(writer, RLIMIT_FSIZE, &none, nullptr);
  } else {
    WriteFaults::FailAfter(path_.string(), 0);
  }
}

void SmallDisk::Free(pid_t writer) {
  if (mounted_) {
    if (!ballast_.empty()) ::unlink(ballast_.c_str());
  } else if (writer > 0) {
    const rlimit all{RLIM_INFINITY, RLIM_INFINITY};
    ::prlimit(writer, RLIMIT_FSIZE, &all, nullptr);
  } else {
    WriteFaults::Off();
  }
}

}  // namespace zv::test

// ---------------------------------------------------------------- the layer
// Definitions in the program take the place of the C library's for every
// caller in the process (the program's own code, libstdc++'s streams).

using zv::test::Judge;

namespace {
ssize_t Failed() {
  errno = zv::test::g_err;
  return -1;
}
}  // namespace

extern "C" ssize_t write(int fd, const void* buf, size_t n) {
  const auto v = Judge(fd, n);
  if (!v.touched) return zv::test::RealWrite()(fd, buf, n);
  if (v.allow > 0) {
    // A write cut short: the caller's next write meets the full disk.
    const ssize_t w = zv::test::RealWrite()(fd, buf, v.allow);
    if (v.die) zv::test::Die();
    return w;
  }
  if (v.die) zv::test::Die();
  return Failed();
}

extern "C" ssize_t pwrite(int fd, const void* buf, size_t n, off_t at) {
  const auto v = Judge(fd, n);
  if (!v.touched) return zv::test::RealPwrite()(fd, buf, n, at);
  if (v.allow > 0) {
    const ssize_t w = zv::test::RealPwrite()(fd, buf, v.allow, at);
    if (v.die) zv::test::Die();
    return w;
  }
  if (v.die) zv::test::Die();
  return Failed();
}

extern "C" ssize_t pwrite64(int fd, const void* buf, size_t n, off_t at) {
  const auto v = Judge(fd, n);
  if (!v.touched) return zv::test::RealPwrite64()(fd, buf, n, at);
  if (v.allow > 0) {
    const ssize_t w = zv::test::RealPwrite64()(fd, buf, v.allow, at);
    if (v.die) zv::test::Die();
    return w;
  }
  if (v.die) zv::test::Die();
  return Failed();
}

extern "C" ssize_t writev(int fd, const struct iovec* iov, int count) {
  if (zv::test::g_mode.load() == zv::test::kOff) return zv::test::RealWritev()(fd, iov, count);
  // Gathered into one buffer, the bytes take the path of a plain write.
  std::vector<char> all;
  for (int i = 0; i < count; ++i) {
    const char* p = static_cast<const char*>(iov[i].iov_base);
    all.insert(all.end(), p, p + iov[i].iov_len);
  }
  return write(fd, all.data(), all.size());
}

extern "C" size_t fwrite(const void* ptr, size_t size, size_t count, FILE* stream) {
  const std::size_t n = size * count;
  const int fd = ::fileno(stream);
  const auto v = fd >= 0 && n > 0 ? Judge(fd, n) : zv::test::Verdict{};
  if (!v.touched) return zv::test::RealFwrite()(ptr, size, count, stream);
  const std::size_t w = v.allow > 0 ? zv::test::RealFwrite()(ptr, 1, v.allow, stream) : 0;
  if (v.die) {
    // What was written reaches the file before the end, as a write(2) would.
    zv::test::RealFflush()(stream);
    zv::test::Die();
  }
  if (w < n) errno = zv::test::g_err;
  return size > 0 ? w / size : 0;
}
