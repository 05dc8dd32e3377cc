#pragma once
// Appends text lines (CR LF) to one file: the modem's debug log and its
// trace.  Each opening appends a blank line (when the file has text), the
// title and a blank line; lines may carry a date-time prefix.
#include <cstdio>
#include <functional>
#include <string>

#include "platform/Clock.h"

namespace zv {

class TModemLogFile {
 public:
  using TGetLogTitleEvent = std::function<void(std::string& title)>;

  explicit TModemLogFile(const IClock& clock) : clock_(clock) {}
  ~TModemLogFile() { Close(); }
  TModemLogFile(const TModemLogFile&) = delete;
  TModemLogFile& operator=(const TModemLogFile&) = delete;

  // Writes one line; false on any failure (nothing is raised).
  bool Add(const std::string& text);
  // Releases the file; the next Add opens it again.
  bool Close();

  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& name);

  bool AddDateTime = false;
  bool CretateNew = false;
  std::string DateTimeFormat = "MM-DD-YYYY hh:mm:ss";
  std::string Title;
  TGetLogTitleEvent OnGetTitle;

 private:
  bool OpenFile();

  const IClock& clock_;
  std::string fileName_;
  std::FILE* file_ = nullptr;
};

// Formats a date-time by a pattern of YYYY/YY (year), MM (month, or minutes
// right after an hour), DD (day), hh (hour, 24-hour), nn or mm (minutes),
// ss (seconds), zzz (milliseconds); other characters are copied, text in
// double quotes verbatim.  Letter case of the tokens is ignored.
std::string FormatDateTimePattern(const std::string& pattern, TDateTime t);

}  // namespace zv
