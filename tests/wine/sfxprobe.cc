// sfxprobe: a stand-in setup program. Each run appends what it saw to the report file named by
// SFXPROBE_REPORT and exits with a scripted code:
//
// The report is UTF-8, and so is everything it reads from the environment; it reads its command
// line, folders and file names with the wide functions, so names outside the ANSI code page are
// reported as they are.
//
//   run=<n>                 1 for the first run that wrote to this report, then 2, ...
//   cmdline=<line>          its whole command line (GetCommandLineW), character for character
//   cwd=<folder>            its current folder
//   self=<path>             its own file
//   file=<name> <size> <t>  every file of its own folder, sorted, t = modification time (Unix)
//   dir=<name>              every subfolder of its own folder
//   others-may-change=<0|1> whether the access list of its own folder lets an account other
//                           than the current one, SYSTEM and Administrators write or delete there
//   write=<n>               with SFXPROBE_TRY_WRITE=<path>: the error number of opening that file
//                           for writing (sharing everything), 0 if it could be opened
//   exit=0x%08X             the code it exits with
//
// SFXPROBE_EXITCODES ("0x20000010,0", decimal or 0x-hex) gives the exit code of each run by its
// number; the last one repeats; none means 0. SFXPROBE_SAVE names a folder into which every
// file of its own folder is copied, so a test can compare them after the stub has cleaned up.
// With SFXPROBE_GROW_MAIN set, each run appends one byte to setup.ovr in its folder (a PE image
// ignores bytes after its sections), so a test can see whether the next run was copied afresh.
// SFXPROBE_HOLD=<name>,<ms> with SFXPROBE_HOLDER naming host_holder: before exiting, it starts
// the holder on that file of its own folder for <ms> milliseconds (without inheriting handles) and
// waits until the file is held, so the stub's clean-up finds it locked. SFXPROBE_CRASH set: after
// the report it dies of an access violation instead of exiting.
// SFXPROBE_PAUSE=<folder>: after the report it writes its own folder's path to <folder>\folder.txt
// and waits (at most 60 s) until <folder>\go exists, so a test can change things under the stub
// while its setup program runs.
// Without SFXPROBE_REPORT it only exits.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/common/win32_sid.h"

namespace {

using sfx::test::CurrentUserSid;
using sfx::test::SidText;

std::string Utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
  out.resize(static_cast<size_t>(size) - 1);
  return out;
}

std::wstring Wide(const std::string& text) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (size <= 1) return std::wstring();
  std::wstring out(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], size);
  out.resize(static_cast<size_t>(size) - 1);
  return out;
}

FILE* Open(const std::string& path, const wchar_t* mode) { return _wfopen(Wide(path).c_str(), mode); }

std::string Env(const char* name) {
  wchar_t buffer[4096];
  const DWORD length = GetEnvironmentVariableW(Wide(name).c_str(), buffer, 4096);
  if (length == 0 || length >= 4096) return std::string();
  return Utf8(buffer);
}

int CountRuns(const std::string& reportPath) {
  FILE* file = Open(reportPath, L"rb");
  if (!file) return 0;
  int runs = 0;
  char line[8192];
  while (std::fgets(line, sizeof line, file)) runs += std::strncmp(line, "run=", 4) == 0;
  std::fclose(file);
  return runs;
}

uint32_t ExitCodeForRun(const std::string& codes, int run) {
  uint32_t code = 0;
  size_t start = 0;
  for (int index = 1; start <= codes.size(); ++index) {
    const size_t comma = codes.find(',', start);
    const std::string item = codes.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (!item.empty()) code = static_cast<uint32_t>(std::strtoul(item.c_str(), nullptr, 0));
    if (index == run || comma == std::string::npos) break;
    start = comma + 1;
  }
  return code;
}

long long UnixTime(const FILETIME& time) {
  ULARGE_INTEGER value;
  value.LowPart = time.dwLowDateTime;
  value.HighPart = time.dwHighDateTime;
  return static_cast<long long>(value.QuadPart / 10000000ULL) - 11644473600LL;
}

