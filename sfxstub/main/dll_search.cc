#include "sfxstub/main/dll_search.h"

#include <windows.h>

namespace sfx {

bool LimitDllSearchToSystemFolder() {
  // kernel32 is loaded in every process; the call exists from Windows 8 on and on Windows 7 and
  // Vista with update KB2533623.
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  if (kernel32 == nullptr) return false;
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
  if (setDefault == nullptr) return false;
  const DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
  return setDefault(kSearchSystem32) != FALSE;
}

}  // namespace sfx
