// Copying between two open files. The private copy of a network package and the launch copy of
// the setup program are made through handles the stub holds, never by name, so nothing put at
// a name in between can receive or supply the bytes. Windows only.
#ifndef SFXSTUB_IO_HANDLE_COPY_WIN32_H_
#define SFXSTUB_IO_HANDLE_COPY_WIN32_H_

#include <windows.h>

#include <cstdint>

namespace sfx {

// Copies `source` from its position to its end into `target` at its position, in pieces of
// 256 KiB, then rewinds `target` to its start. At most `limit` bytes: a longer source stops the
// copy there with 223 (ERROR_FILE_TOO_LARGE), nothing past the limit written. Returns 0 or the
// failing call's error number: 8 (ERROR_NOT_ENOUGH_MEMORY) without the buffer, 112
// (ERROR_DISK_FULL) for a write the platform cut short without saying why.
DWORD CopyHandleContents(HANDLE source, HANDLE target, uint64_t limit);

}  // namespace sfx

#endif  // SFXSTUB_IO_HANDLE_COPY_WIN32_H_
