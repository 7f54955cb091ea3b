#include "sfxstub/archive/disk_stream.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "sfxstub/archive/errno_map.h"
#include "sfxstub/archive/lowlevel_io.h"

namespace sfx {
namespace {
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kSeekFailed = 0xFFFFFFFFu;

// _lseek as a u32 position; a failure (or a position beyond what u32 holds) gives 0xFFFFFFFF.
uint32_t LowSeek(int handle, int64_t offset, int origin) {
  auto result = SFX_LSEEK64(handle, offset, origin);
  if (result < 0 || static_cast<unsigned long long>(result) > 0xFFFFFFFFull) return kSeekFailed;
  return static_cast<uint32_t>(result);
}
}  // namespace

DiskStream::~DiskStream() { Close(); }

bool DiskStream::Open(const char* path, int flags) {
  if (isOpen) {
    LastError = kErrorInvalidHandle;
    return false;
  }
  handle = _open(path, flags, _S_IREAD | _S_IWRITE);
  if (handle == -1) {
    LastError = ErrnoToWin32Error(errno);
    return false;
  }
  isOpen = true;
  size = LowSeek(handle, 0, kSeekEnd);
  position = LowSeek(handle, 0, kSeekSet);
  return true;
}

bool DiskStream::OpenRead(const char* path) { return Open(path, _O_RDONLY | _O_BINARY); }

bool DiskStream::Create(const char* path) {
  sizeStale = false;
  return Open(path, _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY);
}

bool DiskStream::Read(void* buffer, uint32_t count, uint32_t* done) {
  if (!isOpen) {
    LastError = kErrorInvalidHandle;
    return false;
  }
  auto got = _read(handle, buffer, count);
  if (done) *done = static_cast<uint32_t>(got);
  if (got == -1) {
    LastError = ErrnoToWin32Error(errno);
    return false;
  }
  position = LowSeek(handle, 0, kSeekCur);
  return true;
}

bool DiskStream::Write(const void* buffer, uint32_t count, uint32_t* done) {
  if (!isOpen) {
    LastError = kErrorInvalidHandle;
    return false;
  }
  auto put = _write(handle, buffer, count);
  if (done) *done = static_cast<uint32_t>(put);
  if (put == -1) {
    LastError = ErrnoToWin32Error(errno);
    return false;
  }
  sizeStale = true;
  position = LowSeek(handle, 0, kSeekCur);
  return true;
}

uint8_t* DiskStream::ReadBlock(uint32_t count) {
  uint8_t* block = new (std::nothrow) uint8_t[count == 0 ? 1 : count];
  if (!block) return nullptr;
  std::memset(block, 0, count);
  // The result is not looked at: bytes beyond the end of the file stay zero.
  Read(block, count, nullptr);
  return block;
}

void DiskStream::ReleaseBlock(uint8_t* block) { delete[] block; }

uint32_t DiskStream::Seek(uint32_t offset, int origin) {
  // Offsets are u32 from the start; relative moves take the value as signed, as _lseek does.
  int64_t off = origin == kSeekSet ? static_cast<int64_t>(offset)
                                   : static_cast<int64_t>(static_cast<int32_t>(offset));
  position = LowSeek(handle, off, origin);
  return position;
}

void DiskStream::Close() {
  if (handle != -1) _close(handle);
  handle = -1;
  isOpen = false;
  sizeStale = false;
}

uint32_t DiskStream::Size() {
  if (sizeStale) {
    size = LowSeek(handle, 0, kSeekEnd);
    LowSeek(handle, position, kSeekSet);
    sizeStale = false;
  }
  return size;
}

}  // namespace sfx
