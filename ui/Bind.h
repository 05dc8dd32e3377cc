#pragma once
// Widgets bound to the core's control state: each renders its control when
// the control changes and forwards the user's input to the control's setter
// (which runs the core's handler).
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>

#include "app/Controls.h"

namespace zv::ui {

QColor ToQColor(TColor c, const QPalette& palette);
void ApplyCommon(QWidget* w, TControl& c);

QCheckBox* BindCheckBox(TCheckBox& c, const QString& caption, QWidget* parent);
QSpinBox* BindSpin(TSpinEdit& c, QWidget* parent);
QDoubleSpinBox* BindFloatSpin(TFloatSpinEdit& c, QWidget* parent);
QLineEdit* BindEdit(TEdit& c, QWidget* parent);
QComboBox* BindCombo(TComboBox& c, QWidget* parent);
// A radio group: a group box of radio buttons.
QGroupBox* BindRadioGroup(TRadioGroup& c, const QString& title, QWidget* parent);
QPushButton* BindButton(TButton& c, QWidget* parent);
QListWidget* BindCheckList(TCheckListBox& c, bool checkable, QWidget* parent);

}  // namespace zv::ui
