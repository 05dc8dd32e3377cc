#pragma once
// The journal: the program's single reporting channel.  Every entry is one
// numbered, time-stamped line appended to the log file (opened, written,
// flushed and closed per entry, so a crash loses nothing already journaled)
// and shown, coloured by its kind, in the journal view.
#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "app/JournalCodes.h"
#include "platform/Clock.h"
#include "platform/Signal.h"

namespace zv {

using TColor = std::uint32_t;  // 0x00BBGGRR

namespace colors {
constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clNavy = 0x800000;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
// System colours are resolved by the user interface.
constexpr TColor clBtnFace = 0xFF00000F;
constexpr TColor clInfoBk = 0xFF000018;
constexpr TColor clWindow = 0xFF000005;
}  // namespace colors

enum FontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

TColor KindColor(JournalKind kind);

class Journal {
 public:
  static constexpr std::uintmax_t kRotateSize = 10485760;
  // File lines kept while the file takes none (a full disk), oldest first.
  static constexpr std::size_t kMaxUnwritten = 100000;

  struct ViewLine {
    std::string text;
    TColor color;
    JournalKind kind = jkInfo;
    int objectId = 0;  // the ID of the Object the line is about; 0: none
  };
  // While one lives, the lines journaled are about the Object with this ID
  // (the station's lines about its sites): the view keeps it with each
  // line, so that a reader can pick an Object's lines.
  class Subject {
   public:
    Subject(Journal& j, int objectId) : j_(j), before_(j.subject_) { j.subject_ = objectId; }
    ~Subject() { j_.subject_ = before_; }
    Subject(const Subject&) = delete;
    Subject& operator=(const Subject&) = delete;

   private:
    Journal& j_;
    int before_;
  };
  struct StatusPanel {
    std::string text;
    TColor color = colors::clBtnFace;
    unsigned style = 0;
  };

  // logDir: the folder of "Zorvenix.log" (the working folder of the program).
  Journal(IClock& clock, std::string logDir);

  void AddJournal(const std::string& text, JournalKind kind, JournalEvent eventCode = jeNone,
                  int objectNo = 0, int extra = 0, JournalCode errorCode = jcNone);
  void SetStatus(int panel, const std::string& text, unsigned style, TColor color, JournalKind kind,
                 int toJournal);
  void ShowStatus(const std::string& text, JournalKind kind, int toJournal);
  void ReportError(const std::string& text, JournalCode errorCode, int showStatus);
  // A failure caught in a handler: "Ошибка: " + what + " !", an
  // information line with the place's code.
  void AddFailure(const std::string& what, JournalCode errorCode = jcCaughtFailure);

  // The journal view's content.
  const std::vector<ViewLine>& View() const { return view_; }
  void ClearView();
  // The five status panels (0..2 are on screen).
  const std::array<StatusPanel, 5>& Status() const { return status_; }
  void ResetStatus();
  // Whether a status bar exists to receive SetStatus (false before the window is up).
  void SetStatusBarPresent(bool present) { statusBar_ = present; }

  long long JournalNumber() const { return number_; }
  // Lines waiting for the file to take them again.
  std::size_t Unwritten() const { return unwritten_.size(); }
  std::string LogPath() const;
  std::string BackupPath() const;

  Signal<const ViewLine&> LineAdded;
  Signal<> ViewCleared;
  Signal<> StatusChanged;

 private:
  void RestoreNumber();
  void RotateIfLarge();
  // Appends the lines the file has not taken yet; false, with the reason,
  // when it takes them not all, and then the file is as it was.
  bool WriteUnwritten(std::string& why);

  IClock& clock_;
  std::string dir_;
  long long number_ = 0;
  std::vector<ViewLine> view_;
  std::array<StatusPanel, 5> status_{};
  bool statusBar_ = true;
  int subject_ = 0;
  std::deque<std::string> unwritten_;
  bool failing_ = false;  // the file has been refusing lines since the report
};

// Builds the file line of an entry (without CR LF), for tests and tools.
std::string JournalFileLine(long long number, TDateTime when, const std::string& text, int kind,
                            int eventCode, int objectNo, int extra, int errorCode);
// Parses the sequence number as restored from a log's last line.
long long ParseJournalNumber(const std::string& tailBytes);

}  // namespace zv
