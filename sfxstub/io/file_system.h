// FileSystem: everything the archive does to files, behind one interface passed to each reader
// and writer, so that a test can wrap it (FileSystemWrapper) and another platform can supply its
// own. The platform's implementation is FileSystem::Default(): file_system_win32.cc (the C
// runtime's low-level calls, and CreateFileW for the package) or file_system_posix.cc, one of
// which the build picks.
//
// Paths are UTF-8 on Windows (converted to UTF-16 at each call, so every name the system can
// hold is reached, whatever the ANSI code page) and bytes as they are elsewhere. Text stored in a
// package reaches the paths through PackageText, which reads it as the platform does.
//
// Files are the runtime's low-level handles (ints). Every call that fails returns -1 with errno
// set as the runtime's own call would set it; DiskStream maps errno to a Win32 error number
// (ErrnoToWin32Error). No handle is inherited by child processes: the setup program is started
// with handle inheritance on and has no use for the stub's handles.
#ifndef SFXSTUB_IO_FILE_SYSTEM_H_
#define SFXSTUB_IO_FILE_SYSTEM_H_

#include <cstdint>
#include <string>

namespace sfx {

class FileSystem {
 public:
  FileSystem(const FileSystem&) = delete;
  FileSystem& operator=(const FileSystem&) = delete;

  // The platform's file system; lives as long as the program. It is a plain static object
  // (constant-initialised, never destroyed): no start-up code makes it and no exit code
  // destroys it.
  static FileSystem* Default();

  // Opens the package for reading so that what the stub checks is what it extracts. The stub
  // checks the signature over its whole file and then reads the catalog, the main program and
  // the listed files again; in between nobody may change those bytes. On Windows a local file
  // is opened sharing only with readers (an open writer makes the open fail with a sharing
  // violation, and no writer can open it while it is held), and a file on a network drive or a
  // UNC path is read once into a private copy under TEMP (shared with nobody, deleted when
  // closed, at most 4 GiB - 1 bytes: a larger one fails), since a server can change it whatever
  // the sharing says. The program's own file (the path GetModuleFileNameW gives) is opened
  // through the image the process runs, not by its name (own_image_win32.h).
  virtual int OpenForReading(const char* path) = 0;
  // Creates a new file for reading and writing, exclusively: an existing file of that name
  // makes it fail (the caller removes it first).
  virtual int Create(const char* path) = 0;
  // The number of bytes moved (0 at the end of the file), or -1.
  virtual int64_t Read(int file, void* buffer, uint32_t count) = 0;
  virtual int64_t Write(int file, const void* buffer, uint32_t count) = 0;
  // The new position from the start of the file, or -1. Offsets are 64-bit, so positions
  // between 2 GiB and 4 GiB work where long has 32 bits.
  virtual int64_t Seek(int file, int64_t offset, int origin) = 0;
  // Sets the access and modification times (seconds since 1970-01-01 UTC) through the handle,
  // so that the name is not looked up again. 0 or -1.
  virtual int SetTimes(int file, uint32_t time) = 0;
  virtual void Close(int file) = 0;
  // Removes a file's name (a link is removed, never what it points to). 0 or -1.
  virtual int Remove(const char* path) = 0;

  // Text stored in a package (a listed name, the command-line template) in the form paths take
  // here. The stored bytes are in the ANSI code page of the system the package runs on, so on
  // Windows they are read in that code page (as the "A" functions read them) and come back as
  // UTF-8; elsewhere they come back unchanged, so sfxpack shows and extracts the stored bytes.
  virtual std::string PackageText(const std::string& stored) = 0;

 protected:
  // Nobody owns a file system through this interface, so it is never deleted through it.
  constexpr FileSystem() = default;
  ~FileSystem() = default;
};

// Hands every call on to another file system; tests override the calls they fail or watch.
class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(FileSystem* target) : target_(target) {}

  int OpenForReading(const char* path) override { return target_->OpenForReading(path); }
  int Create(const char* path) override { return target_->Create(path); }
  int64_t Read(int file, void* buffer, uint32_t count) override {
    return target_->Read(file, buffer, count);
  }
  int64_t Write(int file, const void* buffer, uint32_t count) override {
    return target_->Write(file, buffer, count);
  }
  int64_t Seek(int file, int64_t offset, int origin) override {
    return target_->Seek(file, offset, origin);
  }
  int SetTimes(int file, uint32_t time) override { return target_->SetTimes(file, time); }
  void Close(int file) override { target_->Close(file); }
  int Remove(const char* path) override { return target_->Remove(path); }
  std::string PackageText(const std::string& stored) override {
    return target_->PackageText(stored);
  }

 private:
  FileSystem* target_;
};

// The separator between a folder and a name in an extraction target: '\' on Windows, '/'
// elsewhere (the native sfxpack extracts into real folders). Defined by the platform's file.
extern const char kPathSeparator;

// JoinPath with kPathSeparator: the name alone for an empty folder, the folder alone for an
// empty name, otherwise one separator between them unless one is there already.
std::string JoinTargetPath(const std::string& folder, const std::string& name);

namespace internal {

// Whether `path` lies on a network drive or is a UNC path ("\\server\share\...",
// "\\?\UNC\server\share\..."). Relative paths are resolved against the current folder first.
// Always false outside Windows.
bool IsRemotePath(const std::string& path);

// Makes every OpenForReading of the default file system read through a private copy, as for a
// remote file (true), or decide by the path again (false). For tests only; nothing outside
// Windows makes copies.
void SetAlwaysCopyForTesting(bool always);

}  // namespace internal

}  // namespace sfx

#endif  // SFXSTUB_IO_FILE_SYSTEM_H_
