// MemoryStream: a FileStream over a memory block that belongs to someone else. The block never
// grows: a read at or past its end moves nothing (and succeeds, as file_stream.h says), a write
// there fails; ReadBlock hands out a view into the block (nothing is copied or allocated). A
// failed operation changes nothing. Every length check is made without u32 wrap-around, so no
// count can reach outside the attached block.
#ifndef SFXSTUB_IO_MEMORY_STREAM_H_
#define SFXSTUB_IO_MEMORY_STREAM_H_

#include <cstdint>

#include "sfxstub/io/file_stream.h"

namespace sfx {

class MemoryStream : public FileStream {
 public:
  MemoryStream() = default;
  ~MemoryStream() override;

  // Fails if already attached or if `buffer` is null.
  bool Attach(uint8_t* buffer, uint32_t size);

  bool Read(void* destination, uint32_t count, uint32_t* done) override;
  bool Write(const void* source, uint32_t count, uint32_t* done) override;
  Block ReadBlock(uint32_t count) override;
  // kSeekSet and kSeekCur move the position without clamping; kSeekEnd sets it to size + offset.
  uint32_t Seek(uint32_t offset, int origin) override;
  void Close() override;

  bool IsAttached() const { return attached_; }

 private:
  // Bytes left from the position to the end of the block (0 when the position is past it).
  uint32_t Remaining() const { return position_ < size_ ? size_ - position_ : 0; }

  bool attached_ = false;
  uint8_t* buffer_ = nullptr;
};

}  // namespace sfx

#endif  // SFXSTUB_IO_MEMORY_STREAM_H_
