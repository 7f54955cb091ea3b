// A seekable byte stream with a position and a length: the one polymorphic interface through
// which every reader of the program's own file and of its nested structures works.
//
// Two implementations: DiskStream (a file through a low-level runtime file handle) and
// MemoryStream (a caller's memory block, not owned). Blocks handed out by ReadBlock stay valid
// until they go back through ReleaseBlock on the same stream; every caller passes them back.
#ifndef SFXSTUB_ARCHIVE_FILE_STREAM_H_
#define SFXSTUB_ARCHIVE_FILE_STREAM_H_

#include <cstdint>

namespace sfx {

enum SeekOrigin : int { kSeekSet = 0, kSeekCur = 1, kSeekEnd = 2 };

class FileStream {
 public:
  FileStream() = default;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;
  virtual ~FileStream();

  // Reads up to `count` bytes. `done` (optional) receives the number of bytes moved.
  virtual bool Read(void* buffer, uint32_t count, uint32_t* done);
  virtual bool Write(const void* buffer, uint32_t count, uint32_t* done) = 0;
  // Hands out a block of `count` bytes from the current position, or null.
  virtual uint8_t* ReadBlock(uint32_t count) = 0;
  virtual void ReleaseBlock(uint8_t* block) = 0;
  // Moves the position; returns the new position, or 0xFFFFFFFF when the move fails.
  virtual uint32_t Seek(uint32_t offset, int origin) = 0;
  virtual void Close() = 0;
  virtual uint32_t Size();

  uint32_t Position() const { return position; }

  // Little-endian integers read byte by byte through Read. A byte that can't be read counts as 0.
  uint8_t ReadU8();
  uint16_t ReadU16();
  uint32_t ReadU32();

 protected:
  uint32_t position = 0;
  uint32_t size = 0;
};

}  // namespace sfx

#endif  // SFXSTUB_ARCHIVE_FILE_STREAM_H_
