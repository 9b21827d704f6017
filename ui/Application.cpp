#include "Application.h"

#include "Debug.h"
#include "Desktop.h"
#include "MessageWindow.h"

#include <QtWidgets/QWidget>

#include <exception>

namespace gf {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // At most one pump waits in the event queue however fast the scanner posts.
  SetMessageWakeup([this] {
    if (!FPumpQueued.exchange(true))
      QMetaObject::invokeMethod(
          this, [this] { PumpMessages(); }, Qt::QueuedConnection);
  });
}

TApplication::~TApplication() {
  SetMessageWakeup(nullptr);
}

void TApplication::PumpMessages() {
  FPumpQueued = false;
  try {
    ProcessMessages();
  } catch (const std::exception& e) {
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

void TApplication::ShowError(const std::string& Message) {
  DebugLog("MAIN: Error in a handler: %s", Message);
  if (FDesktop)
    FDesktop->MessageBox(activeWindow(), TBoxKind::Error, Message, TBoxButtons::Ok);
}

} // namespace gf
