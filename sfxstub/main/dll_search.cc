#include "sfxstub/main/dll_search.h"

#include <windows.h>

#include "sfxstub/io/win32_handle.h"

namespace sfx {

bool LimitDllSearchToSystemFolder() {
  // kernel32 is loaded in every process; the call exists from Windows 8 on and on Windows 7 and
  // Vista with update KB2533623.
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) return false;
  auto setDefault = LookUpFunction<BOOL(WINAPI*)(DWORD)>(kernel32, "SetDefaultDllDirectories");
  if (setDefault == nullptr) return false;
  const DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
  return setDefault(kSearchSystem32) != FALSE;
}

}  // namespace sfx
