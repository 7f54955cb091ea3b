// The POSIX file system: the native build's, where sfxpack and the tests run. The package is
// opened for reading as it is (no other process is kept from writing it).
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "sfxstub/io/file_system.h"

namespace sfx {
namespace {

class PosixFileSystem : public FileSystem {
 public:
  int OpenForReading(const char* path) override { return ::open(path, O_RDONLY | O_CLOEXEC); }
  int Create(const char* path) override {
    return ::open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
  }
  int64_t Read(int file, void* buffer, uint32_t count) override { return ::read(file, buffer, count); }
  int64_t Write(int file, const void* buffer, uint32_t count) override {
    return ::write(file, buffer, count);
  }
  int64_t Seek(int file, int64_t offset, int origin) override { return ::lseek(file, offset, origin); }
  int SetTimes(int file, uint32_t time) override {
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(time);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return futimens(file, times);
  }
  void Close(int file) override { ::close(file); }
  int Remove(const char* path) override { return ::unlink(path); }
  std::string PackageText(const std::string& stored) override { return stored; }
};

}  // namespace

FileSystem* FileSystem::Default() {
  static PosixFileSystem fileSystem;
  return &fileSystem;
}

const char kPathSeparator = '/';

std::string JoinTargetPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (name.empty()) return folder;
  if (folder.back() == kPathSeparator || name.front() == kPathSeparator) return folder + name;
  return folder + kPathSeparator + name;
}

namespace internal {
bool IsRemotePath(const std::string&) { return false; }
void SetAlwaysCopyForTesting(bool) {}
}  // namespace internal

}  // namespace sfx
