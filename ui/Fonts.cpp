#include "Fonts.h"

#include <QtGui/QPixmap>

namespace gf {

QFont FormFont(int Pixels) {
  QFont f("DejaVu Sans");
  f.setPixelSize(Pixels);
  return f;
}

QIcon Glyph(const char* Name) {
  QIcon icon;
  icon.addPixmap(QPixmap(QString(":/%1.png").arg(Name)), QIcon::Normal);
  icon.addPixmap(QPixmap(QString(":/%1_D.png").arg(Name)), QIcon::Disabled);
  return icon;
}

} // namespace gf
