#pragma once
// Checks of the files a program leaves behind after a bad day (a power cut,
// a full disk): the recording pair as the viewer will read it, and the
// journal as the next start continues it.
#include <functional>
#include <string>
#include <vector>

#include "detect/FrameDescriptor.h"
#include "video/Picture.h"

namespace zv::test {

struct PairReport {
  int records = 0;                  // records in the ".dsc"
  int pictures = 0;                 // of them, pictures that decoded and passed the check
  int overwritten = 0;              // records a wrapping recording has given up
  std::vector<std::string> faults;  // one line per record that is not whole
  bool Whole() const { return faults.empty(); }
  std::string Describe() const;
};

// check, when given, adds the caller's own test of a decoded picture: an
// empty answer is a pass, anything else says what is wrong.
using PictureCheck = std::function<std::string(const FrameDescriptor&, const TPicture&)>;

// Every record must be whole: its number is its position, its picture lies
// inside the ".bin" and decodes to the size its descriptor gives.
PairReport CheckPair(const std::string& dscName, const PictureCheck& check = {});

struct JournalReport {
  long long first = 0, last = 0;    // numbers of the first and last line
  std::vector<std::string> texts;   // the lines' texts, without number and time
  std::vector<std::string> faults;  // lines that are not whole, numbers out of turn
  bool Whole() const { return faults.empty(); }
  std::string Describe() const;
};

// Every line of the journal file must be whole (laid out in its columns,
// ended by CR LF) and numbered one more than the line before.
JournalReport CheckJournal(const std::string& logPath);

}  // namespace zv::test
