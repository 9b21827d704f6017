// Draws the drive list's entries (the list box's LBDrivesDrawItem and
// LBDrivesMeasureItem): the icon of the drive's kind, then its display name; every
// entry is as high as the icons.
#pragma once

#include <QtGui/QPixmap>
#include <QtWidgets/QStyledItemDelegate>

#include <functional>
#include <optional>
#include <vector>

class QListWidget;

namespace gf {

class TDriveItemDelegate : public QStyledItemDelegate {
public:
  static constexpr int IconSize = 32;

  struct TDrive {
    unsigned Kind = 0; // the drive kind, the index of its icon
    QString DisplayName;
  };
  // The drive an entry stands for, by the entry's text (the drive's root); none when
  // no drive has that root any more.
  using TLookup = std::function<std::optional<TDrive>(const QString& Root)>;

  // Installs itself as List's delegate. Icons: one per drive kind, IconSize square;
  // kept by reference, so it must outlive the delegate.
  TDriveItemDelegate(QListWidget& List, const std::vector<QPixmap>& Icons, TLookup Lookup);

  QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const override;
  void paint(QPainter* Painter, const QStyleOptionViewItem& Option,
             const QModelIndex& Index) const override;

private:
  QListWidget& FList;
  const std::vector<QPixmap>& FIcons;
  TLookup FLookup;
};

} // namespace gf
