// DiskStream: a FileStream over a file through the runtime's low-level calls (_read, _write,
// _lseek, _close). Files are created with _open; a file opened for reading is opened as
// OpenPackageForReading does (package_open.h: on Windows with CreateFileA, sharing with readers
// only, wrapped by _open_osfhandle). It remembers the Win32 error number of its last failure in
// LastError:
//   6 (ERROR_INVALID_HANDLE)  an operation on a closed stream, or opening an open one;
//   ErrnoToWin32Error(errno)  a failed _open, _read or _write;
//   8 (ERROR_NOT_ENOUGH_MEMORY) no memory for a ReadBlock block.
// After a failed open the stream is closed; after a failed read or write the position is kept.
#ifndef SFXSTUB_ARCHIVE_DISK_STREAM_H_
#define SFXSTUB_ARCHIVE_DISK_STREAM_H_

#include <cstdint>

#include "sfxstub/archive/file_stream.h"

namespace sfx {

class DiskStream : public FileStream {
 public:
  DiskStream() = default;
  ~DiskStream() override;

  // Both opens make a handle that child processes do not inherit.
  // Opens an existing file for reading, untranslated, as OpenPackageForReading does: on Windows
  // nobody can write the file while the stream holds it, and a file on the network is read
  // through a private copy (package_open.h).
  bool OpenRead(const char* path);
  // Creates a new file for reading and writing, untranslated. An existing file of that name is
  // replaced (deleted first, then created anew), so a link at the name is never written through.
  bool Create(const char* path);
  // Sets the open file's access and modification times (seconds since 1970-01-01 UTC) through
  // the handle, so the name is not looked up again.
  bool SetTimes(uint32_t time);

  bool Read(void* buffer, uint32_t count, uint32_t* done) override;
  bool Write(const void* buffer, uint32_t count, uint32_t* done) override;
  // A zero-filled heap block of `count` bytes, filled from the file as far as it reaches (a
  // block running past the end of the file keeps zeros there). Null, with LastError set, when
  // the block can't be allocated or a read fails: a block with holes where the disk failed
  // would otherwise pass for the file's contents.
  uint8_t* ReadBlock(uint32_t count) override;
  void ReleaseBlock(uint8_t* block) override;
  uint32_t Seek(uint32_t offset, int origin) override;
  void Close() override;
  uint32_t Size() override;

  bool IsOpen() const { return isOpen; }
  uint32_t LastError = 0;

 private:
  bool Open(const char* path, int flags);

  bool isOpen = false;
  bool sizeStale = false;
  int handle = -1;
};

namespace internal {

// The low-level calls DiskStream makes, replaceable by tests that inject failures (a failing
// call sets errno and returns -1, as the runtime's do). Outside tests they stay the runtime's.
struct DiskIo {
  int (*open)(const char* path, int flags);
  int64_t (*read)(int handle, void* buffer, uint32_t count);
  int64_t (*write)(int handle, const void* buffer, uint32_t count);
};
// The runtime's calls.
const DiskIo& RuntimeDiskIo();
// Makes every DiskStream use `io` (null: the runtime's again). Not thread-safe; for tests only.
void SetDiskIoForTesting(const DiskIo* io);

}  // namespace internal

}  // namespace sfx

#endif  // SFXSTUB_ARCHIVE_DISK_STREAM_H_
