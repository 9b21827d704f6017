// Watches udev for block devices and media coming and going and posts the
// device-change message (WM_DEVICECHANGE with 0x8000 arrival or 0x8004 removal
// complete) to a message window, which handles it on its own thread.
#pragma once

#include "MessageWindow.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

struct udev;
struct udev_monitor;

namespace gf {

class TDeviceWatcher {
public:
  // Target must outlive the watcher. Without udev the watcher stays idle; ErrorText says why.
  explicit TDeviceWatcher(TMessageWindow& Target);
  ~TDeviceWatcher();
  TDeviceWatcher(const TDeviceWatcher&) = delete;
  TDeviceWatcher& operator=(const TDeviceWatcher&) = delete;

  bool Active() const { return FThread.joinable(); }
  const std::string& ErrorText() const { return FError; }

private:
  void Run();

  TMessageWindow& FTarget;
  ::udev* FUdev = nullptr;
  ::udev_monitor* FMonitor = nullptr;
  int FStopPipe[2] = {-1, -1};
  std::thread FThread;
  std::string FError;
};

} // namespace gf
