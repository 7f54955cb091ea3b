// The progress line of long work, and the file system that moves it as the archive reader reads.
#ifndef SFXSTUB_TOOLS_SFXPACK_PROGRESS_H_
#define SFXSTUB_TOOLS_SFXPACK_PROGRESS_H_

#include <cstdint>
#include <string>

#include "sfxstub/io/file_system.h"

namespace sfxpack {

// A progress line on stderr ("pack:  42% of 1.0 MiB"), shown only when stderr is a terminal and
// not asked to be quiet; cleared when the work ends.
class Progress {
 public:
  Progress(const std::string& what, uint64_t total, bool quiet);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  void Advance(uint64_t bytes);

 private:
  void Show();

  std::string label_;
  uint64_t total_;
  uint64_t done_ = 0;
  int shownPercent_ = -1;
  bool enabled_;
};

// The platform's file system with every byte read shown on `progress`: the archive reader and
// the signature check read through it, so verify and list show how far the check has come.
class ProgressFileSystem : public sfx::FileSystemWrapper {
 public:
  explicit ProgressFileSystem(Progress* progress)
      : sfx::FileSystemWrapper(sfx::FileSystem::Default()), progress_(progress) {}
  int64_t Read(int file, void* buffer, uint32_t count) override {
    const int64_t moved = sfx::FileSystemWrapper::Read(file, buffer, count);
    if (moved > 0) progress_->Advance(static_cast<uint64_t>(moved));
    return moved;
  }

 private:
  Progress* progress_;
};

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_PROGRESS_H_
