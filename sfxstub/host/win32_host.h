// The main sequence's Host over Win32: the host services of this folder, the progress window
// (sfxstub/ui) and the error report in a message box. Every path and text it takes or hands out
// is UTF-8; it reads and passes them through the wide calls.
#ifndef SFXSTUB_HOST_WIN32_HOST_H_
#define SFXSTUB_HOST_WIN32_HOST_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "sfxstub/io/win32_handle.h"
#include "sfxstub/host/working_folder.h"
#include "sfxstub/main/host.h"
#include "sfxstub/ui/window_progress_sink.h"

namespace sfx {

class Win32Host : public Host {
 public:
  // `instance` is the program's module: the window classes, the icon and the animation clip.
  explicit Win32Host(HINSTANCE instance) : instance_(instance) {}

  void StartProgress() override;
  void StopProgress() override;
  ProgressSink* Progress() override { return &progress_; }

  int32_t ModulePath(std::string* path) override;
  // Keeps the new folder's pin (opened without sharing delete access) until the clean-up: while
  // the stub runs, nobody can rename it away and put something else at its name.
  int32_t CreateWorkingFolder(const char* prefix, std::string* folder) override;
  // Opens the folder's name again and compares what stands there with the folder made.
  int32_t CheckWorkingFolder() override;
  // Inside the working folder both act only while the folder is still the one created (a link
  // or another folder at its name is left alone; the copy then is not made, 267). The copy is
  // held until DeleteFileRetry (launch.h: CopyFileRetry with `held`).
  int32_t CopyFileRetry(const std::string& source, const std::string& target) override;
  void DeleteFileRetry(const std::string& path) override;
  // Stops the progress thread between the creation and the resumption of the setup program.
  int32_t RunAndWait(const std::string& program, const std::string& arguments,
                     uint32_t* exitCode) override;
  // The working folder this host created is removed only while it is still that folder
  // (DeleteWorkingFolder); any other pattern is cleaned as DeleteFolderFiles does.
  int32_t DeleteFolderFiles(const std::string& folderPattern, const char* filePattern,
                            bool recurse) override;
  void ShowErrorReport(const std::string& text) override;
  bool IsLeadByte(uint8_t byte) override;

 private:
  HINSTANCE instance_;
  WindowProgressSink progress_;
  // Whether `path` lies in the working folder and that folder is no longer the one created.
  bool WorkingFolderReplaced(const std::string& path);

  // The last working folder made, what it was, and the handle that holds it until the clean-up.
  std::string workingFolder_;
  FolderIdentity workingFolderIdentity_;
  ScopedHandle workingFolderPin_;
  // The launch copy, held from its copy until its deletion.
  ScopedHandle launchCopy_;
};

// The title of the error report's message box.
extern const char kErrorReportTitle[];  // "Setup Selfextract"

namespace internal {
using ModuleFileNameFunction = DWORD(WINAPI*)(HMODULE, LPWSTR, DWORD);
// The own module's path through `getName` (GetModuleFileNameW in the stub), in UTF-8: the buffer
// grows until the whole path fits, so a path longer than MAX_PATH is never cut. Returns 0, the
// function's error number, or 206 (ERROR_FILENAME_EXCED_RANGE) past any path the platform allows.
int32_t ModulePathWith(ModuleFileNameFunction getName, std::string* path);
}  // namespace internal

}  // namespace sfx

#endif  // SFXSTUB_HOST_WIN32_HOST_H_
