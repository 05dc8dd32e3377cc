#include "app/Journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/Utils.h"

namespace zv {

namespace fs = std::filesystem;

TColor KindColor(JournalKind kind) {
  switch (kind) {
    case jkDevice:
      return colors::clBlue;
    case jkNotice:
      return colors::clMaroon;
    case jkAlarm:
      return colors::clFuchsia;
    case jkError:
      return colors::clRed;
    case jkInfo:
      break;
  }
  return colors::clBlack;
}

Journal::Journal(IClock& clock, std::string logDir) : clock_(clock), dir_(std::move(logDir)) {
  ResetStatus();
}

std::string Journal::LogPath() const {
  return (fs::path(dir_) / "Zorvenix.log").string();
}
std::string Journal::BackupPath() const {
  return (fs::path(dir_) / "Zorvenix.old").string();
}

void Journal::ResetStatus() {
  for (auto& p : status_) p = StatusPanel{};
  status_[0].color = colors::clNavy;
}

std::string JournalFileLine(long long number, TDateTime when, const std::string& text, int kind,
                            int eventCode, int objectNo, int extra, int errorCode) {
  return PadNumber(number, 5) + "  " + FormatJournalTime(when) + "  " + PadNumber(kind, 3) +
         PadNumber(eventCode, 4) + PadNumber(objectNo, 4) + PadNumber(extra, 3) +
         PadNumber(errorCode, 8) + " " + text;
}

long long ParseJournalNumber(const std::string& tail) {
  std::size_t end = tail.size();
  while (end > 0 && (tail[end - 1] == '\r' || tail[end - 1] == '\n')) --end;
  std::size_t start = end;
  while (start > 0 && tail[start - 1] != '\r' && tail[start - 1] != '\n') --start;
  const std::string first = tail.substr(start, std::min<std::size_t>(5, end - start));
  std::size_t i = 0;
  while (i < first.size() && first[i] == ' ') ++i;
  bool neg = false;
  if (i < first.size() && (first[i] == '+' || first[i] == '-')) {
    neg = first[i] == '-';
    ++i;
  }
  long long v = 0;
  while (i < first.size() && first[i] >= '0' && first[i] <= '9') v = v * 10 + (first[i++] - '0');
  return neg ? -v : v;
}

namespace {
// How far back from the end the last line is looked for (no line is
// longer than a few hundred bytes).
constexpr std::streamoff kTailBytes = 4096;

// A line cut off by a power cut in the middle of its write is taken out, so
// that the next line starts a line of its own.  No line is longer than a
// few hundred bytes: a file whose last 4 KiB hold no line end is not cut,
// its last line is only ended.
void CutTornLine(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st;
  const off_t size = ::fstat(fd, &st) == 0 ? st.st_size : 0;
  char tail[kTailBytes];
  const off_t from = size > static_cast<off_t>(sizeof tail) ? size - sizeof tail : 0;
  const ssize_t n = size > 0 ? ::pread(fd, tail, static_cast<std::size_t>(size - from), from) : 0;
  if (n == size - from && n > 0 && tail[n - 1] != '\n') {
    const void* nl = ::memrchr(tail, '\n', static_cast<std::size_t>(n));
    bool done = false;
    if (nl || from == 0)
      done = ::ftruncate(fd, nl ? from + (static_cast<const char*>(nl) - tail) + 1 : 0) == 0;
    if (!done && ::write(fd, "\r\n", 2) != 2) {
      // Nothing more to be done: the next line follows the torn one.
    }
  }
  ::close(fd);
}
}  // namespace

void Journal::RestoreNumber() {
  CutTornLine(LogPath());
  try {
    std::ifstream f(LogPath(), std::ios::binary);
    if (!f) return;
    f.seekg(0, std::ios::end);
    const std::streamoff size = f.tellg();
    if (size <= 0) return;
    // The last line whole: a line of Cyrillic text takes more than 100
    // bytes in UTF-8, and a window that starts inside it reads a number
    // out of its time of day.
    const std::streamoff n = size < kTailBytes ? size : kTailBytes;
    f.seekg(size - n);
    std::string tail(static_cast<std::size_t>(n), '\0');
    f.read(tail.data(), n);
    tail.resize(static_cast<std::size_t>(f.gcount()));
    number_ = ParseJournalNumber(tail);
  } catch (...) {
  }
}

void Journal::RotateIfLarge() {
  std::error_code ec;
  const fs::path log = LogPath();
  if (!fs::exists(log, ec)) return;
  const auto size = fs::file_size(log, ec);
  if (ec || size <= kRotateSize) return;
  fs::remove(BackupPath(), ec);
  fs::rename(log, BackupPath(), ec);
}

void Journal::AddJournal(const std::string& text, JournalKind kind, JournalEvent eventCode,
                         int objectNo, int extra, JournalCode errorCode) {
  if (number_ == 0) RestoreNumber();
  ++number_;
  const TDateTime now = clock_.Now();
  const std::string prefix = PadNumber(number_, 5) + "  " + FormatJournalTime(now) + "  ";
  const std::string fileLine =
      JournalFileLine(number_, now, text, kind, eventCode, objectNo, extra, errorCode) + "\r\n";
  try {
    RotateIfLarge();
  } catch (...) {
  }
  // Lines the file refused before (a full disk) go first, in their order:
  // nothing journaled is lost while the program runs.
  unwritten_.push_back(fileLine);
  std::string why;
  if (WriteUnwritten(why)) {
    unwritten_.clear();
    failing_ = false;
  } else if (!failing_) {
    // Said once, in the view at once and in the file once it takes lines.
    failing_ = true;
    const std::string report = "Ошибка записи журнала \"" + LogPath() + "\": " + why + " !";
    view_.push_back(ViewLine{prefix + text, KindColor(kind), kind, subject_});
    LineAdded(view_.back());
    ++number_;
    unwritten_.push_back(JournalFileLine(number_, now, report, jkError, jeNone, 0, 0, jcNone) +
                         "\r\n");
    view_.push_back(ViewLine{PadNumber(number_, 5) + "  " + FormatJournalTime(now) + "  " + report,
                             KindColor(jkError), jkError, 0});
    LineAdded(view_.back());
    return;
  }
  while (unwritten_.size() > kMaxUnwritten) unwritten_.pop_front();
  view_.push_back(ViewLine{prefix + text, KindColor(kind), kind, subject_});
  LineAdded(view_.back());
}

bool Journal::WriteUnwritten(std::string& why) {
  std::string all;
  for (const auto& l : unwritten_) all += l;
  const int fd = ::open(LogPath().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    why = std::strerror(errno);
    return false;
  }
  struct stat st;
  const off_t before = ::fstat(fd, &st) == 0 ? st.st_size : -1;
  std::size_t done = 0;
  while (done < all.size()) {
    const ssize_t n = ::write(fd, all.data() + done, all.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      why = n == 0 ? std::strerror(ENOSPC) : std::strerror(errno);
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  // A write cut short by a full disk is taken back: no half line stays.
  if (done < all.size() && done > 0 && before >= 0 && ::ftruncate(fd, before) != 0)
    why += std::string(", ") + std::strerror(errno);
  ::close(fd);
  return done == all.size();
}

void Journal::ClearView() {
  view_.clear();
  ViewCleared();
}

void Journal::SetStatus(int panel, const std::string& text, unsigned style, TColor color,
                        JournalKind kind, int toJournal) {
  const bool stored = statusBar_ && panel >= 0 && panel < 5;
  if (stored) status_[static_cast<std::size_t>(panel)] = StatusPanel{text, color, style};
  // The journal line does not depend on the status bar being there.
  if (!text.empty() && toJournal == 1) AddJournal(text, kind);
  if (stored) StatusChanged();
}

void Journal::ShowStatus(const std::string& text, JournalKind kind, int toJournal) {
  SetStatus(0, text, fsBold, KindColor(kind), kind, toJournal);
}

void Journal::ReportError(const std::string& text, JournalCode errorCode, int showStatus) {
  if (showStatus == 1) SetStatus(0, text, fsBold, colors::clRed, jkError, 0);
  AddJournal(text, jkError, jeNone, 0, 0, errorCode);
}

void Journal::AddFailure(const std::string& what, JournalCode errorCode) {
  AddJournal("Ошибка: " + what + " !", jkInfo, jeNone, 0, 0, errorCode);
}

}  // namespace zv
