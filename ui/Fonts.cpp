#include "Fonts.h"

#include <QtGui/QPixmap>
#include <QtWidgets/QToolButton>

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

QToolButton* MakeGlyphButton(QWidget* Parent, const char* Text, const char* GlyphName,
                             const QRect& Geometry, int IconSize, Qt::ToolButtonStyle Style) {
  auto* b = new QToolButton(Parent);
  b->setText(Text);
  b->setIcon(Glyph(GlyphName));
  b->setIconSize(QSize(IconSize, IconSize));
  b->setToolButtonStyle(Style);
  b->setAutoRaise(true);
  b->setFocusPolicy(Qt::StrongFocus);
  b->setGeometry(Geometry);
  return b;
}

} // namespace gf
