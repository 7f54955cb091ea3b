// Owners for Win32 resources, so every way out of a function releases what it obtained: one
// ScopedGeneric per kind (scoped_generic.h), and a typed look-up of functions that only some
// Windows versions have. Windows only.
#ifndef SFXSTUB_IO_WIN32_HANDLE_H_
#define SFXSTUB_IO_WIN32_HANDLE_H_

#include <windows.h>

#include "sfxstub/io/scoped_generic.h"

namespace sfx {

// A kernel handle closed with CloseHandle. Both null and INVALID_HANDLE_VALUE mean "none".
struct KernelHandleTraits {
  static HANDLE InvalidValue() { return nullptr; }
  static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Free(HANDLE h) { CloseHandle(h); }
};
using ScopedHandle = ScopedGeneric<HANDLE, KernelHandleTraits>;

// A search handle from FindFirstFileW, closed with FindClose (Reset ends a search early, so the
// folder it enumerated can be removed).
struct FindHandleTraits {
  static HANDLE InvalidValue() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE; }
  static void Free(HANDLE h) { FindClose(h); }
};
using ScopedFind = ScopedGeneric<HANDLE, FindHandleTraits>;

// A module from LoadLibraryW, released with FreeLibrary.
struct LibraryTraits {
  static HMODULE InvalidValue() { return nullptr; }
  static bool IsValid(HMODULE m) { return m != nullptr; }
  static void Free(HMODULE m) { FreeLibrary(m); }
};
using ScopedLibrary = ScopedGeneric<HMODULE, LibraryTraits>;

// Memory the security functions allocate with LocalAlloc (descriptors, access lists).
struct LocalMemoryTraits {
  static HLOCAL InvalidValue() { return nullptr; }
  static bool IsValid(HLOCAL m) { return m != nullptr; }
  static void Free(HLOCAL m) { LocalFree(m); }
};
using ScopedLocal = ScopedGeneric<HLOCAL, LocalMemoryTraits>;

// A SID from AllocateAndInitializeSid, released with FreeSid.
struct SidTraits {
  static PSID InvalidValue() { return nullptr; }
  static bool IsValid(PSID s) { return s != nullptr; }
  static void Free(PSID s) { FreeSid(s); }
};
using ScopedSid = ScopedGeneric<PSID, SidTraits>;

// The function `name` of `module` as the type it really has, or null where this Windows lacks
// it. Function is a pointer type such as BOOL(WINAPI*)(DWORD).
template <typename Function>
Function LookUpFunction(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace sfx

#endif  // SFXSTUB_IO_WIN32_HANDLE_H_
