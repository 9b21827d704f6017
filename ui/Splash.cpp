#include "Splash.h"

#include <QtCore/QCoreApplication>
#include <QtGui/QBitmap>
#include <QtGui/QGuiApplication>
#include <QtGui/QScreen>
#include <QtWidgets/QLabel>

#include <stdexcept>

namespace gf {

TFormSplash::TFormSplash()
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      ImageSplash(new QLabel(this)) {
  QImage picture(":/ABOUT.jpg", "JPG");
  if (picture.isNull())
    throw std::runtime_error("Cannot load the ABOUT picture");
  ImageSplash->setPixmap(QPixmap::fromImage(picture));
  ImageSplash->setGeometry(0, 0, picture.width(), picture.height());
  setFixedSize(picture.size());
  // Pixels of the button-face colour let the desktop show through.
  QColor face = palette().color(QPalette::Button);
  QImage mask = picture.createMaskFromColor(face.rgb(), Qt::MaskOutColor);
  QBitmap bits = QBitmap::fromImage(mask);
  if (!QRegion(bits).isEmpty() && QRegion(bits) != QRegion(picture.rect()))
    setMask(bits);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->geometry().center() - rect().center());
  Timer1.setInterval(5000);
  Timer1.setSingleShot(true);
  connect(&Timer1, &QTimer::timeout, this, &TFormSplash::Timer1Timer);
}

void TFormSplash::showEvent(QShowEvent* Event) {
  QWidget::showEvent(Event);
  if (!FShownOnce) {
    FShownOnce = true;
    Timer1.start();
  }
  QCoreApplication::instance()->installEventFilter(this);
}

void TFormSplash::hideEvent(QHideEvent* Event) {
  QWidget::hideEvent(Event);
  QCoreApplication::instance()->removeEventFilter(this);
}

bool TFormSplash::eventFilter(QObject* Watched, QEvent* Event) {
  // The splash stays on top of everything; a modal window below it would look like a
  // program that hangs.
  if (Event->type() == QEvent::Show && Watched != this && Watched->isWidgetType()) {
    auto* w = static_cast<QWidget*>(Watched);
    if (w->isWindow() && w->isModal())
      hide();
  }
  return QWidget::eventFilter(Watched, Event);
}

void TFormSplash::Timer1Timer() {
  hide();
}

} // namespace gf
