#include "sfxstub/host/launch.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "sfxstub/io/wide_path_win32.h"
#include "sfxstub/io/win32_error.h"
#include "sfxstub/io/win32_handle.h"

namespace sfx {

namespace {

// Tries `attempt` up to kRetryAttempts times, pausing after each failure.
template <typename Attempt>
void Retry(RetryPause pause, Attempt attempt) {
  for (int i = 0; i < kRetryAttempts; ++i) {
    if (attempt()) return;
    if (pause != nullptr) {
      pause(kRetryPauseMs);
    } else {
      Sleep(kRetryPauseMs);
    }
  }
}

// Lets the new process bring its window to the foreground, where the platform knows how. The
// function is looked up at run time: platforms before Windows 2000 lack it.
void AllowForeground(DWORD processId) {
  HMODULE user32 = GetModuleHandleW(L"User32.dll");
  if (user32 == nullptr) return;
  auto allow = LookUpFunction<BOOL(WINAPI*)(DWORD)>(user32, "AllowSetForegroundWindow");
  if (allow != nullptr) allow(processId);
}

// Returns `error` with the last error number set to it, after the handles are closed.
int32_t Fail(DWORD error, ScopedHandle* process, ScopedHandle* thread) {
  thread->Reset();
  process->Reset();
  SetLastError(error);
  return static_cast<int32_t>(error);
}

}  // namespace

// An existing target is replaced by deleting it first (which removes a link itself) and copying
// to a name that must then be free: CopyFileW over an existing link would write through it.
void CopyFileRetry(const char* source, const char* target, RetryPause pause) {
  const WideString from = WidePath(source != nullptr ? source : "");
  const WideString to = WidePath(target != nullptr ? target : "");
  Retry(pause, [&] {
    DeleteFileW(to.c_str());
    return CopyFileW(from.c_str(), to.c_str(), TRUE) != FALSE;
  });
}

void DeleteFileRetry(const char* path, RetryPause pause) {
  const WideString wide = WidePath(path != nullptr ? path : "");
  Retry(pause, [&] { return DeleteFileW(wide.c_str()) != FALSE; });
}

int32_t RunAndWait(const char* program, const char* arguments, uint32_t* exitCode,
                   void (*beforeResume)()) {
  if (exitCode != nullptr) *exitCode = 0;
  if (program == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return kErrorInvalidParameter;
  }

  // Both are UTF-8; the process gets them as the system's wide text, so every character of
  // the folders and of the command-line tail arrives as it was.
  WideString wideProgram, wideArguments;
  if (!ToWide(program, &wideProgram) ||
      (arguments != nullptr && !ToWide(arguments, &wideArguments))) {
    SetLastError(kErrorNoUnicodeTranslation);
    return kErrorNoUnicodeTranslation;
  }

  // The line is built whole, never cut: a cut line would hand the setup program arguments its
  // author never wrote. Its length counts characters as the system does (UTF-16 units).
  const size_t lineLength =
      wideProgram.size() + 2 + (arguments != nullptr ? 1 + wideArguments.size() : 0);
  if (lineLength + 1 > kMaxCommandLine) {
    SetLastError(kErrorFilenameExcedRange);
    return kErrorFilenameExcedRange;
  }
  WideString line;
  line.reserve(lineLength);
  line += L'"';
  line += wideProgram;
  line += L'"';
  if (arguments != nullptr) {
    line += L' ';
    line += wideArguments;
  }
  // CreateProcessW may write into its command line.
  std::vector<wchar_t> commandLine(line.begin(), line.end());
  commandLine.push_back(L'\0');

  STARTUPINFOW startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;  // 68 (104 in a 64-bit process)
  PROCESS_INFORMATION info;
  std::memset(&info, 0, sizeof info);
  if (!CreateProcessW(wideProgram.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                      CREATE_SUSPENDED, nullptr, nullptr, &startup, &info)) {
    return static_cast<int32_t>(GetLastError());
  }
  ScopedHandle process(info.hProcess);
  ScopedHandle thread(info.hThread);

  AllowForeground(info.dwProcessId);
  if (beforeResume != nullptr) beforeResume();

  // A process that cannot be resumed would never end: end it rather than wait forever.
  if (ResumeThread(thread.Get()) == static_cast<DWORD>(-1)) {
    DWORD error = GetLastError();
    TerminateProcess(process.Get(), error);
    return Fail(error, &process, &thread);
  }
  // A failed wait would read STILL_ACTIVE (259) as the exit code of a running process.
  if (WaitForSingleObject(process.Get(), INFINITE) == WAIT_FAILED) {
    return Fail(GetLastError(), &process, &thread);
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(process.Get(), &code)) {
    return Fail(GetLastError(), &process, &thread);
  }
  thread.Reset();
  process.Reset();
  if (exitCode != nullptr) *exitCode = code;
  return 0;
}

}  // namespace sfx
