#include "System.h"

#include <chrono>
#include <thread>

namespace gf {

void Sleep(uint32_t Milliseconds) {
  if (Milliseconds == 0)
    std::this_thread::yield();
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
}

} // namespace gf
