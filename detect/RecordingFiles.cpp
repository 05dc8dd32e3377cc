#include "detect/RecordingFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace zv {
namespace {

// Cuts a file back after a failed write; the write's own error is the one
// reported, so a failure here adds nothing.
void CutBack(int fd, std::int64_t size) {
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0) return;
}

constexpr std::int64_t kRecord = static_cast<std::int64_t>(kDescriptorSize);
// Offsets and lengths are signed 32-bit fields of the descriptor.
constexpr std::int64_t kMaxBinBytes = std::numeric_limits<std::int32_t>::max();

std::string Quoted(const std::string& s) {
  return "\"" + s + "\"";
}
std::string SysError() {
  return std::strerror(errno);
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::int64_t FdSize(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t len, std::int64_t at) {
  while (len > 0) {
    const ssize_t n = ::pwrite(fd, data, len, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    data += n;
    len -= static_cast<std::size_t>(n);
    at += n;
  }
  return true;
}

bool ReadAll(int fd, std::uint8_t* to, std::size_t len, std::int64_t at) {
  while (len > 0) {
    const ssize_t n = ::pread(fd, to, len, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    to += n;
    len -= static_cast<std::size_t>(n);
    at += n;
  }
  return true;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

std::int32_t CountOf(int fd) {
  const std::int64_t size = FdSize(fd);
  if (size <= 0) return 0;
  return static_cast<std::int32_t>(
      std::min<std::int64_t>(size / kRecord, std::numeric_limits<std::int32_t>::max()));
}

// The name without its extension (the part after the last full stop of the
// last path component).
std::string Stem(const std::string& name) {
  const std::size_t slash = name.find_last_of('/');
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name;
  return name.substr(0, dot);
}

}  // namespace

std::string DscNameFor(const std::string& name) {
  return Stem(name) + ".dsc";
}
std::string BinNameFor(const std::string& dscName) {
  return Stem(dscName) + ".bin";
}

std::int64_t VolumeLimitBytes(double megabytes) {
  if (!(megabytes > 0)) return 0;
  const double bytes = megabytes * 1024.0 * 1024.0;
  if (bytes >= 9.0e18) return std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(bytes);
}

// ---------------------------------------------------------------------------
// RecordingPair

RecordingPair::~RecordingPair() {
  Close();
}

void RecordingPair::Close() {
  CloseFd(dsc_);
  CloseFd(bin_);  // also drops the writer's lock
  ring_ = false;
  resumeChecked_ = false;
  slots_.clear();
}

IoResult RecordingPair::OpenExisting(const std::string& name) {
  const std::string dsc = DscNameFor(name), bin = BinNameFor(dsc);
  Close();
  dscName_ = dsc;
  binName_ = bin;
  if (!Exists(dsc) || !Exists(bin))
    return IoResult::Fail("Нет файла " + Quoted(Exists(dsc) ? bin : dsc));
  baseName_ = dsc;
  nextNumber_ = 1;
  return Open(dsc, false);
}

IoResult RecordingPair::OpenOrCreate(const std::string& name) {
  const std::string dsc = DscNameFor(name);
  Close();
  baseName_ = dsc;
  nextNumber_ = 1;
  return Open(dsc, true);
}

IoResult RecordingPair::Open(const std::string& dsc, bool create) {
  Close();
  dscName_ = dsc;
  binName_ = BinNameFor(dsc);
  repaired_ = 0;
  failing_ = false;
  const int extra = create ? O_CREAT : 0;
  dsc_ = ::open(dscName_.c_str(), O_RDWR | O_CLOEXEC | extra, 0644);
  if (dsc_ < 0)
    return IoResult::Fail("Ошибка открытия файла " + Quoted(dscName_) + ": " + SysError());
  bin_ = ::open(binName_.c_str(), O_WRONLY | O_CLOEXEC | extra, 0644);
  if (bin_ < 0) {
    IoResult r =
        IoResult::Fail("Ошибка открытия файла " + Quoted(binName_) + " для записи: " + SysError());
    Close();
    return r;
  }
  // One writer at a time; readers are not affected.
  if (::flock(bin_, LOCK_EX | LOCK_NB) != 0) {
    IoResult r = IoResult::Fail("Файл " + Quoted(binName_) + " уже открыт для записи");
    Close();
    return r;
  }
  // A torn last descriptor (a crash or a full disk in the middle of a
  // write) is cut off, so that the next record lands on a record boundary.
  const std::int64_t size = FdSize(dsc_);
  if (size < 0) {
    IoResult r = IoResult::Fail("Ошибка чтения файла " + Quoted(dscName_) + ": " + SysError());
    Close();
    return r;
  }
  if (size % kRecord != 0) {
    if (::ftruncate(dsc_, static_cast<off_t>(size - size % kRecord)) != 0) {
      IoResult r =
          IoResult::Fail("Ошибка восстановления файла " + Quoted(dscName_) + ": " + SysError());
      Close();
      return r;
    }
    repaired_ = size % kRecord;
  }
  return {};
}

std::int32_t RecordingPair::RecordCount() const {
  return IsOpen() ? CountOf(dsc_) : 0;
}

std::int64_t RecordingPair::BinSize() const {
  return FdSize(bin_);
}

AppendResult RecordingPair::Fail(AppendResult r, std::string reason) {
  r.status = AppendResult::WriteFailed;
  r.reason = std::move(reason);
  r.reportNow = !failing_;
  failing_ = true;
  return r;
}

IoResult RecordingPair::StartNextPair() {
  const std::string stem = Stem(baseName_);
  for (int k = nextNumber_; k < nextNumber_ + 100000; ++k) {
    const std::string dsc = stem + "_" + std::to_string(k) + ".dsc";
    if (Exists(dsc) || Exists(BinNameFor(dsc))) continue;
    nextNumber_ = k + 1;
    return Open(dsc, true);
  }
  return IoResult::Fail("Нет свободного имени для файла записи " + Quoted(baseName_));
}

bool RecordingPair::LoadSlots(std::vector<double>* times) {
  const std::int32_t count = RecordCount();
  slots_.assign(static_cast<std::size_t>(count), Slot{});
  if (times) times->assign(static_cast<std::size_t>(count), 0.0);
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(std::min<std::int32_t>(count, 4096)) *
                                kDescriptorSize);
  for (std::int32_t first = 0; first < count; first += 4096) {
    const std::int32_t n = std::min<std::int32_t>(4096, count - first);
    if (!ReadAll(dsc_, buf.data(), static_cast<std::size_t>(n) * kDescriptorSize,
                 static_cast<std::int64_t>(first) * kRecord))
      return false;
    for (std::int32_t i = 0; i < n; ++i) {
      const FrameDescriptor d =
          DecodeDescriptor(buf.data() + static_cast<std::size_t>(i) * kDescriptorSize);
      slots_[static_cast<std::size_t>(first + i)] = {d.offset, d.length, d.kind == kKindPicture};
      if (times) (*times)[static_cast<std::size_t>(first + i)] = d.captureTime;
    }
  }
  return true;
}

bool RecordingPair::ResumeAfterNewest() {
  std::vector<double> times;
  if (!LoadSlots(&times)) return false;
  // A pair that has gone round holds the newest records first (1..k) and
  // the older round after them, so the capture time drops right after the
  // newest record.  A clock set back (summer time ending) drops the time
  // too, but inside a round the pictures lie back to back; at the end of
  // the newest round they rarely do, so such a drop is preferred.
  const std::size_t n = slots_.size();
  std::size_t newest = n;
  for (std::size_t i = 0; i + 1 < n; ++i) {
    if (!(times[i + 1] < times[i])) continue;
    const bool backToBack = slots_[i].offset + slots_[i].length == slots_[i + 1].offset;
    if (newest == n) newest = i;
    if (!backToBack) {
      newest = i;
      break;
    }
  }
  const bool sane = newest < n && slots_[newest].offset >= 0 && slots_[newest].length >= 0 &&
                    slots_[newest].offset + slots_[newest].length <= kMaxBinBytes;
  if (!sane) {
    // Not gone round yet: the next record follows the last one.
    slots_.clear();
    return true;
  }
  ring_ = true;
  ringSlot_ = static_cast<std::int32_t>(newest) + 2;
  ringPos_ = slots_[newest].offset + slots_[newest].length;
  return true;
}

bool RecordingPair::MarkOverwritten(std::int32_t slot, std::int64_t from, std::int64_t to) {
  for (std::size_t j = 0; j < slots_.size(); ++j) {
    Slot& s = slots_[j];
    if (!s.picture) continue;
    const bool own = static_cast<std::int32_t>(j) + 1 == slot;
    if (own || (s.length > 0 && s.offset < to && s.offset + s.length > from)) {
      const std::uint8_t kind = kKindOverwritten;
      if (!WriteAll(dsc_, &kind, 1, static_cast<std::int64_t>(j) * kRecord + dsc::kKind))
        return false;
      s.picture = false;
    }
  }
  return true;
}

AppendResult RecordingPair::Append(FrameDescriptor& d, const std::uint8_t* data, std::size_t len) {
  AppendResult r;
  if (!IsOpen()) return r;
  if (data == nullptr) len = 0;

  // A pair written round and round before (another run, or chosen again)
  // goes on after its newest record, never over it.
  if (policy_.action == VolumeLimitAction::Wrap && policy_.limitBytes > 0 && !ring_ &&
      !resumeChecked_) {
    resumeChecked_ = true;
    if (!ResumeAfterNewest())
      return Fail(r, "Ошибка чтения файла " + Quoted(dscName_) + ": " + SysError());
  }
  std::int32_t count = RecordCount();
  std::int64_t binSize = BinSize();
  if (binSize < 0) return Fail(r, "Ошибка чтения файла " + Quoted(binName_) + ": " + SysError());
  std::int32_t slot = ring_ ? ringSlot_ : count + 1;
  std::int64_t pos = ring_ ? ringPos_ : binSize;
  const std::int64_t length = static_cast<std::int64_t>(len);

  // Size of the pair once this record is written.
  auto sizeAfter = [&] {
    return std::max(binSize, pos + length) + std::max<std::int64_t>(count, slot) * kRecord;
  };
  const std::int64_t limit = policy_.limitBytes;
  if (limit > 0 && sizeAfter() > (ring_ ? std::max(limit, binSize + count * kRecord) : limit)) {
    r.reportNow = true;
    if (length + kRecord > limit) {
      r.status = AppendResult::StoppedByLimit;
      r.reason = "Кадр больше предельного объёма записи";
      return r;
    }
    switch (policy_.action) {
      case VolumeLimitAction::Stop:
        r.status = AppendResult::StoppedByLimit;
        r.reason = "Достигнут предельный объём файлов записи " + Quoted(dscName_);
        return r;
      case VolumeLimitAction::NextFile: {
        if (IoResult o = StartNextPair(); !o) return Fail(r, o.reason);
        r.switchedFile = true;
        count = 0;
        binSize = 0;
        slot = 1;
        pos = 0;
        break;
      }
      case VolumeLimitAction::Wrap:
        if (!ring_ && !LoadSlots())
          return Fail(r, "Ошибка чтения файла " + Quoted(dscName_) + ": " + SysError());
        ring_ = true;
        r.wrapped = true;
        slot = 1;
        pos = 0;
        if (sizeAfter() > std::max(limit, binSize + count * kRecord)) {
          r.status = AppendResult::StoppedByLimit;
          r.reason = "Кадр больше предельного объёма записи";
          return r;
        }
        break;
    }
  }
  if (pos + length > kMaxBinBytes)
    return Fail(r, "Файл " + Quoted(binName_) + " достиг предельного размера 2 Гб");
  // Going round, the record in the slot and those whose pictures the new
  // one covers are given up before a byte of them changes: cut off at any
  // moment, the pair never shows a picture half overwritten.
  if (ring_ && !MarkOverwritten(slot, pos, pos + length))
    return Fail(r, "Ошибка записи в файл " + Quoted(dscName_) + ": " + SysError());

  if (length > 0 && !WriteAll(bin_, data, len, pos)) {
    const std::string why = SysError();
    // Do not leave half a picture at the end of the file.
    if (!ring_) CutBack(bin_, binSize);
    return Fail(r, "Ошибка записи в файл " + Quoted(binName_) + ": " + why);
  }
  d.recordNumber = slot;
  d.offset = static_cast<std::int32_t>(pos);
  d.length = static_cast<std::int32_t>(length);
  const DescriptorBytes bytes = EncodeDescriptor(d);
  if (!WriteAll(dsc_, bytes.data(), bytes.size(), static_cast<std::int64_t>(slot - 1) * kRecord)) {
    const std::string why = SysError();
    if (slot > count) CutBack(dsc_, count * kRecord);
    return Fail(r, "Ошибка записи в файл " + Quoted(dscName_) + ": " + why);
  }
  if (ring_) {
    if (slots_.size() < static_cast<std::size_t>(slot))
      slots_.resize(static_cast<std::size_t>(slot));
    slots_[static_cast<std::size_t>(slot - 1)] = {pos, length, d.kind == kKindPicture};
    ringSlot_ = slot + 1;
    ringPos_ = pos + length;
  }
  r.resumed = failing_;
  failing_ = false;
  r.status = AppendResult::Written;
  r.recordNumber = slot;
  return r;
}

// ---------------------------------------------------------------------------
// RecordingReader

RecordingReader::~RecordingReader() {
  Close();
}

void RecordingReader::Close() {
  CloseFd(dsc_);
  CloseFd(bin_);
}

IoResult RecordingReader::Open(const std::string& name) {
  Close();
  dscName_ = DscNameFor(name);
  const std::string bin = BinNameFor(dscName_);
  dsc_ = ::open(dscName_.c_str(), O_RDONLY | O_CLOEXEC);
  if (dsc_ < 0)
    return IoResult::Fail("Ошибка открытия файла " + Quoted(dscName_) + ": " + SysError());
  bin_ = ::open(bin.c_str(), O_RDONLY | O_CLOEXEC);
  if (bin_ < 0) {
    IoResult r = IoResult::Fail("Ошибка открытия файла " + Quoted(bin) + ": " + SysError());
    Close();
    return r;
  }
  return {};
}

std::int32_t RecordingReader::RecordCount() const {
  return IsOpen() ? CountOf(dsc_) : 0;
}

bool RecordingReader::ReadDescriptor(std::int32_t n, FrameDescriptor& out) const {
  if (!IsOpen() || n < 1) return false;
  DescriptorBytes b;
  if (!ReadAll(dsc_, b.data(), b.size(), static_cast<std::int64_t>(n - 1) * kRecord)) return false;
  out = DecodeDescriptor(b.data());
  return true;
}

bool RecordingReader::ReadChangeLevels(std::int32_t first, std::int32_t count,
                                       std::vector<std::int32_t>& out) const {
  if (!IsOpen() || first < 1 || count < 0) return false;
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(count) * kDescriptorSize);
  if (!ReadAll(dsc_, buf.data(), buf.size(), static_cast<std::int64_t>(first - 1) * kRecord))
    return false;
  out.resize(static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i) {
    const std::uint8_t* p =
        buf.data() + static_cast<std::size_t>(i) * kDescriptorSize + dsc::kChangeLevel;
    out[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
        static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
  }
  return true;
}

bool RecordingReader::ReadPicture(std::int64_t offset, std::uint8_t* to, std::size_t len) const {
  if (!IsOpen() || offset < 0) return false;
  return ReadAll(bin_, to, len, offset);
}

}  // namespace zv
