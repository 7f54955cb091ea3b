// sfxprobe: a stand-in setup program. Each run appends what it saw to the report file named by
// SFXPROBE_REPORT and exits with a scripted code:
//
//   run=<n>                 1 for the first run that wrote to this report, then 2, ...
//   cmdline=<line>          its whole command line, byte for byte
//   cwd=<folder>            its current folder
//   self=<path>             its own file
//   file=<name> <size> <t>  every file of its own folder, sorted, t = modification time (Unix)
//   dir=<name>              every subfolder of its own folder
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
// Without SFXPROBE_REPORT it only exits.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Env(const char* name) {
  char buffer[4096];
  const DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::string();
  return std::string(buffer, length);
}

int CountRuns(const std::string& reportPath) {
  FILE* file = std::fopen(reportPath.c_str(), "rb");
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
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return lines;
  do {
    const std::string name = entry.cFileName;
    if (name == "." || name == "..") continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      lines.push_back("dir=" + name);
    } else {
      char detail[64];
      std::snprintf(detail, sizeof detail, " %lu %lld", static_cast<unsigned long>(entry.nFileSizeLow),
                    UnixTime(entry.ftLastWriteTime));
      lines.push_back("file=" + name + detail);
    }
  } while (FindNextFileA(find, &entry));
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
  std::string line = "\"" + holder + "\" \"" + path + "\" " + ms + " " + eventName;
  std::vector<char> commandLine(line.begin(), line.end());
  commandLine.push_back('\0');
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  if (CreateProcessA(holder.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     nullptr, &startup, &info)) {
    WaitForSingleObject(ready, 10000);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  if (ready) CloseHandle(ready);
}

}  // namespace

int main() {
  const std::string reportPath = Env("SFXPROBE_REPORT");
  if (reportPath.empty()) return static_cast<int>(ExitCodeForRun(Env("SFXPROBE_EXITCODES"), 1));

  const int run = CountRuns(reportPath) + 1;
  const uint32_t exitCode = ExitCodeForRun(Env("SFXPROBE_EXITCODES"), run);

  char self[MAX_PATH * 4] = {0};
  GetModuleFileNameA(nullptr, self, sizeof self - 1);
  char cwd[MAX_PATH * 4] = {0};
  GetCurrentDirectoryA(sizeof cwd - 1, cwd);
  std::string folder = self;
  const size_t slash = folder.rfind('\\');
  folder = slash == std::string::npos ? std::string(".") : folder.substr(0, slash);

  std::string report = "run=" + std::to_string(run) + "\n";
  report += "cmdline=" + std::string(GetCommandLineA()) + "\n";
  report += "cwd=" + std::string(cwd) + "\n";
  report += "self=" + std::string(self) + "\n";
  for (const std::string& line : ListFolder(folder)) report += line + "\n";
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
      CopyFileA((folder + "\\" + name).c_str(), (saveFolder + "\\" + name).c_str(), FALSE);
    }
  }

  if (!Env("SFXPROBE_GROW_MAIN").empty()) {
    FILE* main = std::fopen((folder + "\\setup.ovr").c_str(), "ab");
    if (main) {
      std::fputc(0, main);
      std::fclose(main);
    }
  }

  FILE* file = std::fopen(reportPath.c_str(), "ab");
  if (file) {
    std::fwrite(report.data(), 1, report.size(), file);
    std::fclose(file);
  }

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
