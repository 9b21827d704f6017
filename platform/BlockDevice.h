// What the kernel tells of a block device.
#pragma once

#include <cstdint>

namespace gf {

// The logical sector size of the block device open as Fd: the unit in which the device
// is addressed. 0 when Fd is no block device or the kernel does not say.
uint32_t LogicalSectorSize(int Fd);

} // namespace gf
