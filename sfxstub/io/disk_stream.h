// DiskStream: a FileStream over a file, through the FileSystem it is given (file_system.h). It
// remembers the Win32 error number of its last failure (LastError):
//   6 (ERROR_INVALID_HANDLE)  an operation on a closed stream, or opening an open one;
//   ErrnoToWin32Error(errno)  a failed open, create, read or write;
//   8 (ERROR_NOT_ENOUGH_MEMORY) no memory for a ReadBlock block.
// After a failed open the stream is closed; after a failed read or write the position is kept.
#ifndef SFXSTUB_IO_DISK_STREAM_H_
#define SFXSTUB_IO_DISK_STREAM_H_

#include <cstdint>

#include "sfxstub/io/file_stream.h"
#include "sfxstub/io/file_system.h"

namespace sfx {

class DiskStream : public FileStream {
 public:
  // `fileSystem` (not owned) must outlive the stream.
  explicit DiskStream(FileSystem* fileSystem = FileSystem::Default()) : fileSystem_(fileSystem) {}
  ~DiskStream() override;

  // Opens an existing file for reading as FileSystem::OpenForReading does (on Windows nobody
  // can write the file while the stream holds it, and a file on the network is read through a
  // private copy).
  bool OpenRead(const char* path);
  // Creates a new file for reading and writing. An existing file of that name is replaced
  // (removed first, then created exclusively), so a link at the name is never written through:
  // a link put there in between makes the create fail.
  bool Create(const char* path);
  // Sets the open file's access and modification times (seconds since 1970-01-01 UTC).
  bool SetTimes(uint32_t time);

  bool Read(void* buffer, uint32_t count, uint32_t* done) override;
  bool Write(const void* buffer, uint32_t count, uint32_t* done) override;
  // An owned block of `count` bytes, filled from the file as far as it reaches (a block running
  // past the end of the file holds zeros there). Empty, with LastError set, when the block can't
  // be allocated or a read fails: a block with holes where the disk failed would otherwise pass
  // for the file's contents.
  Block ReadBlock(uint32_t count) override;
  uint32_t Seek(uint32_t offset, int origin) override;
  void Close() override;
  uint32_t Size() override;

  bool IsOpen() const { return handle_ != -1; }
  uint32_t LastError() const { return lastError_; }

 private:
  // Takes `handle` from an open or create, or records its failure.
  bool Adopt(int handle);
  // The position as a u32; a failure (or a position beyond what u32 holds) gives kSeekFailed.
  uint32_t LowSeek(int64_t offset, int origin);
  bool Fail(uint32_t error);

  FileSystem* fileSystem_;
  int handle_ = -1;
  bool sizeStale_ = false;
  uint32_t lastError_ = 0;
};

}  // namespace sfx

#endif  // SFXSTUB_IO_DISK_STREAM_H_
