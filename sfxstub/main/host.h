// The platform seen from the main sequence: the working folder, copying, running and deleting,
// the progress window and the error report. The Windows build implements it over Win32
// (sfxstub/host, sfxstub/ui); native tests drive the sequence with a fake.
//
// Error numbers are Windows error numbers as int32_t, 0 for success. Paths and text are
// std::string: UTF-8 on Windows, where the host reads and passes them through the wide calls
// (the template reaches the sequence as UTF-8 too, through the file system's PackageText).
#ifndef SFXSTUB_MAIN_HOST_H_
#define SFXSTUB_MAIN_HOST_H_

#include <cstdint>
#include <string>

#include "sfxstub/archive/progress_sink.h"

namespace sfx {

class Host {
 public:
  virtual ~Host() = default;

  // Registers the progress window's classes and starts its thread with animation 129, title
  // "Setup", margins 6 and 6, derived bar width, bar height 15. Only called when no quiet
  // switch is present.
  virtual void StartProgress() = 0;
  // Stops the progress thread; harmless when none was started or it has been stopped already.
  virtual void StopProgress() = 0;
  // Receives the extraction's progress reports (does nothing without a window).
  virtual ProgressSink* Progress() = 0;

  // The full path of the program's own file, whatever its length.
  virtual int32_t ModulePath(std::string* path) = 0;
  // Creates a fresh working folder under the temporary folder, with its access list from the
  // start. On return `folder` holds the created folder's path, or is empty when no folder was
  // created or it could not be secured. The result is the creation's error number.
  virtual int32_t CreateWorkingFolder(const char* prefix, std::string* folder) = 0;
  // 0 while the folder CreateWorkingFolder made is still the folder at its name (also when no
  // identity can be known, as on Windows 9x), else 267 (ERROR_DIRECTORY): something else was
  // put there, and nothing may be written into it or started from it.
  virtual int32_t CheckWorkingFolder() = 0;
  // Copies the main program to the launch copy's name, replacing what stands there, with
  // retries, and holds the copy so that nobody can replace or change it before it has run and
  // been deleted. 0, or the last attempt's error number: then no copy stands at the name.
  virtual int32_t CopyFileRetry(const std::string& source, const std::string& target) = 0;
  // Deletes with retries (releasing a launch copy held at `path` first); the outcome is not
  // reported.
  virtual void DeleteFileRetry(const std::string& path) = 0;
  // Runs the program with the argument text and waits for it; on 0 `exitCode` holds its exit
  // code. Stops the progress thread after the process is created and before it runs.
  virtual int32_t RunAndWait(const std::string& program, const std::string& arguments,
                             uint32_t* exitCode) = 0;
  // Deletes the entries matching `filePattern` in the folder(s) named by `folderPattern`, then
  // the folder(s); returns the last failure's error number.
  virtual int32_t DeleteFolderFiles(const std::string& folderPattern, const char* filePattern,
                                    bool recurse) = 0;
  // Shows the error report: a message box titled "Setup Selfextract", MB_OK | MB_ICONERROR.
  virtual void ShowErrorReport(const std::string& text) = 0;
  // Whether `byte` is a lead byte of a double-byte character in the text the sequence holds
  // (never for UTF-8, which the Windows host hands it; fakes test double-byte code pages).
  virtual bool IsLeadByte(uint8_t byte) = 0;
};

}  // namespace sfx

#endif  // SFXSTUB_MAIN_HOST_H_
