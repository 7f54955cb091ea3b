// The program's own file, opened through the image the process runs rather than by its name.
//
// Someone who may rename files in the package's folder can, once the stub has started, rename
// the running package away and put another file at its name (an older signed package with a
// setup program known to be vulnerable); opening the name would then read that file. The image
// keeps the file it was mapped from, whatever that file is called by now: GetMappedFileNameW
// asks the system for that file's current name (an NT path such as
// "\Device\HarddiskVolume2\Users\x\Downloads\setup.exe"), which is opened, sharing with readers
// only (so the file cannot be renamed or written while it is held), and then asked for again.
// If the image's file still has that name, the handle holds the image's file: two files never
// have one name at the same time, and the one held cannot have moved.
//
// Windows 7 and later have the function in kernel32 (K32GetMappedFileNameW), earlier systems in
// psapi.dll (loaded by its full path in the system folder). Where neither answers, the file is
// opened by its name, as before. Wine keeps the name an image was loaded from (a rename does
// not change it), so under Wine this opens what stands at that name. Windows only.
#ifndef SFXSTUB_IO_OWN_IMAGE_WIN32_H_
#define SFXSTUB_IO_OWN_IMAGE_WIN32_H_

#include <windows.h>

#include <string>

namespace sfx {

// Whether `path` (UTF-8) is the program's own file as GetModuleFileNameW names it.
bool IsOwnModulePath(const std::string& path);

// Opens the program's own file, named `path` by GetModuleFileNameW, for reading as described
// above (not inheritable). INVALID_HANDLE_VALUE on failure, with the last error set: the open's
// error, or 1006 (ERROR_FILE_INVALID) when the image's file changed names while it was opened.
HANDLE OpenOwnImage(const std::string& path);

namespace internal {

using MappedFileNameFunction = DWORD(WINAPI*)(HANDLE process, LPVOID address, LPWSTR name,
                                              DWORD size);

// OpenOwnImage with the function that names the image mapped at `image` (null: none).
HANDLE OpenImageWith(MappedFileNameFunction getName, HMODULE image, const std::string& path);

// Room Win32PathOfNtPath needs beyond the NT path's characters.
constexpr DWORD kWin32PathRoom = 15;

// Writes to `win32` (room for `length` + kWin32PathRoom characters) the Win32 path that opens
// the NT path `nt` of `length` characters, terminated: "\??\C:\x" is "\\?\C:\x", any other (a
// device path such as "\Device\HarddiskVolume2\x") is "\\?\GLOBALROOT" followed by it.
void Win32PathOfNtPath(const wchar_t* nt, DWORD length, wchar_t* win32);

}  // namespace internal

}  // namespace sfx

#endif  // SFXSTUB_IO_OWN_IMAGE_WIN32_H_
