// The stub's process entry point, in place of the C runtime's start-up code.
//
// The toolchain's start-up code (crt2.o and what it draws in) prepares a C program: it runs the
// constructors of static objects and registers their destructors, applies pseudo-relocations,
// splits the command line into argv, installs a handler that turns processor exceptions into
// signals, and it always brings a TLS directory with TLS callbacks and sections of its own
// (.CRT, .tls). Scanners count a TLS callback as a sign of malware (it runs before the entry
// point), and the stub needs none of the rest: msvcrt.dll sets itself up when it is loaded, the
// stub reads its command line with GetCommandLineW, it has no static object that is made at run
// time and nothing to do at exit, and its link refuses anything that would need a
// pseudo-relocation (sfxstub/main/CMakeLists.txt). So its entry point calls WinMain and ends the
// process with WinMain's result, and the link leaves the start-up code out.
#include <windows.h>

// The name the linker takes as a GUI program's entry point. The stack is realigned on entry, as
// the start-up code does: the system does not promise the 16 bytes the compiler assumes.
extern "C" [[noreturn]] __attribute__((force_align_arg_pointer)) void WinMainCRTStartup() {
  // WinMain takes the command line from the process itself (winmain.cc says why).
  const int result = WinMain(GetModuleHandleW(nullptr), nullptr, nullptr, SW_SHOWDEFAULT);
  ExitProcess(static_cast<UINT>(result));
}
