#include "ui/pages/Layout.h"

#include <QEvent>
#include <QResizeEvent>
#include <QScrollBar>
#include <algorithm>

namespace zv::ui {

// --- FlowLayout

FlowLayout::FlowLayout(QWidget* parent, int hSpacing, int vSpacing)
    : QLayout(parent), hSpacing_(hSpacing), vSpacing_(vSpacing) {
  setContentsMargins(6, 4, 6, 4);
}

FlowLayout::~FlowLayout() {
  for (QLayoutItem* item : items_) delete item;
}

void FlowLayout::addItem(QLayoutItem* item) {
  items_.push_back(item);
}

QLayoutItem* FlowLayout::itemAt(int index) const {
  return index >= 0 && index < count() ? items_[static_cast<std::size_t>(index)] : nullptr;
}

QLayoutItem* FlowLayout::takeAt(int index) {
  if (index < 0 || index >= count()) return nullptr;
  QLayoutItem* item = items_[static_cast<std::size_t>(index)];
  items_.erase(items_.begin() + index);
  return item;
}

int FlowLayout::heightForWidth(int width) const {
  return DoLayout(QRect(0, 0, width, 0), false);
}

QSize FlowLayout::minimumSize() const {
  // The widest block decides how narrow the page can get.
  QSize size;
  for (const QLayoutItem* item : items_)
    if (!item->isEmpty()) size = size.expandedTo(item->sizeHint());
  const QMargins m = contentsMargins();
  return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

QSize FlowLayout::sizeHint() const {
  // All blocks in one row.
  int w = 0, h = 0;
  for (const QLayoutItem* item : items_) {
    if (item->isEmpty()) continue;
    if (w > 0) w += hSpacing_;
    w += item->sizeHint().width();
    h = std::max(h, item->sizeHint().height());
  }
  const QMargins m = contentsMargins();
  return QSize(w + m.left() + m.right(), h + m.top() + m.bottom());
}

void FlowLayout::setGeometry(const QRect& rect) {
  QLayout::setGeometry(rect);
  DoLayout(rect, true);
}

int FlowLayout::DoLayout(const QRect& rect, bool apply) const {
  const QMargins m = contentsMargins();
  const QRect area = rect.adjusted(m.left(), m.top(), -m.right(), -m.bottom());
  int x = area.x(), y = area.y(), rowHeight = 0;
  for (QLayoutItem* item : items_) {
    if (item->isEmpty()) continue;
    const QSize hint = item->sizeHint();
    if (x > area.x() && x + hint.width() > area.right() + 1) {
      x = area.x();
      y += rowHeight + vSpacing_;
      rowHeight = 0;
    }
    if (apply) item->setGeometry(QRect(QPoint(x, y), hint));
    x += hint.width() + hSpacing_;
    rowHeight = std::max(rowHeight, hint.height());
  }
  return y + rowHeight - rect.y() + m.bottom();
}

// --- PageArea

PageArea::PageArea(QWidget* parent, Kind kind) : QScrollArea(parent), content_(new QWidget) {
  setFrameShape(QFrame::NoFrame);
  setWidgetResizable(false);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  if (kind == Kind::Flow) flow_ = new FlowLayout(content_);
  setWidget(content_);
  content_->installEventFilter(this);
}

void PageArea::AddBlock(QWidget* block) {
  if (flow_) flow_->addWidget(block);
}

int PageArea::ContentWidth() const {
  const QLayout* l = content_->layout();
  if (!l) return viewport()->width();
  // Blocks keep their natural size; a page of its own keeps what its layout
  // needs at least.
  const int least = l->minimumSize().width();
  return std::max(viewport()->width(), least);
}

int PageArea::NeededHeight() const {
  const QLayout* l = content_->layout();
  if (!l) return 0;
  return l->hasHeightForWidth() ? l->heightForWidth(ContentWidth()) : l->minimumSize().height();
}

void PageArea::Relayout() {
  const int w = ContentWidth();
  const int h = std::max(viewport()->height(), NeededHeight());
  if (content_->size() != QSize(w, h)) content_->resize(w, h);
  const int needed = NeededHeight();
  if (needed != lastNeeded_) {
    lastNeeded_ = needed;
    emit NeededHeightChanged();
  }
}

void PageArea::resizeEvent(QResizeEvent* e) {
  QScrollArea::resizeEvent(e);
  Relayout();
}

bool PageArea::eventFilter(QObject* obj, QEvent* e) {
  // A block shown, hidden or grown: the rows are laid out again.
  if (obj == content_ && e->type() == QEvent::LayoutRequest) Relayout();
  return QScrollArea::eventFilter(obj, e);
}

QWidget* NewBlock(PageArea* page) {
  auto* block = new QWidget(page->Content());
  page->AddBlock(block);
  return block;
}

}  // namespace zv::ui
