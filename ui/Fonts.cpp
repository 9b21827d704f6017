#include "Fonts.h"

#include <QtGui/QKeyEvent>
#include <QtGui/QPixmap>
#include <QtWidgets/QToolButton>

namespace gf {

namespace {

// Enter presses the button that has the focus, as Space does.
class TEnterPresses : public QObject {
public:
  using QObject::QObject;

protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Event->type() != QEvent::KeyPress)
      return false;
    auto* key = static_cast<QKeyEvent*>(Event);
    if (!IsPlainEnter(*key))
      return false;
    if (!key->isAutoRepeat())
      static_cast<QAbstractButton*>(Watched)->click();
    return true;
  }
};

} // namespace

bool IsPlainEnter(const QKeyEvent& Key) {
  return (Key.key() == Qt::Key_Return || Key.key() == Qt::Key_Enter) &&
         (Key.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

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
  b->installEventFilter(new TEnterPresses(b));
  return b;
}

} // namespace gf
