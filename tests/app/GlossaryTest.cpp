// The glossary of the form-designer names in docs/architecture.md stays
// true: every stored control is in it, and each file it names as a name's
// owner does use the name.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "app/FormModel.h"

namespace zv {
namespace {

std::string Read(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// Name -> owner file, from the rows between the glossary's markers.
std::map<std::string, std::string> Glossary(std::string& error) {
  const std::string doc = Read(std::string(ZV_SOURCE_DIR) + "/docs/architecture.md");
  const auto begin = doc.find("<!-- glossary begins -->");
  const auto end = doc.find("<!-- glossary ends -->");
  std::map<std::string, std::string> out;
  if (begin == std::string::npos || end == std::string::npos) {
    error = "no glossary in docs/architecture.md";
    return out;
  }
  std::istringstream rows(doc.substr(begin, end - begin));
  const std::regex code("`([^`]+)`");
  for (std::string row; std::getline(rows, row);) {
    if (row.rfind("| `", 0) != 0) continue;
    const auto firstCell = row.find('|', 1);
    const auto lastCell = row.rfind('|', row.size() - 2);
    const std::string names = row.substr(1, firstCell - 1);
    std::smatch owner;
    const std::string ownerCell = row.substr(lastCell);
    if (!std::regex_search(ownerCell, owner, code)) {
      error += "no owner in: " + row + "\n";
      continue;
    }
    for (std::sregex_iterator it(names.begin(), names.end(), code), last; it != last; ++it) {
      const std::string name = (*it)[1];
      if (out.count(name)) error += name + " is listed twice\n";
      out[name] = owner[1];
    }
  }
  return out;
}

// The file uses the name as a whole name or as the start of a handler's
// (Timer1Timer, N2Click); a gauge name edit EditN is reached as Edit(N).
bool Uses(const std::string& text, const std::string& name) {
  for (auto at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
    const bool startsWord =
        at == 0 || !(std::isalnum(static_cast<unsigned char>(text[at - 1])) || text[at - 1] == '_');
    const auto after = at + name.size();
    const bool endsNumber =
        after == text.size() || !std::isdigit(static_cast<unsigned char>(text[after]));
    if (startsWord && endsNumber) return true;
  }
  std::smatch m;
  static const std::regex numbered("^([A-Za-z]+)([0-9]+)$");
  return std::regex_match(name, m, numbered) &&
         text.find(std::string(m[1]) + "(" + std::string(m[2]) + ")") != std::string::npos;
}

TEST(Glossary, EveryStoredControlIsListedAndEveryOwnerUsesItsNames) {
  std::string error;
  const auto glossary = Glossary(error);
  EXPECT_EQ(error, "");
  ASSERT_FALSE(glossary.empty());
  TFormModel form;
  for (const StoredProperty& p : form.StoredProperties()) {
    const std::string control = p.key.substr(0, p.key.find('.'));
    EXPECT_TRUE(glossary.count(control)) << control << " (stored as " << p.key << ") is missing";
  }
  for (const auto& [name, owner] : glossary) {
    const std::string text = Read(std::string(ZV_SOURCE_DIR) + "/" + owner);
    ASSERT_FALSE(text.empty()) << owner << ", the owner of " << name << ", is not there";
    EXPECT_TRUE(Uses(text, name)) << owner << " does not use " << name;
  }
}

}  // namespace
}  // namespace zv
