#include "app/Journal.h"

#include <cstdio>
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

void Journal::RestoreNumber() {
  try {
    std::ifstream f(LogPath(), std::ios::binary);
    if (!f) return;
    f.seekg(0, std::ios::end);
    const std::streamoff size = f.tellg();
    if (size <= 0) return;
    const std::streamoff n = size < 100 ? size : 100;
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
  if (std::FILE* f = std::fopen(LogPath().c_str(), "ab")) {
    std::fwrite(fileLine.data(), 1, fileLine.size(), f);
    std::fflush(f);
    std::fclose(f);
  }
  view_.push_back(ViewLine{prefix + text, KindColor(kind), kind, subject_});
  LineAdded(view_.back());
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
