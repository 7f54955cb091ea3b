#include "sfxstub/io/handle_copy_win32.h"

#include <memory>
#include <new>

#include "sfxstub/io/win32_error.h"

namespace sfx {

namespace {

constexpr DWORD kCopyPiece = 256u << 10;

}  // namespace

DWORD CopyHandleContents(HANDLE source, HANDLE target, uint64_t limit) {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kCopyPiece]);
  if (!buffer) return kErrorNotEnoughMemory;
  for (uint64_t copied = 0;;) {
    DWORD got = 0;
    if (!ReadFile(source, buffer.get(), kCopyPiece, &got, nullptr)) return GetLastError();
    if (got == 0) break;
    // Compared by subtraction: `copied` never passes `limit`.
    if (got > limit - copied) return kErrorFileTooLarge;
    copied += got;
    DWORD put = 0;
    if (!WriteFile(target, buffer.get(), got, &put, nullptr)) return GetLastError();
    if (put != got) return kErrorDiskFull;
  }
  if (SetFilePointer(target, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    const DWORD error = GetLastError();
    if (error != NO_ERROR) return error;
  }
  return 0;
}

}  // namespace sfx