std::vector<std::string> ListFolder(const std::string& folder) {
  std::vector<std::string> lines;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW(Wide(folder + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return lines;
  do {
    const std::string name = Utf8(entry.cFileName);
    if (name == "." || name == "..") continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      lines.push_back("dir=" + name);
    } else {
      char detail[64];
      std::snprintf(detail, sizeof detail, " %lu %lld", static_cast<unsigned long>(entry.nFileSizeLow),
                    UnixTime(entry.ftLastWriteTime));
      lines.push_back("file=" + name + detail);
    }
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Starts host_holder on `path` for `ms` milliseconds and waits until it holds the file.
void HoldFile(const std::string& path, const std::string& ms) {
  const std::string holder = Env("SFXPROBE_HOLDER");
  if (holder.empty()) return;
  const std::string eventName = "sfxprobe-hold-" + std::to_string(GetCurrentProcessId());
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
  std::wstring line = Wide("\"" + holder + "\" \"" + path + "\" " + ms + " " + eventName);
  std::vector<wchar_t> commandLine(line.begin(), line.end());
  commandLine.push_back(L'\0');
  STARTUPINFOW startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  if (CreateProcessW(Wide(holder).c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     nullptr, &startup, &info)) {
    WaitForSingleObject(ready, 10000);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  if (ready) CloseHandle(ready);
}

// "1" when an allow entry of the folder's access list gives an account other than the current
// one, SYSTEM (S-1-5-18) or Administrators (S-1-5-32-544) a right to change what is in it.
std::string OthersMayChange(const std::string& folder) {
  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::wstring wideFolder = Wide(folder);
  if (GetNamedSecurityInfoW(&wideFolder[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &acl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return "unknown";
  }
  const ACCESS_MASK change = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                             FILE_WRITE_ATTRIBUTES | DELETE | FILE_DELETE_CHILD | WRITE_DAC |
                             WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
  const std::string user = CurrentUserSid();
  bool others = acl == nullptr;
  for (DWORD i = 0; acl != nullptr && i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(acl, i, &ace)) break;
    if (static_cast<ACE_HEADER*>(ace)->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    const std::string sid = SidText(reinterpret_cast<PSID>(&allowed->SidStart));
    if (sid != user && sid != "S-1-5-18" && sid != "S-1-5-32-544" && (allowed->Mask & change) != 0)
      others = true;
  }
  LocalFree(descriptor);
  return others ? "1" : "0";
}

// Writes `folder` to <pause>\folder.txt and waits for <pause>\go.
void Pause(const std::string& pause, const std::string& folder) {
  FILE* note = Open(pause + "\\folder.txt.tmp", L"wb");
  if (!note) return;
  std::fputs(folder.c_str(), note);
  std::fclose(note);
  MoveFileW(Wide(pause + "\\folder.txt.tmp").c_str(), Wide(pause + "\\folder.txt").c_str());
  for (int i = 0; i < 600; ++i) {
    if (GetFileAttributesW(Wide(pause + "\\go").c_str()) != INVALID_FILE_ATTRIBUTES) return;
    Sleep(100);
  }
}

}  // namespace

int main() {
  const std::string reportPath = Env("SFXPROBE_REPORT");
  if (reportPath.empty()) return static_cast<int>(ExitCodeForRun(Env("SFXPROBE_EXITCODES"), 1));

  const int run = CountRuns(reportPath) + 1;
  const uint32_t exitCode = ExitCodeForRun(Env("SFXPROBE_EXITCODES"), run);

  wchar_t wideSelf[MAX_PATH * 4] = {0};
  GetModuleFileNameW(nullptr, wideSelf, MAX_PATH * 4 - 1);
  wchar_t wideCwd[MAX_PATH * 4] = {0};
  GetCurrentDirectoryW(MAX_PATH * 4 - 1, wideCwd);
  const std::string self = Utf8(wideSelf);
  const std::string cwd = Utf8(wideCwd);
  std::string folder = self;
  const size_t slash = folder.rfind('\\');
  folder = slash == std::string::npos ? std::string(".") : folder.substr(0, slash);

  std::string report = "run=" + std::to_string(run) + "\n";
  report += "cmdline=" + Utf8(GetCommandLineW()) + "\n";
  report += "cwd=" + cwd + "\n";
  report += "self=" + self + "\n";
  for (const std::string& line : ListFolder(folder)) report += line + "\n";
  report += "others-may-change=" + OthersMayChange(folder) + "\n";
  const std::string tryWrite = Env("SFXPROBE_TRY_WRITE");
  if (!tryWrite.empty()) {
    HANDLE file = CreateFileW(Wide(tryWrite).c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    report += "write=" + std::to_string(error) + "\n";
  }
  char exitLine[32];
  std::snprintf(exitLine, sizeof exitLine, "exit=0x%08lX\n", static_cast<unsigned long>(exitCode));
  report += exitLine;

  const std::string saveFolder = Env("SFXPROBE_SAVE");
  if (!saveFolder.empty()) {
    for (const std::string& line : ListFolder(folder)) {
      if (line.compare(0, 5, "file=") != 0) continue;
      // "file=<name> <size> <time>": the name may hold blanks, the two numbers do not.
      const size_t timeBlank = line.rfind(' ');
      const size_t sizeBlank = line.rfind(' ', timeBlank - 1);
      const std::string name = line.substr(5, sizeBlank - 5);
      CopyFileW(Wide(folder + "\\" + name).c_str(), Wide(saveFolder + "\\" + name).c_str(), FALSE);
    }
  }

  if (!Env("SFXPROBE_GROW_MAIN").empty()) {
    FILE* main = Open(folder + "\\setup.ovr", L"ab");
    if (main) {
      std::fputc(0, main);
      std::fclose(main);
    }
  }

  FILE* file = Open(reportPath, L"ab");
  if (file) {
    std::fwrite(report.data(), 1, report.size(), file);
    std::fclose(file);
  }

  const std::string pause = Env("SFXPROBE_PAUSE");
  if (!pause.empty()) Pause(pause, folder);

  const std::string hold = Env("SFXPROBE_HOLD");
  const size_t comma = hold.find(',');
  if (comma != std::string::npos) {
    HoldFile(folder + "\\" + hold.substr(0, comma), hold.substr(comma + 1));
  }
  if (!Env("SFXPROBE_CRASH").empty()) {
    // An unhandled access violation, as a wild pointer would raise it: the process ends with
    // 0xC0000005, which the stub must pass on.
    RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  }
  ExitProcess(exitCode);
}
