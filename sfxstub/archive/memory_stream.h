// MemoryStream: a FileStream over a memory block that belongs to someone else. The block never
// grows; a read or write at or past the end fails; ReadBlock hands out a pointer into the block
// (nothing is copied or allocated). A failed operation changes nothing. Every length check is
// made without u32 wrap-around, so no count can reach outside the attached block.
#ifndef SFXSTUB_ARCHIVE_MEMORY_STREAM_H_
#define SFXSTUB_ARCHIVE_MEMORY_STREAM_H_

#include <cstdint>

#include "sfxstub/archive/file_stream.h"

namespace sfx {

class MemoryStream : public FileStream {
 public:
  MemoryStream() = default;
  ~MemoryStream() override;

  // Fails if already attached or if `buffer` is null.
  bool Attach(uint8_t* buffer, uint32_t size);

  bool Read(void* destination, uint32_t count, uint32_t* done) override;
  bool Write(const void* source, uint32_t count, uint32_t* done) override;
  uint8_t* ReadBlock(uint32_t count) override;
  void ReleaseBlock(uint8_t* block) override;
  // kSeekSet and kSeekCur move the position without clamping; kSeekEnd sets it to size + offset.
  uint32_t Seek(uint32_t offset, int origin) override;
  void Close() override;

  bool IsAttached() const { return attached; }

 private:
  // Bytes left from the position to the end of the block (0 when the position is past it).
  uint32_t Remaining() const { return position < size ? size - position : 0; }

  bool attached = false;
  uint8_t* buffer = nullptr;
};

}  // namespace sfx

#endif  // SFXSTUB_ARCHIVE_MEMORY_STREAM_H_
