// Maps a runtime errno value to the Win32 error number that the archive reports.
// Mapped by errno name, so the table holds on every runtime (ENOTEMPTY is 41 in the Windows
// runtime and 39 on Linux); any errno not in the table gives 120 (ERROR_CALL_NOT_IMPLEMENTED).
#ifndef SFXSTUB_IO_ERRNO_MAP_H_
#define SFXSTUB_IO_ERRNO_MAP_H_

#include <cstdint>

namespace sfx {

uint32_t ErrnoToWin32Error(int errnoValue);

}  // namespace sfx

#endif  // SFXSTUB_IO_ERRNO_MAP_H_
