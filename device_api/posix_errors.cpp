#include "device_api/posix_errors.h"

#include <cerrno>

namespace hidlist {

DWORD WindowsErrorFromErrno(int err) {
  switch (err) {
    case EPIPE:
      return ERROR_NO_DATA;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return ERROR_DISK_FULL;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
      return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EISDIR:
      // What ReadFile on a directory gives on Windows.
      return ERROR_INVALID_FUNCTION;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EIO:
      return ERROR_IO_DEVICE;
    case EFBIG:
      return ERROR_FILE_TOO_LARGE;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case ENXIO:
    case ENODEV:
      return ERROR_DEVICE_NOT_CONNECTED;
    case ECONNRESET:
      // The peer went away: Windows' broken pipe.
      return ERROR_BROKEN_PIPE;
    default:
      return ERROR_GEN_FAILURE;
  }
}

}  // namespace hidlist
