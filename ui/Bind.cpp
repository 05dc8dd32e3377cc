#include "ui/Bind.h"

#include "ui/Guard.h"

#include <QButtonGroup>
#include <QIcon>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QVBoxLayout>

namespace zv::ui {

QColor ToQColor(TColor c, const QPalette& palette) {
  switch (c) {
    case colors::clBtnFace:
      return palette.color(QPalette::Button);
    case colors::clInfoBk:
      return palette.color(QPalette::ToolTipBase);
    case colors::clWindow:
      return palette.color(QPalette::Base);
    default:
      return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                    static_cast<int>((c >> 16) & 0xFF));
  }
}

void ApplyCommon(QWidget* w, TControl& c) {
  w->setObjectName(QString::fromStdString(c.Name));
  auto apply = [w, &c] {
    w->setVisible(c.Visible());
    w->setEnabled(c.Enabled());
    if (!c.Hint().empty()) w->setToolTip(QString::fromStdString(c.Hint()));
  };
  apply();
  const int id = c.Changed.Connect(apply);
  QObject::connect(w, &QObject::destroyed, [&c, id] { c.Changed.Disconnect(id); });
  const int fid = c.FocusRequested.Connect([w] { w->setFocus(); });
  QObject::connect(w, &QObject::destroyed, [&c, fid] { c.FocusRequested.Disconnect(fid); });
}

namespace {
template <class W, class F>
void OnChanged(W* w, TControl& c, F f) {
  f();
  const int id = c.Changed.Connect(f);
  QObject::connect(w, &QObject::destroyed, [&c, id] { c.Changed.Disconnect(id); });
}
}  // namespace

QCheckBox* BindCheckBox(TCheckBox& c, const QString& caption, QWidget* parent) {
  auto* w = new QCheckBox(caption, parent);
  if (!caption.isEmpty() && c.Caption().empty()) c.SetCaption(caption.toStdString());
  ApplyCommon(w, c);
  OnChanged(w, c, [w, &c] {
    QSignalBlocker b(w);
    w->setChecked(c.Checked());
    w->setText(QString::fromStdString(c.Caption()));
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, ToQColor(c.FontColor(), w->palette()));
    w->setPalette(p);
    QFont f = w->font();
    f.setUnderline(c.FontStyle() & fsUnderline);
    f.setBold(c.FontStyle() & fsBold);
    w->setFont(f);
  });
  QObject::connect(w, &QCheckBox::toggled, [&c](bool on) { Guarded([&] { c.SetChecked(on); }); });
  return w;
}

QSpinBox* BindSpin(TSpinEdit& c, QWidget* parent) {
  auto* w = new QSpinBox(parent);
  ApplyCommon(w, c);
  OnChanged(w, c, [w, &c] {
    QSignalBlocker b(w);
    if (c.MinValue() != c.MaxValue())
      w->setRange(c.MinValue(), c.MaxValue());
    else
      w->setRange(-2147483647, 2147483647);
    w->setValue(c.Value());
  });
  QObject::connect(w, &QSpinBox::valueChanged, [&c](int v) { Guarded([&] { c.SetValue(v); }); });
  return w;
}

QDoubleSpinBox* BindFloatSpin(TFloatSpinEdit& c, QWidget* parent) {
  auto* w = new QDoubleSpinBox(parent);
  w->setLocale(QLocale::c());
  ApplyCommon(w, c);
  OnChanged(w, c, [w, &c] {
    QSignalBlocker b(w);
    w->setDecimals(c.Decimals);
    w->setSingleStep(c.Increment);
    if (c.MinValue() != c.MaxValue()) w->setRange(c.MinValue(), c.MaxValue());
    w->setValue(c.Value());
  });
  QObject::connect(w, &QDoubleSpinBox::valueChanged,
                   [&c](double v) { Guarded([&] { c.SetValue(v); }); });
  return w;
}

QLineEdit* BindEdit(TEdit& c, QWidget* parent) {
  auto* w = new QLineEdit(parent);
  ApplyCommon(w, c);
  OnChanged(w, c, [w, &c] {
    const QString t = QString::fromStdString(c.Text());
    if (w->text() != t) {
      QSignalBlocker b(w);
      w->setText(t);
    }
    w->setReadOnly(c.ReadOnly);
  });
  QObject::connect(w, &QLineEdit::textEdited,
                   [&c](const QString& t) { Guarded([&] { c.SetText(t.toStdString()); }); });
  return w;
}

