#include "Errors.h"

#include <cerrno>

namespace gf {

namespace {
thread_local uint32_t LastError = ERROR_SUCCESS;
}

std::string SysErrorMessage(uint32_t Code) {
  switch (Code) {
  case ERROR_SUCCESS:
    return "The operation completed successfully.";
  case ERROR_INVALID_FUNCTION:
    return "Incorrect function.";
  case ERROR_FILE_NOT_FOUND:
    return "The system cannot find the file specified.";
  case ERROR_PATH_NOT_FOUND:
    return "The system cannot find the path specified.";
  case ERROR_TOO_MANY_OPEN_FILES:
    return "The system cannot open the file.";
  case ERROR_ACCESS_DENIED:
    return "Access is denied.";
  case ERROR_INVALID_HANDLE:
    return "The handle is invalid.";
  case ERROR_NOT_ENOUGH_MEMORY:
    return "Not enough storage is available to process this command.";
  case ERROR_INVALID_DATA:
    return "The data is invalid.";
  case ERROR_OUTOFMEMORY:
    return "Not enough storage is available to complete this operation.";
  case ERROR_INVALID_DRIVE:
    return "The system cannot find the drive specified.";
  case ERROR_WRITE_PROTECT:
    return "The media is write protected.";
  case ERROR_BAD_UNIT:
    return "The system cannot find the device specified.";
  case ERROR_NOT_READY:
    return "The device is not ready.";
  case ERROR_BAD_COMMAND:
    return "The device does not recognize the command.";
  case ERROR_CRC:
    return "Data error (cyclic redundancy check).";
  case ERROR_BAD_LENGTH:
    return "The program issued a command but the command length is incorrect.";
  case ERROR_SEEK:
    return "The drive cannot locate a specific area or track on the disk.";
  case ERROR_NOT_DOS_DISK:
    return "The specified disk or diskette cannot be accessed.";
  case ERROR_SECTOR_NOT_FOUND:
    return "The drive cannot find the sector requested.";
  case ERROR_WRITE_FAULT:
    return "The system cannot write to the specified device.";
  case ERROR_READ_FAULT:
    return "The system cannot read from the specified device.";
  case ERROR_GEN_FAILURE:
    return "A device attached to the system is not functioning.";
  case ERROR_SHARING_VIOLATION:
    return "The process cannot access the file because it is being used by another process.";
  case ERROR_LOCK_VIOLATION:
    return "The process cannot access the file because another process has locked a portion of "
           "the file.";
  case ERROR_WRONG_DISK:
    return "The wrong diskette is in the drive.";
  case ERROR_HANDLE_EOF:
    return "Reached the end of the file.";
  case ERROR_NOT_SUPPORTED:
    return "The request is not supported.";
  case ERROR_DEV_NOT_EXIST:
    return "The specified network resource or device is no longer available.";
  case ERROR_FILE_EXISTS:
    return "The file exists.";
  case ERROR_INVALID_PARAMETER:
    return "The parameter is incorrect.";
  case ERROR_DISK_FULL:
    return "There is not enough space on the disk.";
  case ERROR_CALL_NOT_IMPLEMENTED:
    return "This function is not supported on this system.";
  case ERROR_INSUFFICIENT_BUFFER:
    return "The data area passed to a system call is too small.";
  case ERROR_INVALID_NAME:
    return "The filename, directory name, or volume label syntax is incorrect.";
  case ERROR_NEGATIVE_SEEK:
    return "An attempt was made to move the file pointer before the beginning of the file.";
  case ERROR_BUSY:
    return "The requested resource is in use.";
  case ERROR_ALREADY_EXISTS:
    return "Cannot create a file when that file already exists.";
  case ERROR_FILENAME_EXCED_RANGE:
    return "The filename or extension is too long.";
  case ERROR_UNRECOGNIZED_VOLUME:
    return "The volume does not contain a recognized file system.";
  case ERROR_END_OF_MEDIA:
    return "The physical end of the tape has been reached.";
  case ERROR_NO_MEDIA_IN_DRIVE:
    return "No media in drive.";
  case ERROR_IO_DEVICE:
    return "The request could not be performed because of an I/O device error.";
  case ERROR_DEVICE_NOT_CONNECTED:
    return "The device is not connected.";
  default:
    return "";
  }
}

uint32_t ErrnoToWinError(int Errno) {
  switch (Errno) {
  case 0:
    return ERROR_SUCCESS;
  case ENOENT:
    return ERROR_FILE_NOT_FOUND;
  case ENOTDIR:
    return ERROR_PATH_NOT_FOUND;
  case EMFILE:
  case ENFILE:
    return ERROR_TOO_MANY_OPEN_FILES;
  case EACCES:
  case EPERM:
    return ERROR_ACCESS_DENIED;
  case EBADF:
    return ERROR_INVALID_HANDLE;
  case ENOMEM:
    return ERROR_NOT_ENOUGH_MEMORY;
  case EROFS:
    return ERROR_WRITE_PROTECT;
  case ENXIO:
  case ENODEV:
    return ERROR_BAD_UNIT;
  case ENOMEDIUM:
    return ERROR_NOT_READY;
  case EIO:
    return ERROR_IO_DEVICE;
  case ESPIPE:
    return ERROR_SEEK;
  case EEXIST:
    return ERROR_FILE_EXISTS;
  case EINVAL:
    return ERROR_INVALID_PARAMETER;
  case ENOSPC:
    return ERROR_DISK_FULL;
  case ENOSYS:
    return ERROR_CALL_NOT_IMPLEMENTED;
  case ENAMETOOLONG:
    return ERROR_FILENAME_EXCED_RANGE;
  case EBUSY:
    return ERROR_BUSY;
  case ENOTTY:
    return ERROR_INVALID_FUNCTION;
  case ENOTSUP:
  case ENOTBLK:
    return ERROR_NOT_SUPPORTED;
  default:
    return ERROR_GEN_FAILURE;
  }
}

uint32_t GetLastError() {
  return LastError;
}
void SetLastError(uint32_t Code) {
  LastError = Code;
}

} // namespace gf
