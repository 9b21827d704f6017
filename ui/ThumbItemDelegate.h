// Draws the thumbnail view's items: the picture, and under it the file name in full,
// broken onto further lines where it is wider than the cell. Every cell has the same
// size, so the view lays out thousands of items without measuring each caption.
#pragma once

#include <QtCore/QStringList>
#include <QtWidgets/QStyledItemDelegate>

class QListWidget;

namespace gf {

class TThumbItemDelegate : public QStyledItemDelegate {
public:
  static constexpr int IconSize = 80;
  // The longest name a scan gives for years of use: it fits one cell on two lines.
  static constexpr const char* LongestUsualCaption = "Image99999.JPEG";

  // Installs itself as View's delegate and sets the view's grid to its cells.
  explicit TThumbItemDelegate(QListWidget& View);

  // The caption broken into the lines that a cell Width pixels wide shows: at word
  // boundaries where it can, anywhere else; nothing is left out.
  static QStringList CaptionLines(const QString& Caption, const QFont& Font, int Width);

  // Makes every cell tall enough for Caption, when it needs more lines than they have.
  void FitCaption(const QString& Caption);
  // Back to cells of two caption lines, for an empty view.
  void Reset();

  int CaptionWidth() const { return FCaptionWidth; }
  int CaptionLineCount() const { return FLines; }
  QSize CellSize() const;

  QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const override;
  void paint(QPainter* Painter, const QStyleOptionViewItem& Option,
             const QModelIndex& Index) const override;

private:
  void ApplyGrid();

  QListWidget& FView;
  int FCaptionWidth = 0;
  int FLines = 2;
};

} // namespace gf
