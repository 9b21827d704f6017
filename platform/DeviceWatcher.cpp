#include "DeviceWatcher.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <unistd.h>

namespace gf {

namespace {
constexpr uintptr_t DeviceArrival = 0x8000;
constexpr uintptr_t DeviceRemoveComplete = 0x8004;
} // namespace

TDeviceWatcher::TDeviceWatcher(TMessageWindow& Target) : FTarget(Target) {
  FUdev = udev_new();
  if (FUdev)
    FMonitor = udev_monitor_new_from_netlink(FUdev, "udev");
  if (!FMonitor ||
      udev_monitor_filter_add_match_subsystem_devtype(FMonitor, "block", nullptr) < 0 ||
      udev_monitor_enable_receiving(FMonitor) < 0 || ::pipe2(FStopPipe, O_CLOEXEC) != 0) {
    FError = std::strerror(errno ? errno : ENOSYS);
    return;
  }
  FThread = std::thread([this] { Run(); });
}

TDeviceWatcher::~TDeviceWatcher() {
  if (FThread.joinable()) {
    char c = 0;
    (void)!::write(FStopPipe[1], &c, 1);
    FThread.join();
  }
  for (int fd : FStopPipe)
    if (fd >= 0)
      ::close(fd);
  if (FMonitor)
    udev_monitor_unref(FMonitor);
  if (FUdev)
    udev_unref(FUdev);
}

void TDeviceWatcher::Run() {
  pollfd fds[2] = {{udev_monitor_get_fd(FMonitor), POLLIN, 0}, {FStopPipe[0], POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR)
        continue;
      return;
    }
    if (fds[1].revents)
      return;
    if (!(fds[0].revents & POLLIN))
      continue;
    udev_device* dev = udev_monitor_receive_device(FMonitor);
    if (!dev)
      continue;
    const char* action = udev_device_get_action(dev);
    // A card put into a reader changes the reader's disk device; taken out, likewise.
    if (action && (!std::strcmp(action, "add") || !std::strcmp(action, "change")))
      FTarget.Post(WM_DEVICECHANGE, DeviceArrival, 0);
    else if (action && !std::strcmp(action, "remove"))
      FTarget.Post(WM_DEVICECHANGE, DeviceRemoveComplete, 0);
    udev_device_unref(dev);
  }
}

} // namespace gf
