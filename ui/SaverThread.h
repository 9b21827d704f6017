// The thread that writes to the destination, so that a slow disk never holds up the
// window: the window hands it one piece of work at a time and, while it waits for the
// result, goes on handling its events (paints, buttons, timers, the window manager's
// pings), as a modal dialog does.
#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

class QEventLoop;

namespace gf {

class TSaverThread {
public:
  // Work done within this time is waited for without an event loop, which would cost
  // more than the work itself (a found file saved to a fast disk).
  static constexpr std::chrono::milliseconds QuickWait{2};

  TSaverThread();
  // Lets the work in hand finish (a file is never left half written), then ends.
  ~TSaverThread();
  TSaverThread(const TSaverThread&) = delete;
  TSaverThread& operator=(const TSaverThread&) = delete;

  // Runs Work on the saver thread and returns once it has returned, raising again what
  // it raised. Meanwhile the calling (window) thread handles its events; OnWait, when
  // set, is called once as that wait begins, after QuickWait. Handlers that run during
  // the wait may not call Run: one piece of work is in hand at a time, and a second
  // call throws.
  void Run(const std::function<void()>& Work, const std::function<void()>& OnWait = {});

  // Whether a Run is waiting for its work.
  bool Busy() const;

private:
  void Execute();

  mutable std::mutex FMutex;
  std::condition_variable FCond;
  const std::function<void()>* FWork = nullptr; // the work to take up; null when none
  bool FBusy = false;                           // a Run is in progress
  bool FDone = false;                           // the work in hand has returned
  bool FQuit = false;
  std::exception_ptr FError;
  QEventLoop* FLoop = nullptr; // the waiting Run's event loop, to be woken when done
  std::thread FThread;         // last: it starts once the rest is ready
};

} // namespace gf
