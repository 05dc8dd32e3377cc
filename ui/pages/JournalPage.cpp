#include <QHBoxLayout>
#include <QLabel>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

#include "ui/Bind.h"
#include "ui/pages/Pages.h"

namespace zv::ui {

namespace {
// The view keeps this many paragraphs; older ones remain in the log file.
constexpr int kMaxViewParagraphs = 50000;

void AppendLine(QTextEdit* memo, const Journal::ViewLine& line) {
  QTextCharFormat fmt;
  fmt.setForeground(ToQColor(line.color, memo->palette()));
  QTextCursor cur(memo->document());
  cur.movePosition(QTextCursor::End);
  if (!memo->document()->isEmpty()) cur.insertBlock();
  cur.insertText(QString::fromStdString(line.text), fmt);
  if (memo->document()->blockCount() > kMaxViewParagraphs) {
    QTextCursor first(memo->document()->firstBlock());
    first.select(QTextCursor::BlockUnderCursor);
    first.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    first.removeSelectedText();
  }
  memo->verticalScrollBar()->setValue(memo->verticalScrollBar()->maximum());
}
}  // namespace

QWidget* BuildJournalPage(Application& app, QWidget* parent, QTextEdit*& memo) {
  auto* page = new QWidget(parent);
  auto* lay = new QVBoxLayout(page);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->setSpacing(0);
  auto* header = new QWidget(page);
  auto* hl = new QHBoxLayout(header);
  hl->setContentsMargins(0, 0, 0, 0);
  hl->setSpacing(0);
  const struct {
    const char* text;
    int width;
  } cols[] = {{"N п/п", 49}, {"Дата, время", 130}, {"Событие", 0}};
  for (const auto& c : cols) {
    auto* l = new QLabel(QString::fromUtf8(c.text), header);
    l->setFrameStyle(QFrame::Panel | QFrame::Raised);
    if (c.width) l->setFixedWidth(c.width);
    hl->addWidget(l, c.width ? 0 : 1);
  }
  lay->addWidget(header);

  memo = new QTextEdit(page);
  memo->setObjectName("JournalMemo");
  memo->setReadOnly(true);
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo->setLineWrapMode(QTextEdit::NoWrap);
  QFont f("Courier New");
  f.setStyleHint(QFont::Monospace);
  f.setPointSize(8);
  memo->setFont(f);
  QPalette p = memo->palette();
  p.setColor(QPalette::Base, p.color(QPalette::ToolTipBase));
  memo->setPalette(p);
  lay->addWidget(memo, 1);

  for (const auto& line : app.journal.View()) AppendLine(memo, line);
  QTextEdit* m = memo;
  const int a =
      app.journal.LineAdded.Connect([m](const Journal::ViewLine& l) { AppendLine(m, l); });
  const int c = app.journal.ViewCleared.Connect([m] { m->clear(); });
  QObject::connect(memo, &QObject::destroyed, [&app, a, c] {
    app.journal.LineAdded.Disconnect(a);
    app.journal.ViewCleared.Disconnect(c);
  });
  return page;
}

}  // namespace zv::ui
