#pragma once
// Modal dialogs the core may ask for: message boxes and the text-input dialog.
#include <string>

namespace zv {

enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgResult { Ok, Cancel, Yes, No };

class IDialogs {
 public:
  virtual ~IDialogs() = default;
  virtual MsgResult MessageBox(const std::string& text, const std::string& caption,
                               MsgButtons buttons = MsgButtons::Ok,
                               MsgIcon icon = MsgIcon::None) = 0;
  // Asks for a line of text; false when the user cancelled.  With password
  // set the input is masked.
  virtual bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value,
                          bool password = false) = 0;
};

}  // namespace zv
