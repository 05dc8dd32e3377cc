#pragma once
// Small helpers for laying out a settings page in labelled rows.
#include <QGridLayout>
#include <QLabel>
#include <QWidget>

namespace zv::ui {

class PageGrid {
 public:
  explicit PageGrid(QWidget* page) : page_(page), grid_(new QGridLayout(page)) {
    grid_->setContentsMargins(6, 4, 6, 4);
    grid_->setHorizontalSpacing(8);
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
  void Finish(int rows, int cols) {
    grid_->setRowStretch(rows, 1);
    grid_->setColumnStretch(cols, 1);
  }
  QGridLayout* grid() { return grid_; }

 private:
  QWidget* page_;
  QGridLayout* grid_;
};

}  // namespace zv::ui
