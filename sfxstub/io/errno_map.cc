#include "sfxstub/io/errno_map.h"

#include <cerrno>

namespace sfx {

uint32_t ErrnoToWin32Error(int e) {
  switch (e) {
    case ENOENT: return 2;      // ERROR_FILE_NOT_FOUND
    case E2BIG: return 10;      // ERROR_BAD_ENVIRONMENT
    case ENOEXEC: return 11;    // ERROR_BAD_FORMAT
    case EBADF: return 6;       // ERROR_INVALID_HANDLE
    case ECHILD: return 128;    // ERROR_WAIT_NO_CHILDREN
    case EAGAIN: return 89;     // ERROR_NO_PROC_SLOTS
    case ENOMEM: return 8;      // ERROR_NOT_ENOUGH_MEMORY
    case EACCES: return 5;      // ERROR_ACCESS_DENIED
    case EEXIST: return 183;    // ERROR_ALREADY_EXISTS
    case EXDEV: return 17;      // ERROR_NOT_SAME_DEVICE
    case ENODEV: return 15;     // ERROR_INVALID_DRIVE
    case ENOTDIR: return 3;     // ERROR_PATH_NOT_FOUND
    case EINVAL: return 87;     // ERROR_INVALID_PARAMETER
    case EMFILE: return 4;      // ERROR_TOO_MANY_OPEN_FILES
    case ENOSPC: return 112;    // ERROR_DISK_FULL
    case EPIPE: return 109;     // ERROR_BROKEN_PIPE
    case ENOTEMPTY: return 145; // ERROR_DIR_NOT_EMPTY
    default: return 120;        // ERROR_CALL_NOT_IMPLEMENTED
  }
}

}  // namespace sfx
