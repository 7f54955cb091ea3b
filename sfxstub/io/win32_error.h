// The Windows error numbers this system reports, named once. Every layer of the stub and the
// tools take them from here: the archive's refusals, the main sequence's own numbers, the host's
// results, the errno mapping, and sfxpack's words for them. An error number is an int32_t, 0 for
// success, and travels unchanged to the stub's error report and exit code.
//
// The names follow Windows' own (kErrorFileInvalid is ERROR_FILE_INVALID) without taking them:
// none of these shadows a <windows.h> macro, and the header needs no Windows headers, so portable
// code and the native tools read it too. Win32 code that compares what the platform said
// (GetLastError()) with a number may write the platform's macro; whatever the code itself
// returns or reports is written with these names. The Windows build holds each value equal to
// its macro (win32_error_test.cc).
#ifndef SFXSTUB_IO_WIN32_ERROR_H_
#define SFXSTUB_IO_WIN32_ERROR_H_

#include <cstdint>

namespace sfx {

constexpr int32_t kErrorSuccess = 0;                // ERROR_SUCCESS
constexpr int32_t kErrorInvalidFunction = 1;        // ERROR_INVALID_FUNCTION
constexpr int32_t kErrorFileNotFound = 2;           // ERROR_FILE_NOT_FOUND
constexpr int32_t kErrorPathNotFound = 3;           // ERROR_PATH_NOT_FOUND
constexpr int32_t kErrorTooManyOpenFiles = 4;       // ERROR_TOO_MANY_OPEN_FILES
constexpr int32_t kErrorAccessDenied = 5;           // ERROR_ACCESS_DENIED
constexpr int32_t kErrorInvalidHandle = 6;          // ERROR_INVALID_HANDLE
constexpr int32_t kErrorNotEnoughMemory = 8;        // ERROR_NOT_ENOUGH_MEMORY
constexpr int32_t kErrorBadEnvironment = 10;        // ERROR_BAD_ENVIRONMENT
constexpr int32_t kErrorBadFormat = 11;             // ERROR_BAD_FORMAT
constexpr int32_t kErrorInvalidDrive = 15;          // ERROR_INVALID_DRIVE
constexpr int32_t kErrorNotSameDevice = 17;         // ERROR_NOT_SAME_DEVICE
constexpr int32_t kErrorSharingViolation = 32;      // ERROR_SHARING_VIOLATION
constexpr int32_t kErrorFileExists = 80;            // ERROR_FILE_EXISTS
constexpr int32_t kErrorCannotMake = 82;            // ERROR_CANNOT_MAKE
constexpr int32_t kErrorInvalidParameter = 87;      // ERROR_INVALID_PARAMETER
constexpr int32_t kErrorNoProcSlots = 89;           // ERROR_NO_PROC_SLOTS
constexpr int32_t kErrorBrokenPipe = 109;           // ERROR_BROKEN_PIPE
constexpr int32_t kErrorDiskFull = 112;             // ERROR_DISK_FULL
constexpr int32_t kErrorCallNotImplemented = 120;   // ERROR_CALL_NOT_IMPLEMENTED
constexpr int32_t kErrorInvalidName = 123;          // ERROR_INVALID_NAME
constexpr int32_t kErrorWaitNoChildren = 128;       // ERROR_WAIT_NO_CHILDREN
constexpr int32_t kErrorDirNotEmpty = 145;          // ERROR_DIR_NOT_EMPTY
constexpr int32_t kErrorInvalidOrdinal = 182;       // ERROR_INVALID_ORDINAL
constexpr int32_t kErrorAlreadyExists = 183;        // ERROR_ALREADY_EXISTS
constexpr int32_t kErrorFilenameExcedRange = 206;   // ERROR_FILENAME_EXCED_RANGE
constexpr int32_t kErrorFileTooLarge = 223;         // ERROR_FILE_TOO_LARGE
constexpr int32_t kErrorDirectory = 267;            // ERROR_DIRECTORY
constexpr int32_t kErrorFileInvalid = 1006;         // ERROR_FILE_INVALID
constexpr int32_t kErrorNoUnicodeTranslation = 1113;  // ERROR_NO_UNICODE_TRANSLATION

}  // namespace sfx

#endif  // SFXSTUB_IO_WIN32_ERROR_H_
