#include "DriveItemDelegate.h"

#include <QtGui/QPainter>
#include <QtWidgets/QListWidget>

namespace gf {

TDriveItemDelegate::TDriveItemDelegate(QListWidget& List, const std::vector<QPixmap>& Icons,
                                       TLookup Lookup)
    : QStyledItemDelegate(&List), FList(List), FIcons(Icons), FLookup(std::move(Lookup)) {
  FList.setItemDelegate(this);
}

QSize TDriveItemDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
  return QSize(FList.viewport()->width(), IconSize);
}

void TDriveItemDelegate::paint(QPainter* Painter, const QStyleOptionViewItem& Option,
                               const QModelIndex& Index) const {
  bool selected = Option.state & QStyle::State_Selected;
  const QPalette& pal = Option.palette;
  Painter->fillRect(Option.rect,
                    selected ? pal.brush(QPalette::Highlight) : pal.brush(QPalette::Base));
  std::optional<TDrive> drive = FLookup(Index.data().toString());
  if (!drive)
    return;
  QRect r = Option.rect;
  if (drive->Kind < FIcons.size())
    Painter->drawPixmap(r.topLeft(), FIcons[drive->Kind]);
  r.setLeft(r.left() + IconSize);
  Painter->save();
  Painter->setClipRect(r);
  Painter->setPen(selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text));
  QFontMetrics fm(Painter->font());
  int y = r.top() + (r.height() - fm.height() + 1) / 2;
  // An image file's name is a long path: keep its start and its end (the file name).
  QString name = fm.elidedText(drive->DisplayName, Qt::ElideMiddle, r.width() - 5);
  Painter->drawText(r.left() + 5, y + fm.ascent(), name);
  Painter->restore();
  if (Option.state & QStyle::State_HasFocus) {
    // The keyboard's place in the list, also where nothing is selected yet: a dotted
    // frame, drawn whatever the style (some draw focus only after a Tab).
    Painter->save();
    Painter->setPen(
        QPen(pal.color(selected ? QPalette::HighlightedText : QPalette::Text), 1, Qt::DotLine));
    Painter->setBrush(Qt::NoBrush);
    Painter->drawRect(Option.rect.adjusted(0, 0, -1, -1));
    Painter->restore();
  }
}

} // namespace gf
