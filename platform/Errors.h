// Windows-style error codes as the media code reports them, their texts, the
// per-thread last error, and the mapping from errno.
#pragma once

#include <cstdint>
#include <string>

namespace gf {

enum : uint32_t {
  ERROR_SUCCESS = 0,
  ERROR_INVALID_FUNCTION = 1,
  ERROR_FILE_NOT_FOUND = 2,
  ERROR_PATH_NOT_FOUND = 3,
  ERROR_TOO_MANY_OPEN_FILES = 4,
  ERROR_ACCESS_DENIED = 5,
  ERROR_INVALID_HANDLE = 6,
  ERROR_NOT_ENOUGH_MEMORY = 8,
  ERROR_INVALID_DATA = 13,
  ERROR_OUTOFMEMORY = 14,
  ERROR_INVALID_DRIVE = 15,
  ERROR_WRITE_PROTECT = 19,
  ERROR_BAD_UNIT = 20,
  ERROR_NOT_READY = 21,
  ERROR_BAD_COMMAND = 22,
  ERROR_CRC = 23,
  ERROR_BAD_LENGTH = 24,
  ERROR_SEEK = 25,
  ERROR_NOT_DOS_DISK = 26,
  ERROR_SECTOR_NOT_FOUND = 27,
  ERROR_WRITE_FAULT = 29,
  ERROR_READ_FAULT = 30,
  ERROR_GEN_FAILURE = 31,
  ERROR_SHARING_VIOLATION = 32,
  ERROR_LOCK_VIOLATION = 33,
  ERROR_WRONG_DISK = 34,
  ERROR_HANDLE_EOF = 38,
  ERROR_NOT_SUPPORTED = 50,
  ERROR_DEV_NOT_EXIST = 55,
  ERROR_FILE_EXISTS = 80,
  ERROR_INVALID_PARAMETER = 87,
  ERROR_DISK_FULL = 112,
  ERROR_CALL_NOT_IMPLEMENTED = 120,
  ERROR_INSUFFICIENT_BUFFER = 122,
  ERROR_INVALID_NAME = 123,
  ERROR_NEGATIVE_SEEK = 131,
  ERROR_BUSY = 170,
  ERROR_ALREADY_EXISTS = 183,
  ERROR_FILENAME_EXCED_RANGE = 206,
  ERROR_UNRECOGNIZED_VOLUME = 1005,
  ERROR_END_OF_MEDIA = 1100,
  ERROR_NO_MEDIA_IN_DRIVE = 1112,
  ERROR_IO_DEVICE = 1117,
  ERROR_DEVICE_NOT_CONNECTED = 1167,
};

// The platform's message text for an error code; empty when it has none.
std::string SysErrorMessage(uint32_t Code);

// The Windows error code that stands for an errno value.
uint32_t ErrnoToWinError(int Errno);

// The calling thread's last error, as the platform calls set it.
uint32_t GetLastError();
void SetLastError(uint32_t Code);

} // namespace gf