QComboBox* BindCombo(TComboBox& c, QWidget* parent) {
  auto* w = new QComboBox(parent);
  ApplyCommon(w, c);
  OnChanged(w, c, [w, &c] {
    QSignalBlocker b(w);
    if (w->count() != static_cast<int>(c.Items.size())) {
      w->clear();
      for (const auto& s : c.Items) w->addItem(QString::fromStdString(s));
    }
    w->setCurrentIndex(c.ItemIndex());
  });
  QObject::connect(w, &QComboBox::activated, [&c](int i) { Guarded([&] { c.SetItemIndex(i); }); });
  return w;
}

QGroupBox* BindRadioGroup(TRadioGroup& c, const QString& title, QWidget* parent) {
  auto* box = new QGroupBox(title, parent);
  auto* lay = new QVBoxLayout(box);
  lay->setContentsMargins(4, 2, 4, 2);
  lay->setSpacing(0);
  auto* group = new QButtonGroup(box);
  for (std::size_t i = 0; i < c.Items.size(); ++i) {
    auto* rb = new QRadioButton(QString::fromStdString(c.Items[i]), box);
    group->addButton(rb, static_cast<int>(i));
    lay->addWidget(rb);
  }
  ApplyCommon(box, c);
  OnChanged(box, c, [group, &c] {
    QSignalBlocker b(group);
    if (QAbstractButton* rb = group->button(c.ItemIndex())) {
      rb->setChecked(true);
    } else if (QAbstractButton* cur = group->checkedButton()) {
      group->setExclusive(false);
      cur->setChecked(false);
      group->setExclusive(true);
    }
  });
  QObject::connect(group, &QButtonGroup::idClicked,
                   [&c](int id) { Guarded([&] { c.SetItemIndex(id); }); });
  return box;
}

QPushButton* BindButton(TButton& c, QWidget* parent) {
  auto* w = new QPushButton(parent);
  ApplyCommon(w, c);
  OnChanged(w, c, [w, &c] {
    w->setText(QString::fromStdString(c.Caption()));
    QPalette p = w->palette();
    p.setColor(QPalette::ButtonText, ToQColor(c.FontColor(), w->palette()));
    w->setPalette(p);
    w->setCheckable(c.Down());
    w->setChecked(c.Down());
  });
  QObject::connect(w, &QPushButton::clicked, [&c] { Guarded([&] { c.Click(); }); });
  return w;
}

QListWidget* BindCheckList(TCheckListBox& c, bool checkable, QWidget* parent) {
  auto* w = new QListWidget(parent);
  ApplyCommon(w, c);
  OnChanged(w, c, [w, &c, checkable] {
    QSignalBlocker b(w);
    while (w->count() > c.Count()) delete w->takeItem(w->count() - 1);
    for (int i = 0; i < c.Count(); ++i) {
      QListWidgetItem* it = i < w->count() ? w->item(i) : nullptr;
      if (!it) {
        it = new QListWidgetItem(w);
        if (checkable) it->setFlags(it->flags() | Qt::ItemIsUserCheckable);
      }
      it->setText(QString::fromStdString(c.Text(i)));
      // A marked item shows a warning sign, and the mark as its hint.
      const std::string& mark = c.Mark(i);
      it->setIcon(mark.empty() ? QIcon() : w->style()->standardIcon(QStyle::SP_MessageBoxWarning));
      it->setToolTip(QString::fromStdString(mark));
      if (checkable) it->setCheckState(c.Checked(i) ? Qt::Checked : Qt::Unchecked);
    }
    w->setCurrentRow(c.ItemIndex());
  });
  QObject::connect(w, &QListWidget::currentRowChanged, [&c](int row) {
    if (row != c.ItemIndex()) Guarded([&] { c.UserSelect(row); });
  });
  if (checkable)
    QObject::connect(w, &QListWidget::itemChanged, [w, &c](QListWidgetItem* it) {
      const int row = w->row(it);
      const bool on = it->checkState() == Qt::Checked;
      if (row >= 0 && on != c.Checked(row)) Guarded([&] { c.UserToggle(row); });
    });
  return w;
}

}  // namespace zv::ui
