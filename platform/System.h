// Small services of the platform that have no better home.
#pragma once

#include <cstdint>

namespace gf {

// Sleeps Milliseconds; 0 gives up the rest of the time slice.
void Sleep(uint32_t Milliseconds);

} // namespace gf
