// A stand-in for a setup program. It writes its command line, its current folder and whether a
// window of the class named by HOST_CHILD_FIND_CLASS exists ("1" or "0"; "" when unset), each
// followed by a zero byte, to the file named by HOST_CHILD_REPORT (when set), then exits with the
// code given in HOST_CHILD_EXIT (decimal or 0x-hexadecimal; 0 when unset).
#include <windows.h>

#include <cstdlib>
#include <string>

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
    std::string text = GetCommandLineA();
    text += '\0';
    char folder[MAX_PATH];
    DWORD folderLength = GetCurrentDirectoryA(sizeof folder, folder);
    if (folderLength > 0 && folderLength < sizeof folder) text.append(folder, folderLength);
    text += '\0';
    char windowClass[256];
    length = GetEnvironmentVariableA("HOST_CHILD_FIND_CLASS", windowClass, sizeof windowClass);
    if (length > 0 && length < sizeof windowClass) {
      text += FindWindowA(windowClass, nullptr) != nullptr ? "1" : "0";
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
