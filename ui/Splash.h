// The product picture shown while the program starts; it hides itself five seconds
// after it was shown, or as soon as one of the program's modal windows (a question, a
// dialog) appears, which must not be hidden behind it.
#pragma once

#include <QtCore/QTimer>
#include <QtWidgets/QWidget>

class QLabel;

namespace gf {

class TFormSplash : public QWidget {
public:
  // Raises std::runtime_error when the picture cannot be loaded.
  TFormSplash();

  QLabel* ImageSplash;
  QTimer Timer1;

protected:
  // The timer starts when the window is shown: a window manager need not activate it.
  void showEvent(QShowEvent* Event) override;
  void hideEvent(QHideEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  void Timer1Timer();
  bool FShownOnce = false;
};

} // namespace gf
