#pragma once
// Laying out the settings pages.  A page is a row of blocks (each a small
// grid of labelled controls, or a group box); the blocks keep their natural
// size and wrap to the next row when the window is narrower than their sum,
// and a page that is taller than the panel may grow scrolls.  So nothing is
// cut off and nothing is squashed, down to an 800 x 600 screen.
#include <QGridLayout>
#include <QLabel>
#include <QLayout>
#include <QScrollArea>
#include <QWidget>
#include <vector>

namespace zv::ui {

// Items left to right at their size hints, wrapping into rows.
class FlowLayout final : public QLayout {
 public:
  explicit FlowLayout(QWidget* parent, int hSpacing = 8, int vSpacing = 4);
  ~FlowLayout() override;

  void addItem(QLayoutItem* item) override;
  int count() const override { return static_cast<int>(items_.size()); }
  QLayoutItem* itemAt(int index) const override;
  QLayoutItem* takeAt(int index) override;
  Qt::Orientations expandingDirections() const override { return {}; }
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  QSize minimumSize() const override;
  QSize sizeHint() const override;
  void setGeometry(const QRect& rect) override;

 private:
  int DoLayout(const QRect& rect, bool apply) const;
  std::vector<QLayoutItem*> items_;
  int hSpacing_, vSpacing_;
};

// A page of the settings panel: its blocks flow in rows (or, for a page
// laid out otherwise, its own layout on Content() gets at least its natural
// size); beyond that it scrolls.  NeededHeight() is what it takes to show
// the page without scrolling at the current width.
class PageArea final : public QScrollArea {
  Q_OBJECT
 public:
  enum class Kind { Flow, Own };
  explicit PageArea(QWidget* parent, Kind kind = Kind::Flow);
  // The page's contents; add blocks with AddBlock (Flow), or give it a
  // layout (Own).
  QWidget* Content() const { return content_; }
  void AddBlock(QWidget* block);
  int NeededHeight() const;

 signals:
  void NeededHeightChanged();

 protected:
  void resizeEvent(QResizeEvent* e) override;
  bool eventFilter(QObject* obj, QEvent* e) override;

 private:
  void Relayout();
  int ContentWidth() const;
  QWidget* content_;
  FlowLayout* flow_ = nullptr;
  int lastNeeded_ = -1;
};

// Labelled controls in a grid: a block of a page, or the inside of a group.
class PageGrid {
 public:
  explicit PageGrid(QWidget* block) : page_(block), grid_(new QGridLayout(block)) {
    grid_->setContentsMargins(0, 0, 0, 0);
    grid_->setHorizontalSpacing(6);
    grid_->setVerticalSpacing(2);
  }
  // A label and a widget in the given column pair (col 0, 2, 4 ...).
  void Row(int row, int col, const QString& label, QWidget* w) {
    if (!label.isEmpty()) grid_->addWidget(new QLabel(label, page_), row, col);
    grid_->addWidget(w, row, col + 1);
  }
  void Cell(int row, int col, QWidget* w, int rowSpan = 1, int colSpan = 1) {
    grid_->addWidget(w, row, col, rowSpan, colSpan);
  }
  // Rows below the last stay empty (the block keeps to the top).
  void Finish(int rows) { grid_->setRowStretch(rows, 1); }
  QGridLayout* grid() { return grid_; }

 private:
  QWidget* page_;
  QGridLayout* grid_;
};

// A plain block of a page, laid out with a PageGrid.
QWidget* NewBlock(PageArea* page);

}  // namespace zv::ui
