#include "sfxstub/host/win32_host.h"

#include <utility>
#include <vector>

#include "sfxstub/host/folder_cleanup.h"
#include "sfxstub/host/launch.h"
#include "sfxstub/host/working_folder.h"
#include "sfxstub/io/wide_path_win32.h"
#include "sfxstub/io/win32_error.h"
#include "sfxstub/ui/progress_bar.h"
#include "sfxstub/ui/progress_ui.h"

namespace sfx {

const char kErrorReportTitle[] = "Setup Selfextract";

namespace {

// The progress window's look: icon group 1, animation clip 129, title "Setup", margins of 6
// pixels around the animation and the bar, the bar's width derived, 15 pixels high.
constexpr int kIconId = 1;
constexpr int kAnimationId = 129;
constexpr char kProgressTitle[] = "Setup";
constexpr int kAnimationMargin = 6;
constexpr int kBarMargin = 6;
constexpr int kBarWidth = 0;
constexpr int kBarHeight = 15;

// Longer than any path the platform can hand out (32767 characters with "\\?\").
constexpr DWORD kModulePathLimit = 65536;

}  // namespace

namespace internal {

int32_t ModulePathWith(ModuleFileNameFunction getName, std::string* path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD size = static_cast<DWORD>(buffer.size());
    DWORD length = getName(nullptr, buffer.data(), size);
    if (length == 0) {
      DWORD error = GetLastError();
      return error != ERROR_SUCCESS ? static_cast<int32_t>(error) : kErrorInvalidFunction;
    }
    // A filled buffer means the path may have been cut (older systems do not even terminate
    // it), so only a shorter answer is the whole path.
    if (length < size) {
      *path = Utf8FromWide(buffer.data(), length);
      return 0;
    }
    if (size >= kModulePathLimit) return kErrorFilenameExcedRange;
    buffer.resize(static_cast<size_t>(size) * 2);
  }
}

}  // namespace internal

void Win32Host::StartProgress() {
  RegisterProgressWindowClass(instance_, kIconId);
  RegisterProgressBarClass(instance_);
  StartProgressThread(kAnimationId, kProgressTitle, kAnimationMargin, kBarMargin, kBarWidth,
                      kBarHeight);
}

void Win32Host::StopProgress() { StopProgressThread(); }

int32_t Win32Host::ModulePath(std::string* path) {
  return internal::ModulePathWith(&GetModuleFileNameW, path);
}

int32_t Win32Host::CreateWorkingFolder(const char* prefix, std::string* folder) {
  launchCopy_.Reset();
  const int32_t result =
      ::sfx::CreateWorkingFolder(prefix, folder, &workingFolderIdentity_, &workingFolderPin_);
  workingFolder_ = *folder;
  return result;
}

int32_t Win32Host::CheckWorkingFolder() {
  if (workingFolder_.empty() || !workingFolderIdentity_.known) return 0;
  ScopedHandle folder(OpenFolderItself(workingFolder_, FILE_READ_ATTRIBUTES));
  FolderIdentity now;
  return folder.Valid() && ReadFolderIdentity(folder.Get(), &now) && now == workingFolderIdentity_
             ? 0
             : kErrorDirectory;
}

bool Win32Host::WorkingFolderReplaced(const std::string& path) {
  return !workingFolder_.empty() && path.size() > workingFolder_.size() &&
         path.compare(0, workingFolder_.size(), workingFolder_) == 0 &&
         path[workingFolder_.size()] == '\\' && CheckWorkingFolder() != 0;
}

int32_t Win32Host::CopyFileRetry(const std::string& source, const std::string& target) {
  launchCopy_.Reset();
  if (WorkingFolderReplaced(target)) return kErrorDirectory;
  return ::sfx::CopyFileRetry(source.c_str(), target.c_str(), &launchCopy_);
}

void Win32Host::DeleteFileRetry(const std::string& path) {
  launchCopy_.Reset();  // it shares no delete access
  if (WorkingFolderReplaced(path)) return;
  ::sfx::DeleteFileRetry(path.c_str());
}

int32_t Win32Host::RunAndWait(const std::string& program, const std::string& arguments,
                              uint32_t* exitCode) {
  return ::sfx::RunAndWait(program.c_str(), arguments.c_str(), exitCode, &StopProgressThread);
}

int32_t Win32Host::DeleteFolderFiles(const std::string& folderPattern, const char* filePattern,
                                     bool recurse) {
  if (!workingFolder_.empty() && folderPattern == workingFolder_) {
    // The pins go first: the folder's removal needs the DELETE access they share with no one.
    launchCopy_.Reset();
    workingFolderPin_.Reset();
    return DeleteWorkingFolder(folderPattern, workingFolderIdentity_, filePattern, recurse);
  }
  return ::sfx::DeleteFolderFiles(folderPattern, filePattern, recurse);
}

void Win32Host::ShowErrorReport(const std::string& text) {
  // The text is ASCII: the same words in every code page.
  WideString wideText, wideTitle;
  ToWide(text, &wideText);
  ToWide(kErrorReportTitle, &wideTitle);
  MessageBoxW(nullptr, wideText.c_str(), wideTitle.c_str(), MB_OK | MB_ICONERROR);
}

// The sequence's text is UTF-8 (the paths, the tail, the template read through PackageText),
// whose multi-byte characters never hold '%', '"', '\' or a blank: there are no lead bytes to
// step over.
bool Win32Host::IsLeadByte(uint8_t) { return false; }

}  // namespace sfx
