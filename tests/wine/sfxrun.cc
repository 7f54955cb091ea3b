// sfxrun: runs a Windows program the way a user's shell would and reports, on stdout, what a
// test needs to know about it:
//
//   exit=0x%08X          the program's exit code (all 32 bits; Wine's Unix status keeps only 8)
//   report=<text>        the text of each "Setup Selfextract" message box it showed, escaped
//   report=none          when it showed none
//
// Each message box is read and dismissed with OK as soon as it appears, so failing runs end on
// their own. sfxrun itself exits 0 once the program has ended, 2 for bad usage, 3 when the
// program could not be started, 4 when it had to be killed after the time limit.
//
// usage: sfxrun [--set NAME=VALUE]... [--timeout SECONDS] [--swap-package [--hold-for-writing]]
//               PROGRAM COMMANDLINE
//   PROGRAM is passed to CreateProcessW as the application name, COMMANDLINE as the whole command
//   line (argv[0] included), so tests control every character the program sees. --set changes
//   this process's environment first (Wine replaces TEMP and TMP with the prefix's own values, so
//   they cannot come from the Unix environment). All of them are taken as wide strings (wmain),
//   so a folder or an argument outside the ANSI code page arrives as it was typed.
//
//   --swap-package does what someone who may write in the package's folder can do to a package
//   that has just been started: once the process exists (suspended, before its first
//   instruction), PROGRAM is renamed away (to PROGRAM.running) and a byte-identical copy is put
//   at its name, so the program's own file is no longer the image that runs and can be written.
//   With --hold-for-writing that copy is also held open for writing (sharing reads and writes)
//   until the program ends, as by someone waiting to rewrite it after the signature check. The
//   program is let run only then; afterwards everything is put back. Prints "swapped" (and
//   "held") once done.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const char kReportTitle[] = "Setup Selfextract";

