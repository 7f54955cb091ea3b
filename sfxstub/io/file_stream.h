// A seekable byte stream with a position and a length: the one polymorphic interface through
// which every reader of the program's own file and of its nested structures works.
//
// Two implementations: DiskStream (a file through a FileSystem) and MemoryStream (a caller's
// memory block, not owned). Every stream keeps one contract:
//   - Read moves up to `count` bytes from the position. Reaching the end of the data is not a
//     failure: a read at or past the end succeeds with 0 bytes. Only a stream that can't read
//     (closed, detached, the disk failed) fails.
//   - A failed call leaves its outputs (`done`) untouched, and keeps the position.
//   - ReadBlock hands out `count` bytes from the position as a Block that owns them (or views
//     memory that outlives it): nothing is given back to the stream by hand.
//   - Seek returns the new position, or 0xFFFFFFFF when the move fails.
#ifndef SFXSTUB_IO_FILE_STREAM_H_
#define SFXSTUB_IO_FILE_STREAM_H_

#include <cstdint>
#include <memory>
#include <utility>

namespace sfx {

enum SeekOrigin : int { kSeekSet = 0, kSeekCur = 1, kSeekEnd = 2 };

// What Seek returns when the move fails.
constexpr uint32_t kSeekFailed = 0xFFFFFFFFu;

// Bytes handed out by ReadBlock: either owned (freed with the Block) or a view into memory that
// outlives the Block (a MemoryStream's). An empty Block (get() null) means no block.
class Block {
 public:
  Block() = default;
  static Block Owned(std::unique_ptr<uint8_t[]> bytes) {
    Block block;
    block.data_ = bytes.get();
    block.owned_ = std::move(bytes);
    return block;
  }
  static Block View(uint8_t* bytes) {
    Block block;
    block.data_ = bytes;
    return block;
  }

  uint8_t* get() const { return data_; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  std::unique_ptr<uint8_t[]> owned_;
  uint8_t* data_ = nullptr;
};

class FileStream {
 public:
  FileStream() = default;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;
  virtual ~FileStream();

  // `done` (optional) receives the number of bytes moved.
  virtual bool Read(void* buffer, uint32_t count, uint32_t* done) = 0;
  virtual bool Write(const void* buffer, uint32_t count, uint32_t* done) = 0;
  // `count` bytes from the position, or an empty Block.
  virtual Block ReadBlock(uint32_t count) = 0;
  virtual uint32_t Seek(uint32_t offset, int origin) = 0;
  virtual void Close() = 0;
  virtual uint32_t Size() { return size_; }

  uint32_t Position() const { return position_; }

  // Little-endian integers read byte by byte through Read. A byte that can't be read counts as 0.
  uint8_t ReadU8();
  uint16_t ReadU16();
  uint32_t ReadU32();

 protected:
  uint32_t position_ = 0;
  uint32_t size_ = 0;
};

}  // namespace sfx

#endif  // SFXSTUB_IO_FILE_STREAM_H_
