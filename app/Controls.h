#pragma once
// Plain state of the window's controls.  The core reads and changes these;
// ui/ renders them (listening to Changed) and forwards user input through
// the setters, which fire the control's handler the way a window control
// does when its value changes (also when set by the program).
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "app/Journal.h"
#include "platform/Signal.h"

namespace zv {

class TControl {
 public:
  explicit TControl(std::string name = {}) : Name(std::move(name)) {}
  virtual ~TControl() = default;
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  std::string Name;
  bool Visible() const { return visible_; }
  bool Enabled() const { return enabled_; }
  void SetVisible(bool v) { Update(visible_, v); }
  void SetEnabled(bool v) { Update(enabled_, v); }
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& c) { Update(caption_, c); }
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& h) { Update(hint_, h); }
  TColor FontColor() const { return fontColor_; }
  void SetFontColor(TColor c) { Update(fontColor_, c); }
  unsigned FontStyle() const { return fontStyle_; }
  void SetFontStyle(unsigned s) { Update(fontStyle_, s); }
  TColor Color() const { return color_; }
  void SetColor(TColor c) { Update(color_, c); }
  long Tag = 0;

  // Any property changed: ui/ re-renders the control.
  Signal<> Changed;
  // ui/ asks the widget to take the keyboard focus.
  Signal<> FocusRequested;

 protected:
  template <class T>
  void Update(T& field, const T& v) {
    if (field == v) return;
    field = v;
    Changed();
  }

 private:
  bool visible_ = true;
  bool enabled_ = true;
  std::string caption_;
  std::string hint_;
  TColor fontColor_ = colors::clBlack;
  unsigned fontStyle_ = 0;
  TColor color_ = colors::clBtnFace;
};

class TButton : public TControl {
 public:
  using TControl::TControl;
  std::function<void()> OnClick;
  void Click() {
    if (Enabled() && OnClick) OnClick();
  }
  // A speed button's pressed state.
  bool Down() const { return down_; }
  void SetDown(bool d) { Update(down_, d); }

 private:
  bool down_ = false;
};

class TCheckBox : public TControl {
 public:
  using TControl::TControl;
  std::function<void()> OnClick;
  bool Checked() const { return checked_; }
  void SetChecked(bool v) {
    if (checked_ == v) return;
    checked_ = v;
    Changed();
    if (OnClick) OnClick();
  }

 private:
  bool checked_ = false;
};

// A menu item with a check mark.
using TMenuItem = TCheckBox;

class TSpinEdit : public TControl {
 public:
  TSpinEdit(std::string name, int value, int minValue, int maxValue)
      : TControl(std::move(name)), value_(value), min_(minValue), max_(maxValue) {}
  std::function<void()> OnChange;
  int Value() const { return value_; }
  int MinValue() const { return min_; }
  int MaxValue() const { return max_; }
  // Clamped to the range when one is set (min != max).
  void SetValue(int v) {
    if (min_ != max_) v = std::clamp(v, min_, max_);
    if (v == value_) return;
    value_ = v;
    Changed();
    if (OnChange) OnChange();
  }
  void SetRange(int lo, int hi) {
    min_ = lo;
    max_ = hi;
    Changed();
  }

 private:
  int value_, min_, max_;
};

class TFloatSpinEdit : public TControl {
 public:
  TFloatSpinEdit(std::string name, double value, double minValue, double maxValue,
                 double increment = 1.0, int decimals = 2)
      : TControl(std::move(name)),
        Increment(increment),
        Decimals(decimals),
        value_(value),
        min_(minValue),
        max_(maxValue) {}
  std::function<void()> OnChange;
  double Increment;
  int Decimals;
  double Value() const { return value_; }
  double MinValue() const { return min_; }
  double MaxValue() const { return max_; }
  void SetValue(double v) {
    if (!std::isfinite(v)) return;
    if (min_ != max_) v = std::clamp(v, min_, max_);
    if (v == value_) return;
    value_ = v;
    Changed();
    if (OnChange) OnChange();
  }

 private:
  double value_, min_, max_;
};

class TEdit : public TControl {
 public:
  explicit TEdit(std::string name, std::string text = {})
      : TControl(std::move(name)), text_(std::move(text)) {}
  std::function<void()> OnChange;
  const std::string& Text() const { return text_; }
  void SetText(const std::string& t) {
    if (t == text_) return;
    text_ = t;
    Changed();
    if (OnChange) OnChange();
  }
  bool ReadOnly = false;

 private:
  std::string text_;
};

