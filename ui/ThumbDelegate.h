// The thumbnail list's items: the picture over its caption, which is always drawn in
// full. Every item of the list has the same size (so that adding one measures only its
// own caption), and that size grows by whole lines when a caption needs more of them.
#pragma once

#include <QtCore/QSize>
#include <QtCore/QStringList>
#include <QtWidgets/QStyledItemDelegate>

class QAbstractItemModel;
class QFontMetrics;
class QListView;

namespace gf {

// The lines that Caption is drawn in, each at most Width pixels wide: as many characters
// as fit, broken after the last ".", " ", "_" or "-" of the line when there is one.
QStringList CaptionLines(const QString& Caption, const QFontMetrics& Metrics, int Width);

class TThumbDelegate : public QStyledItemDelegate {
public:
  // Sets itself up as View's delegate and keeps the view's cells to its size. Icon:
  // the pictures' size.
  TThumbDelegate(QListView& View, QSize Icon);

  QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const override;
  void paint(QPainter* Painter, const QStyleOptionViewItem& Option,
             const QModelIndex& Index) const override;

  // One cell: the picture and CaptionLineCount lines of the view's font.
  QSize CellSize() const;
  int CaptionLineCount() const { return FLines; }
  // Where an item in Cell draws its picture and its caption.
  QRect IconRect(const QRect& Cell) const;
  QRect CaptionRect(const QRect& Cell) const;
  // The lines that the item at Index draws in Cell with the view's font.
  QStringList DrawnCaption(const QRect& Cell, const QModelIndex& Index) const;

private:
  static constexpr int Margin = 3;
  static constexpr int MinLines = 2; // "Image99999.JPEG" breaks after its dot
  void RowsInserted(int First, int Last);
  void Reset();
  void SetLines(int Lines);

  QListView& FView;
  QSize FIcon;
  int FWidth;
  int FLines = MinLines;
};

} // namespace gf
