#include "ThumbItemDelegate.h"

#include <QtGui/QPainter>
#include <QtGui/QTextLayout>
#include <QtWidgets/QListWidget>

#include <algorithm>

namespace gf {

namespace {

constexpr int Margin = 3;      // around the picture and the caption, inside the cell
constexpr int GridSpacing = 4; // between cells
// The caption may be wider than the picture: as wide as the cells have always been.
constexpr int MinCaptionWidth = TThumbItemDelegate::IconSize + 20;

} // namespace

TThumbItemDelegate::TThumbItemDelegate(QListWidget& View)
    : QStyledItemDelegate(&View), FView(View) {
  // Wide enough that the longest usual name needs no third line, whatever the font.
  const QString longest = QString::fromLatin1(LongestUsualCaption);
  FCaptionWidth = MinCaptionWidth;
  while (CaptionLines(longest, FView.font(), FCaptionWidth).size() > 2)
    FCaptionWidth += 4;
  FView.setItemDelegate(this);
  ApplyGrid();
}

QStringList TThumbItemDelegate::CaptionLines(const QString& Caption, const QFont& Font, int Width) {
  const QFontMetrics fm(Font);
  if (fm.horizontalAdvance(Caption) <= Width)
    return {Caption};
  // A name and its type read best apart: "Image99999" over ".JPEG".
  const qsizetype dot = Caption.lastIndexOf('.');
  if (dot > 0 && fm.horizontalAdvance(Caption.left(dot)) <= Width &&
      fm.horizontalAdvance(Caption.mid(dot)) <= Width)
    return {Caption.left(dot), Caption.mid(dot)};
  QStringList lines;
  QTextLayout layout(Caption, Font);
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(Width);
    lines << Caption.mid(line.textStart(), line.textLength());
  }
  layout.endLayout();
  if (lines.isEmpty())
    lines << QString();
  return lines;
}

QSize TThumbItemDelegate::CellSize() const {
  const int lineHeight = QFontMetrics(FView.font()).lineSpacing();
  return QSize(std::max(IconSize, FCaptionWidth) + 2 * Margin,
               Margin + IconSize + Margin + FLines * lineHeight + Margin);
}

void TThumbItemDelegate::ApplyGrid() {
  FView.setGridSize(CellSize() + QSize(GridSpacing, GridSpacing));
  // The view keeps the size of one item for all of them; a new size must reach it.
  if (FView.count() > 0)
    emit sizeHintChanged(FView.model()->index(0, 0));
}

void TThumbItemDelegate::FitCaption(const QString& Caption) {
  const int lines = static_cast<int>(CaptionLines(Caption, FView.font(), FCaptionWidth).size());
  if (lines <= FLines)
    return;
  FLines = lines;
  ApplyGrid();
}

void TThumbItemDelegate::Reset() {
  if (FLines == 2)
    return;
  FLines = 2;
  ApplyGrid();
}

QSize TThumbItemDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
  return CellSize();
}

void TThumbItemDelegate::paint(QPainter* Painter, const QStyleOptionViewItem& Option,
                               const QModelIndex& Index) const {
  QStyleOptionViewItem opt(Option);
  initStyleOption(&opt, Index);
  const bool selected = opt.state & QStyle::State_Selected;
  const QPalette& pal = opt.palette;
  const QRect cell = opt.rect;
  Painter->save();

  const QRect picture(cell.left() + (cell.width() - IconSize) / 2, cell.top() + Margin, IconSize,
                      IconSize);
  if (!opt.icon.isNull())
    opt.icon.paint(Painter, picture, Qt::AlignCenter, selected ? QIcon::Selected : QIcon::Normal);

  const QFontMetrics fm(opt.font);
  const QStringList lines = CaptionLines(opt.text, opt.font, FCaptionWidth);
  const int top = picture.bottom() + 1 + Margin;
  int widest = 0;
  for (const QString& line : lines)
    widest = std::max(widest, fm.horizontalAdvance(line));
  const QRect caption(cell.left() + (cell.width() - widest) / 2 - 1, top, widest + 2,
                      static_cast<int>(lines.size()) * fm.lineSpacing());
  if (selected)
    Painter->fillRect(caption, pal.brush(QPalette::Highlight));
  Painter->setFont(opt.font);
  Painter->setPen(pal.color(selected ? QPalette::HighlightedText : QPalette::Text));
  for (int i = 0; i < lines.size(); ++i) {
    const int x = cell.left() + (cell.width() - fm.horizontalAdvance(lines[i])) / 2;
    Painter->drawText(x, top + i * fm.lineSpacing() + fm.ascent(), lines[i]);
  }
  if (opt.state & QStyle::State_HasFocus) {
    Painter->setPen(QPen(pal.color(QPalette::Text), 1, Qt::DotLine));
    Painter->setBrush(Qt::NoBrush);
    Painter->drawRect(caption.adjusted(0, 0, -1, -1));
  }
  Painter->restore();
}

} // namespace gf
