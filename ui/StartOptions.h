#pragma once
// The program's command line, and the page it may be asked to open at start.
#include <QString>
#include <QStringList>

#include "app/Application.h"

class QWidget;

namespace zv::ui {

struct StartOptions {
  QString dir;         // --dir DIR: settings, journal and modem logs
  int seconds = 0;     // --seconds N: close after N seconds (0: stay open)
  QString screenshot;  // --screenshot FILE
  QString page;        // --page CAPTION: the settings page to open
};

// The usage text printed by --help.
const char* StartUsage();
// Parses the arguments after the program's name; false, with the reason in
// error, on an unknown option, a missing value or a malformed number.
bool ParseStartOptions(const QStringList& args, StartOptions& out, QString& error);

// The page whose tab reads caption and is shown in the running mode.
TTabSheet* ShownPage(Application& app, const QString& caption);
// Once the window is up (and has collapsed its settings panel), opens page
// as a click on its tab does: the panel opens and the page comes up.
void OpenPageWhenShown(QWidget* window, Application& app, TTabSheet* page);

}  // namespace zv::ui
