#include "SaverThread.h"

#include <QtCore/QEventLoop>
#include <QtCore/QMetaObject>

#include <stdexcept>

namespace gf {

TSaverThread::TSaverThread() : FThread([this] { Execute(); }) {}

TSaverThread::~TSaverThread() {
  {
    std::lock_guard lock(FMutex);
    FQuit = true;
  }
  FCond.notify_all();
  FThread.join();
}

bool TSaverThread::Busy() const {
  std::lock_guard lock(FMutex);
  return FBusy;
}

void TSaverThread::Execute() {
  std::unique_lock lock(FMutex);
  for (;;) {
    FCond.wait(lock, [this] { return FWork || FQuit; });
    if (!FWork)
      return; // quitting with nothing in hand
    const std::function<void()>* work = FWork;
    FWork = nullptr;
    lock.unlock();
    std::exception_ptr error;
    try {
      (*work)();
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    FError = error;
    FDone = true;
    if (FLoop)
      QMetaObject::invokeMethod(FLoop, "quit", Qt::QueuedConnection);
    FCond.notify_all();
  }
}

void TSaverThread::Run(const std::function<void()>& Work, const std::function<void()>& OnWait) {
  std::unique_lock lock(FMutex);
  if (FBusy)
    throw std::logic_error("The saver thread is already busy");
  FBusy = true;
  FDone = false;
  FError = nullptr;
  FWork = &Work;
  FCond.notify_all();
  if (!FCond.wait_for(lock, QuickWait, [this] { return FDone; })) {
    lock.unlock();
    if (OnWait)
      OnWait();
    QEventLoop loop;
    lock.lock();
    while (!FDone) {
      FLoop = &loop;
      lock.unlock();
      loop.exec();
      lock.lock();
      FLoop = nullptr;
      if (!FDone)
        // The loop was ended from outside (the application quits): the work is still
        // waited for, with no events any more.
        FCond.wait(lock, [this] { return FDone; });
    }
  }
  FBusy = false;
  std::exception_ptr error = FError;
  FError = nullptr;
  lock.unlock();
  if (error)
    std::rethrow_exception(error);
}

} // namespace gf
