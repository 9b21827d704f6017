#include "Application.h"

#include "Debug.h"
#include "Desktop.h"
#include "DibGraphic.h"
#include "JpegGraphic.h"
#include "MessageWindow.h"
#include "PngGraphic.h"
#include "Recognizer.h"
#include "TiffGraphic.h"

#include <QtCore/QTimer>
#include <QtWidgets/QWidget>

#include <exception>

namespace gf {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // At most one pump waits in the event queue however fast the scanner posts; a report
  // held back for its time gets a timer of its own, made on this thread.
  SetMessageWakeup([this](std::chrono::milliseconds Delay) {
    if (Delay.count() > 0)
      QMetaObject::invokeMethod(
          this,
          [this, Delay] {
            QTimer::singleShot(Delay, Qt::PreciseTimer, this, [this] { PumpMessages(); });
          },
          Qt::QueuedConnection);
    else if (!FPumpQueued.exchange(true))
      QMetaObject::invokeMethod(
          this, [this] { PumpMessages(); }, Qt::QueuedConnection);
  });
}

TApplication::~TApplication() {
  SetMessageWakeup(nullptr);
}

void TApplication::PumpMessages() {
  try {
    // The flag stays set while messages keep coming, so that a busy scanner does not
    // pay for a wakeup per batch; a message that arrives after the last look wakes us.
    for (;;) {
      ProcessMessages();
      FPumpQueued = false;
      if (!MessagesPending() || FPumpQueued.exchange(true))
        break;
    }
  } catch (const std::exception& e) {
    FPumpQueued = false;
    if (MessagesPending() && !FPumpQueued.exchange(true))
      QMetaObject::invokeMethod(
          this, [this] { PumpMessages(); }, Qt::QueuedConnection);
    ShowError(e.what());
  }
}

bool TApplication::notify(QObject* Receiver, QEvent* Event) {
  try {
    return QApplication::notify(Receiver, Event);
  } catch (const std::exception& e) {
    ShowError(e.what());
  } catch (...) {
    ShowError("Unknown error");
  }
  return false;
}

void ShowHandlerError(const std::string& Message) {
  if (auto* app = dynamic_cast<TApplication*>(QCoreApplication::instance()))
    app->ShowError(Message);
  else
    DebugLog("MAIN: Error in a handler: %s", Message);
}

void TApplication::ShowError(const std::string& Message) {
  DebugLog("MAIN: Error in a handler: %s", Message);
  if (FDesktop)
    FDesktop->MessageBox(activeWindow(), TBoxKind::Error, Message, TBoxButtons::Ok);
}

void RegisterModules() {
  RegisterRecognizers();
  RegisterPngGraphic();
  RegisterTiffGraphic();
  RegisterJpegGraphic();
  RegisterDibGraphic();
}

} // namespace gf
