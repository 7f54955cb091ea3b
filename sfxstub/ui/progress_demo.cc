// progress_demo READY DONE: shows the progress window as the stub does (animation, bar at 40 of
// 100) for the screenshot test. Once the window is up it writes "left top width height" of the
// window to READY, then waits (at most a minute) until the file DONE appears and stops.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "sfxstub/ui/progress_bar.h"
#include "sfxstub/ui/progress_ui.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: progress_demo READY DONE\n");
    return 2;
  }
  InitCommonControls();
  HINSTANCE instance = GetModuleHandleA(nullptr);
  sfx::RegisterProgressWindowClass(instance, 1);
  sfx::RegisterProgressBarClass(instance);
  sfx::StartProgressThread(129, "Setup", 6, 6, 0, 15);
  sfx::SetProgressRange(100);
  sfx::AdvanceProgress(40);
  HWND window = sfx::ProgressWindowForTesting();
  if (!window) return 1;
  Sleep(700);  // a few animation frames, so the picture is not the first frame only

  RECT r = {};
  GetWindowRect(window, &r);
  std::string temp = std::string(argv[1]) + ".tmp";
  FILE* f = std::fopen(temp.c_str(), "w");
  if (!f) return 1;
  std::fprintf(f, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
  std::fclose(f);
  MoveFileExA(temp.c_str(), argv[1], MOVEFILE_REPLACE_EXISTING);

  for (int i = 0; i < 600 && GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
  sfx::StopProgressThread();
  return 0;
}
