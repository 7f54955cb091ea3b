// A stand-in for a setup program. It writes its command line and its current folder (in UTF-8,
// read with the wide functions), and whether a
// window of the class named by HOST_CHILD_FIND_CLASS exists ("1" or "0"; "" when unset), each
// followed by a zero byte, to the file named by HOST_CHILD_REPORT (when set), then exits with the
// code given in HOST_CHILD_EXIT (decimal or 0x-hexadecimal; 0 when unset). With
// HOST_CHILD_FIND_PROCESS (a process id) only that process's windows count: tests that run at the
// same time show progress windows of their own on the same desktop.
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

struct WindowSearch {
  const char* windowClass;
  DWORD process;  // 0: any process
  bool found = false;
};

BOOL CALLBACK CheckWindow(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  char name[256];
  if (GetClassNameA(window, name, sizeof name) == 0 || lstrcmpA(name, search->windowClass) != 0) {
    return TRUE;
  }
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (search->process != 0 && process != search->process) return TRUE;
  search->found = true;
  return FALSE;
}

std::string Utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
  out.resize(static_cast<size_t>(size) - 1);
  return out;
}

}  // namespace

int main() {
  char value[64];
  UINT exitCode = 0;
  DWORD length = GetEnvironmentVariableA("HOST_CHILD_EXIT", value, sizeof value);
  if (length > 0 && length < sizeof value) {
    exitCode = static_cast<UINT>(std::strtoul(value, nullptr, 0));
  }

  char report[MAX_PATH];
  length = GetEnvironmentVariableA("HOST_CHILD_REPORT", report, sizeof report);
  if (length > 0 && length < sizeof report) {
    std::string text = Utf8(GetCommandLineW());
    text += '\0';
    wchar_t folder[MAX_PATH];
    DWORD folderLength = GetCurrentDirectoryW(MAX_PATH, folder);
    if (folderLength > 0 && folderLength < MAX_PATH) text += Utf8(folder);
    text += '\0';
    char windowClass[256];
    length = GetEnvironmentVariableA("HOST_CHILD_FIND_CLASS", windowClass, sizeof windowClass);
    if (length > 0 && length < sizeof windowClass) {
      WindowSearch search{windowClass, 0};
      char process[32];
      length = GetEnvironmentVariableA("HOST_CHILD_FIND_PROCESS", process, sizeof process);
      if (length > 0 && length < sizeof process) {
        search.process = static_cast<DWORD>(std::strtoul(process, nullptr, 10));
      }
      EnumWindows(&CheckWindow, reinterpret_cast<LPARAM>(&search));
      text += search.found ? "1" : "0";
    }
    text += '\0';
    HANDLE file = CreateFileA(report, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) ExitProcess(0xBADu);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
  }
  ExitProcess(exitCode);
}
