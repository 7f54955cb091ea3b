#include "sfxstub/io/disk_stream.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "sfxstub/io/errno_map.h"
#include "sfxstub/io/win32_error.h"

namespace sfx {

DiskStream::~DiskStream() { Close(); }

bool DiskStream::Fail(uint32_t error) {
  lastError_ = error;
  return false;
}

uint32_t DiskStream::LowSeek(int64_t offset, int origin) {
  const int64_t result = fileSystem_->Seek(handle_, offset, origin);
  if (result < 0 || result > int64_t{0xFFFFFFFF}) return kSeekFailed;
  return static_cast<uint32_t>(result);
}

bool DiskStream::Adopt(int handle) {
  if (handle == -1) return Fail(ErrnoToWin32Error(errno));
  handle_ = handle;
  size_ = LowSeek(0, kSeekEnd);
  position_ = LowSeek(0, kSeekSet);
  return true;
}

bool DiskStream::OpenRead(const char* path) {
  if (IsOpen()) return Fail(kErrorInvalidHandle);
  return Adopt(fileSystem_->OpenForReading(path));
}

bool DiskStream::Create(const char* path) {
  sizeStale_ = false;
  if (IsOpen()) return Fail(kErrorInvalidHandle);
  // Nothing there, or something that stays and makes the create fail: both fine.
  fileSystem_->Remove(path);
  return Adopt(fileSystem_->Create(path));
}

bool DiskStream::SetTimes(uint32_t time) {
  if (!IsOpen()) return Fail(kErrorInvalidHandle);
  if (fileSystem_->SetTimes(handle_, time) != 0) return Fail(ErrnoToWin32Error(errno));
  return true;
}

bool DiskStream::Read(void* buffer, uint32_t count, uint32_t* done) {
  if (!IsOpen()) return Fail(kErrorInvalidHandle);
  const int64_t got = fileSystem_->Read(handle_, buffer, count);
  if (got < 0) return Fail(ErrnoToWin32Error(errno));
  if (done) *done = static_cast<uint32_t>(got);
  position_ = LowSeek(0, kSeekCur);
  return true;
}

bool DiskStream::Write(const void* buffer, uint32_t count, uint32_t* done) {
  if (!IsOpen()) return Fail(kErrorInvalidHandle);
  const int64_t put = fileSystem_->Write(handle_, buffer, count);
  if (put < 0) return Fail(ErrnoToWin32Error(errno));
  if (done) *done = static_cast<uint32_t>(put);
  sizeStale_ = true;
  position_ = LowSeek(0, kSeekCur);
  return true;
}

Block DiskStream::ReadBlock(uint32_t count) {
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[count == 0 ? 1 : count]);
  if (!block) {
    Fail(kErrorNotEnoughMemory);
    return Block();
  }
  // A read may move fewer bytes than asked for without reaching the end; only a read of none
  // means the end, and a failed one fails the block. Only what no read reached is zeroed: the
  // block is not cleared first and then read over.
  uint32_t filled = 0;
  while (filled < count) {
    uint32_t got = 0;
    if (!Read(block.get() + filled, count - filled, &got)) return Block();
    if (got == 0) break;
    filled += got;
  }
  std::memset(block.get() + filled, 0, count - filled);
  return Block::Owned(std::move(block));
}

uint32_t DiskStream::Seek(uint32_t offset, int origin) {
  // Offsets are u32 from the start; relative moves take the value as signed, as lseek does.
  const int64_t off = origin == kSeekSet ? static_cast<int64_t>(offset)
                                         : static_cast<int64_t>(static_cast<int32_t>(offset));
  position_ = IsOpen() ? LowSeek(off, origin) : kSeekFailed;
  return position_;
}

void DiskStream::Close() {
  if (handle_ != -1) fileSystem_->Close(handle_);
  handle_ = -1;
  sizeStale_ = false;
}

uint32_t DiskStream::Size() {
  if (sizeStale_) {
    size_ = LowSeek(0, kSeekEnd);
    LowSeek(position_, kSeekSet);
    sizeStale_ = false;
  }
  return size_;
}

}  // namespace sfx
