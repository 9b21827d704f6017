// The drive list's entries: the icon of the drive's kind, the name beside it, every
// entry as high as the icons, and nothing but the background for an entry whose drive
// is gone.
#include "DriveItemDelegate.h"

#include <QtGui/QPainter>
#include <QtWidgets/QListWidget>

#include <gtest/gtest.h>

#include <map>

using namespace gf;

namespace {

struct TRender {
  QImage Image;
  QColor Background;
};

// The entry Root drawn into a 240 x 32 image, over drives that Drives holds.
TRender Render(const std::map<QString, TDriveItemDelegate::TDrive>& Drives, const QString& Root,
               const std::vector<QPixmap>& Icons) {
  QListWidget list;
  list.resize(240, 200);
  list.addItem(Root);
  auto* delegate = new TDriveItemDelegate(list, Icons, [&](const QString& R) {
    std::optional<TDriveItemDelegate::TDrive> d;
    if (auto it = Drives.find(R); it != Drives.end())
      d = it->second;
    return d;
  });
  EXPECT_EQ(list.itemDelegate(), delegate);
  TRender r{QImage(240, 32, QImage::Format_RGB32), QColor()};
  r.Image.fill(Qt::magenta);
  QStyleOptionViewItem option;
  option.initFrom(&list);
  option.widget = &list;
  option.rect = QRect(0, 0, 240, 32);
  option.state = QStyle::State_Enabled;
  r.Background = option.palette.color(QPalette::Base);
  QPainter p(&r.Image);
  delegate->paint(&p, option, list.model()->index(0, 0));
  EXPECT_EQ(delegate->sizeHint(option, list.model()->index(0, 0)).height(),
            TDriveItemDelegate::IconSize);
  return r;
}

// Pixels in the columns [From, To) that are not the background.
int Inked(const TRender& R, int From, int To) {
  int n = 0;
  for (int y = 0; y < R.Image.height(); ++y)
    for (int x = From; x < To; ++x)
      if (R.Image.pixelColor(x, y) != R.Background)
        ++n;
  return n;
}

} // namespace

TEST(DriveItemDelegate, IconOfTheKindThenTheName) {
  std::vector<QPixmap> icons;
  for (QColor c : {Qt::red, Qt::green, Qt::blue}) {
    QPixmap p(TDriveItemDelegate::IconSize, TDriveItemDelegate::IconSize);
    p.fill(c);
    icons.push_back(p);
  }
  const std::map<QString, TDriveItemDelegate::TDrive> drives = {
      {"E:\\", {1, "CARD (E:)"}}, {"F:\\", {7, "Unknown (F:)"}}, {"G:\\", {2, ""}}};
  struct TCase {
    const char* What;
    QString Root;
    QColor Icon; // invalid: no icon
    bool Name;   // the name is drawn beside the icon's place
  };
  const TCase cases[] = {
      {"a drive", "E:\\", Qt::green, true},
      {"a kind without an icon", "F:\\", QColor(), true},
      {"an empty name", "G:\\", Qt::blue, false},
      {"a drive that is gone", "H:\\", QColor(), false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TRender r = Render(drives, c.Root, icons);
    if (c.Icon.isValid()) {
      EXPECT_EQ(r.Image.pixelColor(0, 0), c.Icon);
      EXPECT_EQ(r.Image.pixelColor(31, 31), c.Icon);
    } else {
      EXPECT_EQ(Inked(r, 0, TDriveItemDelegate::IconSize), 0);
    }
    EXPECT_EQ(r.Image.pixelColor(239, 0), r.Background) << "the whole entry is filled";
    EXPECT_EQ(Inked(r, TDriveItemDelegate::IconSize, 240) > 0, c.Name);
  }
}
