// A timer without a clock of its own: whoever drives it (a test, or a window's real
// timer) calls Tick, and the handler runs only while the timer is enabled.
#pragma once

#include <cstdint>
#include <functional>

namespace gf {

class TTimer {
public:
  bool Enabled = false;
  uint32_t Interval = 1000; // milliseconds between ticks, for whoever drives it
  std::function<void()> OnTimer;

  void Tick() {
    if (Enabled && OnTimer)
      OnTimer();
  }
};

} // namespace gf
