#include "sfxstub/archive/disk_stream.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "sfxstub/archive/errno_map.h"
#include "sfxstub/archive/lowlevel_io.h"
#include "sfxstub/archive/package_open.h"

namespace sfx {
namespace {
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kSeekFailed = 0xFFFFFFFFu;

// Reading opens lock writers out (package_open.h); creating goes through the runtime.
int RuntimeOpen(const char* path, int flags) {
  if ((flags & (_O_RDWR | _O_WRONLY | _O_CREAT)) == 0) return OpenPackageForReading(path);
  return _open(path, flags, _S_IREAD | _S_IWRITE);
}
int64_t RuntimeRead(int handle, void* buffer, uint32_t count) {
  return _read(handle, buffer, count);
}
int64_t RuntimeWrite(int handle, const void* buffer, uint32_t count) {
  return _write(handle, buffer, count);
}
const internal::DiskIo kRuntimeIo = {&RuntimeOpen, &RuntimeRead, &RuntimeWrite};
const internal::DiskIo* lowIo = &kRuntimeIo;

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
  handle = lowIo->open(path, flags);
  if (handle == -1) {
    LastError = ErrnoToWin32Error(errno);
    return false;
  }
  isOpen = true;
  size = LowSeek(handle, 0, kSeekEnd);
  position = LowSeek(handle, 0, kSeekSet);
  return true;
}

// Handles are not inherited: the setup program is started with handle inheritance on, and it has
// no use for the stub's handles to its own file (which would keep the package open for as long
// as the setup program and its children run) or to a file being written.
bool DiskStream::OpenRead(const char* path) {
  return Open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

// An existing entry of that name is removed first (deleting a link removes the link, never what
// it points to), and the file is then created exclusively: a link put at the name in between
// makes the create fail instead of writing through it to another file.
bool DiskStream::Create(const char* path) {
  sizeStale = false;
  if (isOpen) {
    LastError = kErrorInvalidHandle;
    return false;
  }
  _unlink(path);  // Nothing there, or something that stays and makes the create fail: both fine.
  return Open(path, _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT);
}

bool DiskStream::SetTimes(uint32_t time) {
  if (!isOpen) {
    LastError = kErrorInvalidHandle;
    return false;
  }
#if defined(_WIN32)
  // The 64-bit variant: the runtime's 32-bit time_t would refuse every time after 2038.
  struct __utimbuf64 times;
  times.actime = static_cast<__time64_t>(time);
  times.modtime = static_cast<__time64_t>(time);
  if (_futime64(handle, &times) != 0) {
#else
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(time);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  if (futimens(handle, times) != 0) {
#endif
    LastError = ErrnoToWin32Error(errno);
    return false;
  }
  return true;
}

bool DiskStream::Read(void* buffer, uint32_t count, uint32_t* done) {
  if (!isOpen) {
    LastError = kErrorInvalidHandle;
    return false;
  }
  int64_t got = lowIo->read(handle, buffer, count);
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
  int64_t put = lowIo->write(handle, buffer, count);
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
  if (!block) {
    LastError = kErrorNotEnoughMemory;
    return nullptr;
  }
  // A read may move fewer bytes than asked for without reaching the end; only a read of none
  // means the end, and a failed one fails the block. Only what no read reached is zeroed: the
  // block is not cleared first and then read over.
  uint32_t filled = 0;
  while (filled < count) {
    uint32_t got = 0;
    if (!Read(block + filled, count - filled, &got)) {
      delete[] block;
      return nullptr;
    }
    if (got == 0) break;
    filled += got;
  }
  std::memset(block + filled, 0, count - filled);
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

namespace internal {

const DiskIo& RuntimeDiskIo() { return kRuntimeIo; }

void SetDiskIoForTesting(const DiskIo* replacement) {
  lowIo = replacement ? replacement : &kRuntimeIo;
}

}  // namespace internal

}  // namespace sfx
