#include "sfxstub/io/errno_map.h"

#include <cerrno>

#include "sfxstub/io/win32_error.h"

namespace sfx {

uint32_t ErrnoToWin32Error(int e) {
  switch (e) {
    case ENOENT: return kErrorFileNotFound;
    case E2BIG: return kErrorBadEnvironment;
    case ENOEXEC: return kErrorBadFormat;
    case EBADF: return kErrorInvalidHandle;
    case ECHILD: return kErrorWaitNoChildren;
    case EAGAIN: return kErrorNoProcSlots;
    case ENOMEM: return kErrorNotEnoughMemory;
    case EACCES: return kErrorAccessDenied;
    case EEXIST: return kErrorAlreadyExists;
    case EXDEV: return kErrorNotSameDevice;
    case ENODEV: return kErrorInvalidDrive;
    case ENOTDIR: return kErrorPathNotFound;
    case EINVAL: return kErrorInvalidParameter;
    case EMFILE: return kErrorTooManyOpenFiles;
    case ENOSPC: return kErrorDiskFull;
    case EPIPE: return kErrorBrokenPipe;
    case ENOTEMPTY: return kErrorDirNotEmpty;
    default: return kErrorCallNotImplemented;
  }
}

}  // namespace sfx
