// The names of win32_error.h stand for the numbers Windows gives the same errors (Windows build
// only: it holds each against its <windows.h> macro when it compiles).
#include "sfxstub/io/win32_error.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace sfx {
namespace {

#define SFX_SAME_AS_WINDOWS(ours, theirs) \
  static_assert(ours == static_cast<int32_t>(theirs), #ours " is not " #theirs)
SFX_SAME_AS_WINDOWS(kErrorSuccess, ERROR_SUCCESS);
SFX_SAME_AS_WINDOWS(kErrorInvalidFunction, ERROR_INVALID_FUNCTION);
SFX_SAME_AS_WINDOWS(kErrorFileNotFound, ERROR_FILE_NOT_FOUND);
SFX_SAME_AS_WINDOWS(kErrorPathNotFound, ERROR_PATH_NOT_FOUND);
SFX_SAME_AS_WINDOWS(kErrorTooManyOpenFiles, ERROR_TOO_MANY_OPEN_FILES);
SFX_SAME_AS_WINDOWS(kErrorAccessDenied, ERROR_ACCESS_DENIED);
SFX_SAME_AS_WINDOWS(kErrorInvalidHandle, ERROR_INVALID_HANDLE);
SFX_SAME_AS_WINDOWS(kErrorNotEnoughMemory, ERROR_NOT_ENOUGH_MEMORY);
SFX_SAME_AS_WINDOWS(kErrorBadEnvironment, ERROR_BAD_ENVIRONMENT);
SFX_SAME_AS_WINDOWS(kErrorBadFormat, ERROR_BAD_FORMAT);
SFX_SAME_AS_WINDOWS(kErrorInvalidDrive, ERROR_INVALID_DRIVE);
SFX_SAME_AS_WINDOWS(kErrorNotSameDevice, ERROR_NOT_SAME_DEVICE);
SFX_SAME_AS_WINDOWS(kErrorSharingViolation, ERROR_SHARING_VIOLATION);
SFX_SAME_AS_WINDOWS(kErrorFileExists, ERROR_FILE_EXISTS);
SFX_SAME_AS_WINDOWS(kErrorCannotMake, ERROR_CANNOT_MAKE);
SFX_SAME_AS_WINDOWS(kErrorInvalidParameter, ERROR_INVALID_PARAMETER);
SFX_SAME_AS_WINDOWS(kErrorNoProcSlots, ERROR_NO_PROC_SLOTS);
SFX_SAME_AS_WINDOWS(kErrorBrokenPipe, ERROR_BROKEN_PIPE);
SFX_SAME_AS_WINDOWS(kErrorDiskFull, ERROR_DISK_FULL);
SFX_SAME_AS_WINDOWS(kErrorCallNotImplemented, ERROR_CALL_NOT_IMPLEMENTED);
SFX_SAME_AS_WINDOWS(kErrorInvalidName, ERROR_INVALID_NAME);
SFX_SAME_AS_WINDOWS(kErrorWaitNoChildren, ERROR_WAIT_NO_CHILDREN);
SFX_SAME_AS_WINDOWS(kErrorDirNotEmpty, ERROR_DIR_NOT_EMPTY);
SFX_SAME_AS_WINDOWS(kErrorInvalidOrdinal, ERROR_INVALID_ORDINAL);
SFX_SAME_AS_WINDOWS(kErrorAlreadyExists, ERROR_ALREADY_EXISTS);
SFX_SAME_AS_WINDOWS(kErrorFilenameExcedRange, ERROR_FILENAME_EXCED_RANGE);
SFX_SAME_AS_WINDOWS(kErrorFileTooLarge, ERROR_FILE_TOO_LARGE);
SFX_SAME_AS_WINDOWS(kErrorDirectory, ERROR_DIRECTORY);
SFX_SAME_AS_WINDOWS(kErrorFileInvalid, ERROR_FILE_INVALID);
SFX_SAME_AS_WINDOWS(kErrorNoUnicodeTranslation, ERROR_NO_UNICODE_TRANSLATION);
#undef SFX_SAME_AS_WINDOWS

}  // namespace
}  // namespace sfx
