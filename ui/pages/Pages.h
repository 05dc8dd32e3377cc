#pragma once
// Builders of the settings pages; each returns the page widget bound to the
// core's controls.
#include <QTextEdit>
#include <QWidget>

#include "app/Application.h"

namespace zv::ui {

QWidget* BuildRecordPage(Application& app, QWidget* parent);
QWidget* BuildViewPage(Application& app, QWidget* parent);
QWidget* BuildVideoPage(Application& app, QWidget* parent);
QWidget* BuildDialPage(Application& app, QWidget* parent);
QWidget* BuildGaugesPage(Application& app, QWidget* parent);
QWidget* BuildObjectsPage(Application& app, QWidget* parent);
// The journal page; memo receives the journal view.
QWidget* BuildJournalPage(Application& app, QWidget* parent, QTextEdit*& memo);

}  // namespace zv::ui
