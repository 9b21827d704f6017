// The Qt application object: wakes the event loop for the message windows, and shows
// an error that escapes a handler in a message box instead of ending the program.
#pragma once

#include <QtWidgets/QApplication>

#include <atomic>
#include <exception>
#include <string>

namespace gf {

class TDesktop;

class TApplication : public QApplication {
public:
  TApplication(int& argc, char** argv);
  ~TApplication() override;

  bool notify(QObject* Receiver, QEvent* Event) override;
  // Where escaped errors are shown; until it is set they go to the debug log only.
  void SetDesktop(TDesktop* Desktop) { FDesktop = Desktop; }
  void ShowError(const std::string& Message);

private:
  void PumpMessages();

  TDesktop* FDesktop = nullptr;
  std::atomic<bool> FPumpQueued{false};
};

// Shows an error that a handler raised, through the running TApplication.
void ShowHandlerError(const std::string& Message);

// What the modules register before anything else runs, as the program starts: the
// recognizers in their trial order, and the image library's classes for PNG, TIFF and
// JPEG files and for the clipboard's bitmaps. The program, its tests and its benches
// all start with this one call.
void RegisterModules();

// A handler for a signal: an error it raises is shown and goes no further, so that it
// never unwinds through the toolkit's own frames.
template <typename F> auto Guarded(F Handler) {
  return [Handler]() mutable {
    try {
      Handler();
    } catch (const std::exception& e) {
      ShowHandlerError(e.what());
    }
  };
}

} // namespace gf