std::string Escape(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", c);
          out += hex;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

std::string WindowText(HWND window) {
  const int length = GetWindowTextLengthA(window);
  if (length <= 0) return std::string();
  std::vector<char> buffer(static_cast<size_t>(length) + 2);
  const int got = GetWindowTextA(window, buffer.data(), static_cast<int>(buffer.size()));
  return std::string(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

struct BoxSearch {
  DWORD processId;
  const std::vector<HWND>* handled;
  HWND found;
};

BOOL CALLBACK FindReportBox(HWND window, LPARAM param) {
  BoxSearch* search = reinterpret_cast<BoxSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
  for (HWND seen : *search->handled) {
    if (seen == window) return TRUE;
  }
  if (WindowText(window) != kReportTitle) return TRUE;
  search->found = window;
  return FALSE;
}

// The message text is the longest "Static" child; the icon is a Static without text.
BOOL CALLBACK FindMessageText(HWND child, LPARAM param) {
  std::string* text = reinterpret_cast<std::string*>(param);
  char className[64] = {0};
  GetClassNameA(child, className, sizeof className);
  if (lstrcmpiA(className, "Static") == 0) {
    const std::string candidate = WindowText(child);
    if (candidate.size() > text->size()) *text = candidate;
  }
  return TRUE;
}

struct ChildHandle {
  HANDLE handle = nullptr;
  ~ChildHandle() {
    if (handle) CloseHandle(handle);
  }
};

int Usage() {
  std::fprintf(stderr,
               "usage: sfxrun [--set NAME=VALUE]... [--timeout SECONDS] "
               "[--swap-package [--hold-for-writing]] PROGRAM COMMANDLINE\n");
  return 2;
}

// Renames `program` away and puts a copy at its name (see --swap-package); with `hold`, the copy
// is opened for writing and its handle stored in `held`. False when a step failed.
bool SwapPackage(const std::wstring& program, bool hold, ChildHandle* held) {
  const std::wstring away = program + L".running";
  if (!MoveFileW(program.c_str(), away.c_str())) return false;
  if (!CopyFileW(away.c_str(), program.c_str(), TRUE)) return false;
  if (!hold) return true;
  held->handle = CreateFileW(program.c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held->handle == INVALID_HANDLE_VALUE) {
    held->handle = nullptr;
    return false;
  }
  return true;
}

void UnswapPackage(const std::wstring& program) {
  const std::wstring away = program + L".running";
  if (GetFileAttributesW(away.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  DeleteFileW(program.c_str());
  MoveFileW(away.c_str(), program.c_str());
}

}  // namespace

extern "C" int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  DWORD timeoutMs = 120 * 1000;
  bool swap = false, hold = false;
  int arg = 1;
  for (; arg < argc && std::wcsncmp(argv[arg], L"--", 2) == 0; ++arg) {
    if (std::wcscmp(argv[arg], L"--set") == 0 && arg + 1 < argc) {
      std::wstring assignment = argv[++arg];
      const size_t equals = assignment.find(L'=');
      if (equals == std::wstring::npos || equals == 0) return Usage();
      const std::wstring name = assignment.substr(0, equals);
      const std::wstring value = assignment.substr(equals + 1);
      SetEnvironmentVariableW(name.c_str(), value.c_str());
    } else if (std::wcscmp(argv[arg], L"--swap-package") == 0) {
      swap = true;
    } else if (std::wcscmp(argv[arg], L"--hold-for-writing") == 0) {
      hold = true;
    } else if (std::wcscmp(argv[arg], L"--timeout") == 0 && arg + 1 < argc) {
      timeoutMs = static_cast<DWORD>(std::wcstoul(argv[++arg], nullptr, 10)) * 1000;
    } else {
      return Usage();
    }
  }
  if (argc - arg != 2 || (hold && !swap)) return Usage();
  const std::wstring program = argv[arg];
  std::vector<wchar_t> commandLine(argv[arg + 1], argv[arg + 1] + std::wcslen(argv[arg + 1]) + 1);

  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                      swap ? CREATE_SUSPENDED : 0, nullptr, nullptr, &startup, &info)) {
    std::printf("start-error=%lu\n", static_cast<unsigned long>(GetLastError()));
    return 3;
  }
  ChildHandle process, thread, held;
  process.handle = info.hProcess;
  thread.handle = info.hThread;
  if (swap) {
    if (!SwapPackage(program, hold, &held)) {
      std::printf("swap-error=%lu\n", static_cast<unsigned long>(GetLastError()));
      TerminateProcess(info.hProcess, 0xDEADDEAD);
      UnswapPackage(program);
      return 3;
    }
    std::fputs(hold ? "swapped\nheld\n" : "swapped\n", stdout);
    ResumeThread(info.hThread);
  }

  std::vector<HWND> handled;
  std::vector<std::string> reports;
  const ULONGLONG start = GetTickCount64();
  bool killed = false;
  while (WaitForSingleObject(info.hProcess, 20) == WAIT_TIMEOUT) {
    BoxSearch search = {info.dwProcessId, &handled, nullptr};
    EnumWindows(FindReportBox, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      std::string text;
      EnumChildWindows(search.found, FindMessageText, reinterpret_cast<LPARAM>(&text));
      reports.push_back(text);
      handled.push_back(search.found);
      HWND ok = GetDlgItem(search.found, IDOK);
      PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(ok));
    }
    if (GetTickCount64() - start > timeoutMs) {
      TerminateProcess(info.hProcess, 0xDEADDEAD);
      WaitForSingleObject(info.hProcess, 5000);
      killed = true;
      break;
    }
  }

  DWORD exitCode = 0;
  GetExitCodeProcess(info.hProcess, &exitCode);
  if (swap) {
    if (held.handle) CloseHandle(held.handle);
    held.handle = nullptr;
    UnswapPackage(program);
  }
  std::printf("exit=0x%08lX\n", static_cast<unsigned long>(exitCode));
  if (reports.empty()) std::printf("report=none\n");
  for (const std::string& report : reports) std::printf("report=%s\n", Escape(report).c_str());
  if (killed) std::printf("timeout\n");
  std::fflush(stdout);
  return killed ? 4 : 0;
}
