// Files as the tools read and write them: every input checked before anything is read from it,
// every output written whole or not at all, and no temporary file left behind, not even by an
// interrupted run. Shared by sfxpack and sfxgen. POSIX only.
#ifndef SFXSTUB_TOOLS_SFXPACK_FILES_H_
#define SFXSTUB_TOOLS_SFXPACK_FILES_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/sfxpack/status.h"

namespace sfxpack {

// An input opened for reading. Closed by the destructor.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens `path`, given through `option` ("--stub", "PACKAGE"): it must be a readable regular
  // file of at most `maxSize` bytes. The reason names the option, the path and what is wrong.
  Status Open(const std::string& option, const std::string& path, uint64_t maxSize);
  // An input of `bytes` held in an anonymous file of its own (a stub changed in memory, such as
  // one pack stamped a key into), named `name` in reasons; its other properties are zero.
  Status OpenBytes(const std::string& name, const std::vector<uint8_t>& bytes);
  // Reads exactly `size` bytes at `offset`; fails on a short read.
  Status ReadAt(uint64_t offset, void* data, size_t size) const;

  int fd() const { return handle_; }
  uint64_t size() const { return length_; }
  const std::string& path() const { return name_; }
  dev_t device() const { return dev_; }
  ino_t inode() const { return ino_; }
  mode_t mode() const { return perms_; }
  int64_t modificationTime() const { return mtime_; }

 private:
  int handle_ = -1;
  uint64_t length_ = 0;
  std::string name_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  mode_t perms_ = 0;
  int64_t mtime_ = 0;
};

// The whole of the file at `path`, checked as InputFile::Open checks it.
Status ReadWholeFile(const std::string& option, const std::string& path, uint64_t maxSize,
                     std::vector<uint8_t>* data);

// Refuses an output that is the same file as one of `inputs` (always), a folder, and an existing
// output unless `force`. `option` names it in the reason ("-o").
Status CheckOutput(const std::string& option, const std::string& path,
                   const std::vector<const InputFile*>& inputs, bool force);

// A new file written under a temporary name in the folder of its final name and renamed there
// by Commit, so that the final name holds either what it held before or the whole new file.
// The temporary file is removed by the destructor, and by SIGINT, SIGTERM or SIGHUP while it
// exists (InstallCleanupHandlers).
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  Status Create(const std::string& finalPath, mode_t mode);
  Status Write(const void* data, size_t size);
  Status WriteAt(uint64_t offset, const void* data, size_t size);
  Status ReadAt(uint64_t offset, void* data, size_t size) const;
  // Sets the modification and access times before the rename.
  Status SetTime(uint32_t seconds);
  // Flushes, closes and renames onto the final name: replacing what stands there when
  // `replace`, otherwise failing, and leaving it alone, if the name has been taken meanwhile.
  Status Commit(bool replace);

  int fd() const { return handle_; }
  uint64_t written() const { return position_; }

 private:
  void Discard();

  int handle_ = -1;
  int slot_ = -1;
  uint64_t position_ = 0;
  std::string finalName_;
  std::string tempName_;
};

// `data` as the whole new content of `path` (an OutputFile of `mode`, committed with `replace`).
Status WriteFileAtomically(const std::string& path, const uint8_t* data, size_t size,
                           mode_t mode = 0644, bool replace = true);
inline Status WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& data) {
  return WriteFileAtomically(path, data.data(), data.size());
}

// Installs the SIGINT, SIGTERM and SIGHUP handlers that remove every live OutputFile's temporary
// file and then end the process as the signal would have.
void InstallCleanupHandlers();

// A new folder only we can enter (mode 0700) under $TMPDIR or /tmp, removed with everything in
// it when the holder goes.
class PrivateTempDir {
 public:
  PrivateTempDir() = default;
  ~PrivateTempDir();
  PrivateTempDir(const PrivateTempDir&) = delete;
  PrivateTempDir& operator=(const PrivateTempDir&) = delete;

  Status Create();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_FILES_H_
