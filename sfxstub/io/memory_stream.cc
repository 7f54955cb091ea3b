#include "sfxstub/io/memory_stream.h"

#include <cstring>

namespace sfx {

MemoryStream::~MemoryStream() = default;

bool MemoryStream::Attach(uint8_t* block, uint32_t blockSize) {
  if (attached_ || block == nullptr) return false;
  buffer_ = block;
  size_ = blockSize;
  position_ = 0;
  attached_ = true;
  return true;
}

// `count` is clamped to what is left of the block by subtraction, never by adding it to the
// position, so a count near 2^32 can't wrap around and reach past the block.
bool MemoryStream::Read(void* destination, uint32_t count, uint32_t* done) {
  if (!attached_) return false;
  if (count > Remaining()) count = Remaining();
  if (count) std::memcpy(destination, buffer_ + position_, count);
  if (done) *done = count;
  position_ += count;
  return true;
}

bool MemoryStream::Write(const void* source, uint32_t count, uint32_t* done) {
  if (!attached_ || position_ >= size_) return false;
  if (count > Remaining()) count = Remaining();
  std::memcpy(buffer_ + position_, source, count);
  if (done) *done = count;
  position_ += count;
  return true;
}

Block MemoryStream::ReadBlock(uint32_t count) {
  if (!attached_ || position_ > size_ || count > size_ - position_) return Block();
  Block block = Block::View(buffer_ + position_);
  position_ += count;
  return block;
}

uint32_t MemoryStream::Seek(uint32_t offset, int origin) {
  switch (origin) {
    case kSeekSet: position_ = offset; break;
    case kSeekCur: position_ += offset; break;
    case kSeekEnd: position_ = size_ + offset; break;
    default: break;
  }
  return position_;
}

void MemoryStream::Close() {
  buffer_ = nullptr;
  attached_ = false;
}

}  // namespace sfx