// A file-name edit keeps its text as FileName.
class TFileNameEdit : public TEdit {
 public:
  using TEdit::TEdit;
  const std::string& FileName() const { return Text(); }
  void SetFileName(const std::string& f) { SetText(f); }
  std::string Filter;
};

// Combo boxes and radio groups: a list of items and the chosen index (-1 none).
class TItemIndexControl : public TControl {
 public:
  TItemIndexControl(std::string name, std::vector<std::string> items, int index)
      : TControl(std::move(name)), Items(std::move(items)), index_(index) {}
  std::vector<std::string> Items;
  std::function<void()> OnChange;
  int ItemIndex() const { return index_; }
  void SetItemIndex(int i) {
    if (i < -1 || i >= static_cast<int>(Items.size())) i = -1;
    if (i == index_) return;
    index_ = i;
    Changed();
    if (OnChange) OnChange();
  }

 private:
  int index_;
};
using TComboBox = TItemIndexControl;
using TRadioGroup = TItemIndexControl;

class TLabel : public TControl {
 public:
  using TControl::TControl;
};

// A list box, optionally with a check box per item and an object per item.
class TCheckListBox : public TControl {
 public:
  using TControl::TControl;
  struct Item {
    std::string text;
    bool checked = false;
    void* object = nullptr;
    std::string mark;  // a short note shown beside the text ("" none)
  };
  std::function<void()> OnClick;          // selection changed by the user
  std::function<void(int)> OnClickCheck;  // a tick changed by the user
  bool OwnerDraw = false;

  // Items stand in this many columns, top to bottom; 0 is a single column.
  int Columns() const { return columns_; }
  void SetColumns(int n) { Update(columns_, n < 0 ? 0 : n); }

  const std::vector<Item>& Items() const { return items_; }
  int Count() const { return static_cast<int>(items_.size()); }
  int ItemIndex() const { return index_; }
  // Programmatic selection: no handler runs.
  void SetItemIndex(int i) {
    if (i < -1 || i >= Count()) i = -1;
    Update(index_, i);
  }
  bool Checked(int i) const { return InRange(i) && items_[static_cast<std::size_t>(i)].checked; }
  void SetChecked(int i, bool v) {
    if (!InRange(i) || items_[static_cast<std::size_t>(i)].checked == v) return;
    items_[static_cast<std::size_t>(i)].checked = v;
    Changed();
  }
  const std::string& Text(int i) const { return items_.at(static_cast<std::size_t>(i)).text; }
  void SetText(int i, const std::string& t) {
    if (!InRange(i)) return;
    items_[static_cast<std::size_t>(i)].text = t;
    Changed();
  }
  const std::string& Mark(int i) const { return items_.at(static_cast<std::size_t>(i)).mark; }
  void SetMark(int i, const std::string& m) {
    if (!InRange(i) || items_[static_cast<std::size_t>(i)].mark == m) return;
    items_[static_cast<std::size_t>(i)].mark = m;
    Changed();
  }
  void* Object(int i) const {
    return InRange(i) ? items_[static_cast<std::size_t>(i)].object : nullptr;
  }
  int Add(const std::string& text, bool checked = false, void* object = nullptr) {
    items_.push_back(Item{text, checked, object, {}});
    Changed();
    return Count() - 1;
  }
  void Delete(int i) {
    if (!InRange(i)) return;
    items_.erase(items_.begin() + i);
    if (index_ >= Count()) index_ = Count() - 1;
    Changed();
  }
  void Clear() {
    items_.clear();
    index_ = -1;
    Changed();
  }
  int IndexOfObject(const void* obj) const {
    for (int i = 0; i < Count(); ++i)
      if (items_[static_cast<std::size_t>(i)].object == obj) return i;
    return -1;
  }
  // User actions, forwarded by ui/.
  void UserSelect(int i) {
    SetItemIndex(i);
    if (OnClick) OnClick();
  }
  void UserToggle(int i) {
    if (!InRange(i)) return;
    SetChecked(i, !Checked(i));
    if (OnClickCheck) OnClickCheck(i);
  }

 private:
  bool InRange(int i) const { return i >= 0 && i < Count(); }
  std::vector<Item> items_;
  int index_ = -1;
  int columns_ = 0;
};
using TListBox = TCheckListBox;

// A page of the settings panel.
class TTabSheet : public TControl {
 public:
  TTabSheet(std::string name, std::string caption, int tag) : TControl(std::move(name)) {
    SetCaption(caption);
    Tag = tag;
  }
  bool TabVisible() const { return tabVisible_; }
  void SetTabVisible(bool v) { Update(tabVisible_, v); }

 private:
  bool tabVisible_ = true;
};

}  // namespace zv
