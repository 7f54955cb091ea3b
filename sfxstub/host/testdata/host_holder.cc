// Holds a file open without sharing for a while, as a virus scanner or a slow setup program
// might: host_holder <path> <milliseconds> <event name>. Opens (or creates) the file, signals the
// named event so the caller knows the file is held, sleeps, closes the file and exits with 0
// (1 when the file could not be opened, 2 on bad arguments).
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  HANDLE file = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[3]);
  if (ready != nullptr) {
    SetEvent(ready);
    CloseHandle(ready);
  }
  Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
  CloseHandle(file);
  return 0;
}
