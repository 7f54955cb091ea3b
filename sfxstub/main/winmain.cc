// The stub's entry point: the main sequence over Win32, with the program's own file as the
// archive, verified with the built-in signer key.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "sfxstub/host/win32_host.h"
#include "sfxstub/io/wide_path_win32.h"
#include "sfxstub/main/archive_adapter.h"
#include "sfxstub/main/command_tail.h"
#include "sfxstub/main/dll_search.h"
#include "sfxstub/main/main_sequence.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // Before anything can load a DLL: none may come from the package's folder.
  sfx::LimitDllSearchToSystemFolder();
  InitCommonControls();
  sfx::Win32Host host(instance);
  // The tail is taken from the process command line by the stub's own rule rather than from
  // WinMain's argument, whose runtime-made copy may be split differently; from the wide line, so
  // that it reaches the setup program with every character it had.
  const std::string line = sfx::Utf8FromWide(GetCommandLineW());
  const std::string tail = sfx::CommandLineTail(
      line.c_str(), [&host](uint8_t byte) { return host.IsLeadByte(byte); });
  const uint32_t exitCode = sfx::RunMainSequence(host, sfx::MakeSfxArchiveFactory(), tail);
  return static_cast<int>(exitCode);
}
