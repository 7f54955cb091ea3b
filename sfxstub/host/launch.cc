#include "sfxstub/host/launch.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

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
  HMODULE user32 = GetModuleHandleA("User32.dll");
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
// to a name that must then be free: CopyFileA over an existing link would write through it.
void CopyFileRetry(const char* source, const char* target, RetryPause pause) {
  Retry(pause, [&] {
    DeleteFileA(target);
    return CopyFileA(source, target, TRUE) != FALSE;
  });
}

void DeleteFileRetry(const char* path, RetryPause pause) {
  Retry(pause, [&] { return DeleteFileA(path) != FALSE; });
}

int32_t RunAndWait(const char* program, const char* arguments, uint32_t* exitCode,
                   void (*beforeResume)()) {
  if (exitCode != nullptr) *exitCode = 0;
  if (program == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return kErrorInvalidParameter;
  }

  // The line is built whole, never cut: a cut line would hand the setup program arguments its
  // author never wrote.
  const size_t programLength = std::strlen(program);
  const size_t argumentsLength = arguments != nullptr ? std::strlen(arguments) : 0;
  const size_t lineLength = programLength + 2 + (arguments != nullptr ? 1 + argumentsLength : 0);
  if (lineLength + 1 > kMaxCommandLine) {
    SetLastError(kErrorFilenameExcedRange);
    return kErrorFilenameExcedRange;
  }
  std::string line;
  line.reserve(lineLength);
  line += '"';
  line += program;
  line += '"';
  if (arguments != nullptr) {
    line += ' ';
    line += arguments;
  }
  // CreateProcessA may write into its command line.
  std::vector<char> commandLine(line.begin(), line.end());
  commandLine.push_back('\0');

  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;  // 68
  PROCESS_INFORMATION info;
  std::memset(&info, 0, sizeof info);
  if (!CreateProcessA(program, commandLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                      nullptr, nullptr, &startup, &info)) {
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
