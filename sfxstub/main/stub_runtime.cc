// The pieces of the C++ runtime the stub takes from here rather than from the toolchain's
// library: the allocation functions, and the helpers through which the standard containers
// report a request they cannot meet. Linked into the stub's program only.
//
// Why: the stub is compiled without exceptions, but the library's versions of these throw
// (std::bad_alloc, std::length_error, ...), and linking them brings the runtime's exception
// objects, its unwinder and its terminate handler with the name demangler: more than half of
// the program once was just that. The library defines the helpers in one object with the
// throwing code, so should the stub come to need one that is not defined here, the link stops
// with a duplicate definition instead of taking that object back in silently.
//
// Every allocation whose size comes from a package is made with new (std::nothrow) and its
// failure reported as error 8 through the main sequence, like any other failure. What is left
// for these functions are the small strings and lists of the stub's own bookkeeping: when one
// of those cannot grow, memory is exhausted and the stub cannot go on. It then shows the error
// report with error 8 (ERROR_NOT_ENOUGH_MEMORY), or 1359 (ERROR_INTERNAL_ERROR) for a misuse
// of a container that would be a fault of the stub itself, and exits with that number.
#include <windows.h>

#include <cstdlib>
#include <new>

#include "sfxstub/host/win32_host.h"

namespace {

[[noreturn]] void CannotGoOn(UINT error, const char* report) {
  // Only the first failure reports: the report itself may need memory. The progress window is
  // left as it is: the failure may have come on its own thread, which cannot stop itself, and
  // the process ends right after the report anyway.
  static volatile LONG reporting = 0;
  if (InterlockedExchange(&reporting, 1) == 0) {
    MessageBoxA(nullptr, report, sfx::kErrorReportTitle, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
  }
  ExitProcess(error);
}

[[noreturn]] void OutOfMemory() {
  CannotGoOn(ERROR_NOT_ENOUGH_MEMORY, "An error 8 (00000008) has occured.\n");
}

[[noreturn]] void ContainerMisuse() {
  CannotGoOn(ERROR_INTERNAL_ERROR, "An error 1359 (0000054F) has occured.\n");
}

void* Allocate(std::size_t size) {
  // malloc(0) may answer null; every answer of operator new must be a distinct pointer.
  return std::malloc(size != 0 ? size : 1);
}

void* AllocateOrExit(std::size_t size) {
  void* p = Allocate(size);
  if (p == nullptr) OutOfMemory();
  return p;
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrExit(size); }
void* operator new[](std::size_t size) { return AllocateOrExit(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

// The containers' reports (declared in <bits/functexcept.h>, which every container includes).
namespace std {

void __throw_bad_alloc() { OutOfMemory(); }
void __throw_bad_array_new_length() { OutOfMemory(); }
void __throw_length_error(const char*) { OutOfMemory(); }
void __throw_logic_error(const char*) { ContainerMisuse(); }
void __throw_out_of_range(const char*) { ContainerMisuse(); }
void __throw_out_of_range_fmt(const char*, ...) { ContainerMisuse(); }
void __throw_invalid_argument(const char*) { ContainerMisuse(); }
void __throw_bad_function_call() { ContainerMisuse(); }

}  // namespace std
