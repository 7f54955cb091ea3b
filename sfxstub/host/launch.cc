#include "sfxstub/host/launch.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "sfxstub/host/working_folder.h"
#include "sfxstub/io/handle_copy_win32.h"
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

// One attempt of CopyFileRetry. 0 or the failing call's error number.
DWORD CopyOnce(const WideString& from, const WideString& to, ScopedHandle* held) {
  ScopedHandle in(CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!in.Valid()) return GetLastError();
  // Deleting first removes a link itself; the copy then needs the name to be free.
  DeleteFileW(to.c_str());
  ScopedHandle out(CreateFileW(to.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out.Valid()) return GetLastError();
  DWORD error = CopyHandleContents(in.Get(), out.Get(), ~0ull);
  FILETIME written;
  BY_HANDLE_FILE_INFORMATION made;
  if (error == 0 && (!GetFileTime(in.Get(), nullptr, nullptr, &written) ||
                     !SetFileTime(out.Get(), nullptr, nullptr, &written) ||
                     !GetFileInformationByHandle(out.Get(), &made))) {
    error = GetLastError();
  }
  out.Reset();
  if (error != 0) {
    DeleteFileW(to.c_str());  // a copy cut short must never stand there to be started
    return error;
  }
  if (held == nullptr) return 0;
  // Between the close and this open someone who may write in the folder could put another file
  // at the name; the identity tells.
  ScopedHandle copy(CreateFileW(to.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION now;
  if (!copy.Valid() || !GetFileInformationByHandle(copy.Get(), &now)) return GetLastError();
  if (IdentityOf(made) != IdentityOf(now) ||
      (now.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return kErrorFileInvalid;  // not the file just written, or a link
  }
  *held = std::move(copy);
  return 0;
}

// The command line CreateProcessW gets: the program quoted, then the arguments after one blank,
// as wide text in a buffer it may write into, with its terminator. 0, or the error number, which
// is also made the last error.
int32_t BuildCommandLine(const char* program, const char* arguments, WideString* wideProgram,
                         std::vector<wchar_t>* commandLine) {
  if (program == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return kErrorInvalidParameter;
  }

  // Both are UTF-8; the process gets them as the system's wide text, so every character of
  // the folders and of the command-line tail arrives as it was.
  WideString wideArguments;
  if (!ToWide(program, wideProgram) ||
      (arguments != nullptr && !ToWide(arguments, &wideArguments))) {
    SetLastError(kErrorNoUnicodeTranslation);
    return kErrorNoUnicodeTranslation;
  }

  // The line is built whole, never cut: a cut line would hand the setup program arguments its
  // author never wrote. Its length counts characters as the system does (UTF-16 units).
  const size_t lineLength =
      wideProgram->size() + 2 + (arguments != nullptr ? 1 + wideArguments.size() : 0);
  if (lineLength + 1 > kMaxCommandLine) {
    SetLastError(kErrorFilenameExcedRange);
    return kErrorFilenameExcedRange;
  }
  WideString line;
  line.reserve(lineLength);
  line += L'"';
  line += *wideProgram;
  line += L'"';
  if (arguments != nullptr) {
    line += L' ';
    line += wideArguments;
  }
  // CreateProcessW may write into its command line.
  commandLine->assign(line.begin(), line.end());
  commandLine->push_back(L'\0');
  return 0;
}

// Resumes the suspended process and waits for its end: 0 with its exit code in `code`, or the
// failing call's error number (also the last error). The handles are closed either way.
int32_t ResumeAndWait(ScopedHandle* process, ScopedHandle* thread, DWORD* code) {
  // A process that cannot be resumed would never end: end it rather than wait forever.
  if (ResumeThread(thread->Get()) == static_cast<DWORD>(-1)) {
    DWORD error = GetLastError();
    TerminateProcess(process->Get(), error);
    return Fail(error, process, thread);
  }
  // A failed wait would read STILL_ACTIVE (259) as the exit code of a running process.
  if (WaitForSingleObject(process->Get(), INFINITE) == WAIT_FAILED) {
    return Fail(GetLastError(), process, thread);
  }
  if (!GetExitCodeProcess(process->Get(), code)) return Fail(GetLastError(), process, thread);
  thread->Reset();
  process->Reset();
  return 0;
}

}  // namespace

int32_t CopyFileRetry(const char* source, const char* target, ScopedHandle* held,
                      RetryPause pause) {
  const WideString from = WidePath(source != nullptr ? source : "");
  const WideString to = WidePath(target != nullptr ? target : "");
  if (held != nullptr) held->Reset();  // an older copy held there could not be replaced
  DWORD error = ERROR_SUCCESS;
  Retry(pause, [&] {
    error = CopyOnce(from, to, held);
    return error == ERROR_SUCCESS;
  });
  return static_cast<int32_t>(error);
}

void DeleteFileRetry(const char* path, RetryPause pause) {
  const WideString wide = WidePath(path != nullptr ? path : "");
  Retry(pause, [&] { return DeleteFileW(wide.c_str()) != FALSE; });
}

int32_t RunAndWait(const char* program, const char* arguments, uint32_t* exitCode,
                   void (*beforeResume)()) {
  if (exitCode != nullptr) *exitCode = 0;
  WideString wideProgram;
  std::vector<wchar_t> commandLine;
  const int32_t built = BuildCommandLine(program, arguments, &wideProgram, &commandLine);
  if (built != 0) return built;

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

  DWORD code = 0;
  const int32_t waited = ResumeAndWait(&process, &thread, &code);
  if (waited != 0) return waited;
  if (exitCode != nullptr) *exitCode = code;
  return 0;
}

}  // namespace sfx
