// Copying and deleting with retries, and running the setup program to its end.
#ifndef SFXSTUB_HOST_LAUNCH_H_
#define SFXSTUB_HOST_LAUNCH_H_

#include <cstdint>

#include "sfxstub/io/win32_handle.h"

namespace sfx {

// Attempts per copy or delete, and the pause after every failed attempt (also after the last,
// so a hopeless case costs about two seconds). A file held open by another program for a
// moment (a virus scanner, the previous run still closing) gets copied or deleted once released.
constexpr int kRetryAttempts = 10;
constexpr uint32_t kRetryPauseMs = 200;

// How the retries pause: Sleep, unless a test passes its own (which can then act between the
// attempts, and needs no real time).
using RetryPause = void (*)(uint32_t milliseconds);

// Paths, the program and its arguments are UTF-8 (used through the wide calls).
//
// Copies `source` to `target` through handles, with its last write time: an existing target is
// replaced (deleted, which removes a link itself, then created exclusively), never written
// through, so a link at the target's name can't send the copy elsewhere; a copy cut short is
// deleted again. With `held`, the copy is then opened again, for reading and sharing with
// readers only, and must be the file just written (same volume serial and file id, no link):
// while `held` holds it nobody can write, rename or delete it, and process creation, which
// only reads it, can start it. Returns 0, or the last attempt's error number (1006,
// ERROR_FILE_INVALID, when what stood at the name by then was another file).
int32_t CopyFileRetry(const char* source, const char* target, ScopedHandle* held = nullptr,
                      RetryPause pause = nullptr);
// Deletes with DeleteFileW. The outcome is not reported.
void DeleteFileRetry(const char* path, RetryPause pause = nullptr);

// The longest command line process creation takes, in characters (UTF-16 units), terminating
// zero included.
constexpr uint32_t kMaxCommandLine = 32767;

// Runs `program` with the command line "\"program\" arguments" ("\"program\"" alone when
// `arguments` is null) and waits for it to end, without a time limit. The process is created
// suspended, with the application name set (no search path), inheritable handles passed on,
// this process's environment and current folder; it may take the foreground; `beforeResume`
// (when given) runs after the creation and before the process's first instruction — the stub
// stops its progress window there — then the process runs.
//
// `exitCode` (optional) is set to 0 at once and receives the full 32-bit exit code on success.
// Returns 0, 206 (ERROR_FILENAME_EXCED_RANGE) for a command line longer than kMaxCommandLine
// with its terminator (nothing is started then), 1113 (ERROR_NO_UNICODE_TRANSLATION) for a
// program or arguments that are not UTF-8 (nor then), or the error number of the step that failed
// (process creation, resumption, the wait or reading the exit code). After a failure the last
// error number is the returned one, whatever closing the handles did to it.
int32_t RunAndWait(const char* program, const char* arguments, uint32_t* exitCode,
                   void (*beforeResume)() = nullptr);

}  // namespace sfx

#endif  // SFXSTUB_HOST_LAUNCH_H_
