#pragma once
// Bad days for files, on demand: a disk that fills up, and a process that
// dies in the middle of a write.
//
// WriteFaults is a write layer inside the test program itself: the C
// library's write entry points (write, writev, pwrite, fwrite) of this
// process pass through it, so whatever the program's code writes, through
// stdio, streams or plain descriptors, can be made to fail as on a full disk
// or to end the process as a power cut does, for files under one folder
// only.  Only a program that links DiskFaults.cpp has the layer; it does
// nothing until it is armed.
//
// SmallDisk is a folder on a small file system of its own: a tmpfs mounted
// for the test when it runs as root (as CI does), which fills up for real.
// Without root the folder is a plain one, and filling it arms the write
// layer (this process) or sets the file-size limit of the given process to
// nothing (a program under test), so that every write fails all the same.
#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>

namespace zv::test {

class WriteFaults {
 public:
  // Writes to files under dir may take `bytes` more bytes in all; the write
  // that passes the budget is cut short there and every later one fails
  // with err, as on a disk that fills up.
  static void FailAfter(const std::string& dir, std::size_t bytes, int err = 28 /* ENOSPC */);
  // The process kills itself (SIGKILL) at the n-th write (1-based) to a file
  // under dir, after `torn` bytes of that write reached the file (0: none).
  static void DieAt(const std::string& dir, long n, std::size_t torn = 0);
  // Writes go through untouched again.
  static void Off();
  // Writes to files under the folder seen since the layer was armed.
  static long Seen();
};

class SmallDisk {
 public:
  explicit SmallDisk(std::size_t bytes = 16u << 20);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  // A real file system of its own that fills up.
  bool Tmpfs() const { return mounted_; }
  // No more room, for this process (writer 0) or for the process writer.
  void Fill(pid_t writer = 0);
  // Room again.
  void Free(pid_t writer = 0);

 private:
  std::filesystem::path path_;
  std::string ballast_;
  bool mounted_ = false;
};

}  // namespace zv::test
