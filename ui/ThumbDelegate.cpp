#include "ThumbDelegate.h"

#include <QtGui/QFontMetrics>
#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QListView>

#include <algorithm>

namespace gf {

QStringList CaptionLines(const QString& Caption, const QFontMetrics& Metrics, int Width) {
  QStringList lines;
  QString rest = Caption;
  while (!rest.isEmpty()) {
    // The longest start that fits, but never less than one character.
    int n = 1;
    while (n < rest.size() && Metrics.horizontalAdvance(rest.left(n + 1)) <= Width)
      ++n;
    if (n < rest.size()) {
      int cut = -1;
      for (int i = n - 1; i > 0 && cut < 0; --i)
        if (QStringLiteral(". _-").contains(rest[i - 1]))
          cut = i;
      if (cut > 0)
        n = cut;
    }
    lines << rest.left(n);
    rest.remove(0, n);
  }
  return lines;
}

TThumbDelegate::TThumbDelegate(QListView& View, QSize Icon)
    : QStyledItemDelegate(&View), FView(View), FIcon(Icon), FWidth(Icon.width() + 28) {
  FView.setItemDelegate(this);
  FView.setIconSize(FIcon);
  FView.setGridSize(CellSize());
  // Captions are measured once, as their items arrive.
  FView.setUniformItemSizes(true);
  QAbstractItemModel* model = FView.model();
  connect(model, &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex&, int First, int Last) { RowsInserted(First, Last); });
  connect(model, &QAbstractItemModel::modelReset, this, [this] { Reset(); });
}

QSize TThumbDelegate::CellSize() const {
  return {FWidth,
          2 * Margin + FIcon.height() + Margin + FLines * FView.fontMetrics().lineSpacing()};
}

QRect TThumbDelegate::IconRect(const QRect& Cell) const {
  return {Cell.x() + (Cell.width() - FIcon.width()) / 2, Cell.y() + Margin, FIcon.width(),
          FIcon.height()};
}

QRect TThumbDelegate::CaptionRect(const QRect& Cell) const {
  const int top = Cell.y() + 2 * Margin + FIcon.height();
  return {Cell.x() + Margin, top, Cell.width() - 2 * Margin, Cell.bottom() + 1 - top};
}

QStringList TThumbDelegate::DrawnCaption(const QRect& Cell, const QModelIndex& Index) const {
  return CaptionLines(Index.data(Qt::DisplayRole).toString(), FView.fontMetrics(),
                      CaptionRect(Cell).width());
}

QSize TThumbDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
  return CellSize();
}

void TThumbDelegate::paint(QPainter* Painter, const QStyleOptionViewItem& Option,
                           const QModelIndex& Index) const {
  QStyleOptionViewItem o(Option);
  initStyleOption(&o, Index);
  const QWidget* widget = o.widget;
  QStyle* style = widget ? widget->style() : QApplication::style();
  const bool selected = o.state & QStyle::State_Selected;
  // The style would mark the caption as it lays it out itself, on one line.
  QStyleOptionViewItem panel(o);
  panel.state &= ~QStyle::State_Selected;
  style->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, Painter, widget);
  o.icon.paint(Painter, IconRect(o.rect), Qt::AlignCenter,
               selected ? QIcon::Selected : QIcon::Normal);
  const QStringList lines = DrawnCaption(o.rect, Index);
  const QRect caption = CaptionRect(o.rect);
  const int step = FView.fontMetrics().lineSpacing();
  const QPalette::ColorGroup group =
      o.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
  if (selected)
    Painter->fillRect(QRect(caption.x(), caption.y(), caption.width(),
                            std::min(caption.height(), static_cast<int>(lines.size()) * step)),
                      o.palette.brush(group, QPalette::Highlight));
  Painter->save();
  Painter->setFont(FView.font());
  Painter->setPen(o.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
  QRect line(caption.x(), caption.y(), caption.width(), step);
  for (const QString& text : lines) {
    Painter->drawText(line, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, text);
    line.translate(0, step);
  }
  Painter->restore();
  if (o.state & QStyle::State_HasFocus) {
    QStyleOptionFocusRect focus;
    focus.QStyleOption::operator=(o);
    focus.backgroundColor = o.palette.color(selected ? QPalette::Highlight : QPalette::Base);
    style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, Painter, widget);
  }
}

void TThumbDelegate::RowsInserted(int First, int Last) {
  const int width = CaptionRect(QRect(QPoint(), CellSize())).width();
  int lines = FLines;
  QAbstractItemModel* model = FView.model();
  for (int row = First; row <= Last; ++row)
    lines =
        std::max<int>(lines, static_cast<int>(CaptionLines(model->index(row, 0).data().toString(),
                                                           FView.fontMetrics(), width)
                                                  .size()));
  SetLines(lines);
}

void TThumbDelegate::Reset() {
  SetLines(MinLines);
}

void TThumbDelegate::SetLines(int Lines) {
  if (Lines == FLines)
    return;
  FLines = Lines;
  FView.setGridSize(CellSize());
  // The view keeps the size of one item for all of them: it must ask again.
  emit sizeHintChanged(QModelIndex());
}

} // namespace gf
