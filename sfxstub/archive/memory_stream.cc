#include "sfxstub/archive/memory_stream.h"

#include <cstring>

namespace sfx {

MemoryStream::~MemoryStream() = default;

bool MemoryStream::Attach(uint8_t* block, uint32_t blockSize) {
  if (attached || block == nullptr) return false;
  buffer = block;
  size = blockSize;
  position = 0;
  attached = true;
  return true;
}

// `count` is clamped to what is left of the block by subtraction, never by adding it to the
// position, so a count near 2^32 can't wrap around and reach past the block.
bool MemoryStream::Read(void* destination, uint32_t count, uint32_t* done) {
  if (!attached || position >= size) return false;
  if (count > Remaining()) count = Remaining();
  std::memcpy(destination, buffer + position, count);
  if (done) *done = count;
  position += count;
  return true;
}

bool MemoryStream::Write(const void* source, uint32_t count, uint32_t* done) {
  if (!attached || position >= size) return false;
  if (count > Remaining()) count = Remaining();
  std::memcpy(buffer + position, source, count);
  if (done) *done = count;
  position += count;
  return true;
}

uint8_t* MemoryStream::ReadBlock(uint32_t count) {
  if (!attached || position > size || count > size - position) return nullptr;
  uint8_t* block = buffer + position;
  position += count;
  return block;
}

void MemoryStream::ReleaseBlock(uint8_t*) {}

uint32_t MemoryStream::Seek(uint32_t offset, int origin) {
  switch (origin) {
    case kSeekSet: position = offset; break;
    case kSeekCur: position += offset; break;
    case kSeekEnd: position = size + offset; break;
    default: break;
  }
  return position;
}

void MemoryStream::Close() {
  buffer = nullptr;
  attached = false;
}

}  // namespace sfx
