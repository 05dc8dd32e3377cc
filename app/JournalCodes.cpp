#include "app/JournalCodes.h"

namespace zv {

#define ZV_JOURNAL_ROW(name, number, meaning) {number, #name, meaning},

const std::vector<JournalNumber>& JournalKinds() {
  static const std::vector<JournalNumber> table{ZV_JOURNAL_KINDS(ZV_JOURNAL_ROW)};
  return table;
}

const std::vector<JournalNumber>& JournalEvents() {
  static const std::vector<JournalNumber> table{ZV_JOURNAL_EVENTS(ZV_JOURNAL_ROW)};
  return table;
}

const std::vector<JournalNumber>& JournalCodes() {
  static const std::vector<JournalNumber> table{ZV_JOURNAL_CODES(ZV_JOURNAL_ROW)};
  return table;
}

#undef ZV_JOURNAL_ROW

}  // namespace zv
