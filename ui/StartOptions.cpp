#include "ui/StartOptions.h"

#include <QTimer>
#include <QWidget>

namespace zv::ui {

const char* StartUsage() {
  return "usage: zorvenix [--dir DIR] [--seconds N] [--page CAPTION] [--screenshot FILE]\n"
         "       zorvenix --export PAIR.dsc --camera N [options] OUT\n"
         "  --dir DIR          keep the settings file, the journal and the modem logs in DIR\n"
         "  --seconds N        close the window after N seconds, through the normal shutdown\n"
         "  --page CAPTION     open the settings panel at the page with this caption\n"
         "  --screenshot FILE  once every camera view shows a picture, write a picture of\n"
         "                     the window to FILE (PNG) and close\n"
         "  --web-passwd NAME  set the web view password of account NAME (read from the\n"
         "                     standard input) and end; with --web-objects LIST (* for\n"
         "                     every Object, or the owner's Object IDs: 3,5) and --dir DIR\n"
         "  --version          print the program's version\n"
         "  --export PAIR.dsc --camera N [--object N] [--from T] [--to T] [--h264]\n"
         "           [--quality Q] OUT\n"
         "                     write camera N's records (0: all, tiled) to the video file\n"
         "                     OUT and exit; T is local time \"YYYY-MM-DD HH:MM:SS\"\n"
         "  --help             print this text\n";
}

bool ParseStartOptions(const QStringList& args, StartOptions& out, QString& error) {
  out = StartOptions{};
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    QString* text = a == "--dir"          ? &out.dir
                    : a == "--screenshot" ? &out.screenshot
                    : a == "--page"       ? &out.page
                                          : nullptr;
    if (!text && a != "--seconds") {
      error = "unknown argument " + a;
      return false;
    }
    if (i + 1 >= args.size() || args[i + 1].isEmpty()) {
      error = a + " needs a value";
      return false;
    }
    const QString& value = args[++i];
    if (text) {
      *text = value;
      continue;
    }
    bool ok = false;
    out.seconds = value.toInt(&ok);
    if (!ok || out.seconds < 0) {
      error = "--seconds wants a whole number of seconds, not " + value;
      return false;
    }
  }
  return true;
}

TTabSheet* ShownPage(Application& app, const QString& caption) {
  for (TTabSheet* p : app.form.Pages())
    if (p->TabVisible() && QString::fromStdString(p->Caption()) == caption) return p;
  return nullptr;
}

void OpenPageWhenShown(QWidget* window, Application& app, TTabSheet* page) {
  // Queued behind the window's own first event, which collapses the panel.
  QTimer::singleShot(0, window, [&app, page] {
    app.frame.PageControl1Enter();
    if (app.frame.ActivePage() != page) app.frame.PageControl1Change(page);
  });
}

}  // namespace zv::ui
