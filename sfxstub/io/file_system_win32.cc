// The Windows file system: the C runtime's low-level calls, and the package opened with
// CreateFileW sharing with readers only (file_system.h says why). Every path is UTF-8 and goes
// to the wide call of its kind (_wopen, _wunlink, CreateFileW, ...), so a name outside the ANSI
// code page is reached as it is; the runtime's own calls keep its errno for every failure.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/utime.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "sfxstub/io/file_system.h"
#include "sfxstub/io/handle_copy_win32.h"
#include "sfxstub/io/join_path.h"
#include "sfxstub/io/own_image_win32.h"
#include "sfxstub/io/temp_folder_win32.h"
#include "sfxstub/io/wide_path_win32.h"
#include "sfxstub/io/win32_handle.h"

namespace sfx {

namespace {

std::atomic<bool> alwaysCopy{false};

// A package holds at most 4 GiB - 1 bytes (its offsets are u32): a server that serves more is
// not copied on, so it cannot fill the disk under TEMP.
constexpr uint64_t kMaxPackageBytes = 0xFFFFFFFFull;
// Attempts at a fresh name for the private copy.
constexpr int kCopyNameAttempts = 100;

// The errno the runtime's _open sets for a Win32 error number (its own table, in short), so a
// failure here reads as one of _open would.
int ErrnoFromWin32(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_NO_MORE_FILES:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return ENOENT;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
      return ENOSPC;
    case ERROR_ACCESS_DENIED:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_LOCK_VIOLATION:
    case ERROR_SHARING_VIOLATION:
      return EACCES;
    default:
      return EINVAL;
  }
}

// Sets errno from `error` and returns -1.
int Fail(DWORD error) {
  errno = ErrnoFromWin32(error);
  return -1;
}

// A runtime file handle over `handle`, which it then owns (closed with it, also on failure).
int WrapHandle(ScopedHandle handle) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle.Get()), _O_RDONLY | _O_BINARY);
  if (fd == -1) return Fail(ERROR_TOO_MANY_OPEN_FILES);
  handle.Release();
  return fd;
}

// A new file under the working folder's base (TEMP, else TMP, else C:\TEMP) that only this
// handle can ever reach: created exclusively, shared with nobody (every other open fails,
// whatever account asks), deleted by the system when closed.
HANDLE CreatePrivateFile(DWORD* error) {
  const std::string folder = TempFolderBase();
  CreateDirectoryW(WidePath(folder).c_str(), nullptr);  // Normally there already.
  static std::atomic<unsigned> counter{0};
  *error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < kCopyNameAttempts; ++attempt) {
    // wsprintfA rather than the runtime's large printf; the format bounds the text (39 characters).
    char name[64];
    wsprintfA(name, "_sfx_pkg~%lx-%lx-%x.tmp", static_cast<unsigned long>(GetCurrentProcessId()),
              static_cast<unsigned long>(GetTickCount()), counter.fetch_add(1));
    const WideString path = WidePath(JoinPath(folder, name));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    *error = GetLastError();
    if (*error != ERROR_FILE_EXISTS && *error != ERROR_ALREADY_EXISTS) break;
  }
  return INVALID_HANDLE_VALUE;
}

}  // namespace

namespace internal {

bool IsRemotePath(const std::string& path) {
  const WideString wide = WidePath(path);
  std::vector<wchar_t> full(MAX_PATH);
  for (;;) {
    const DWORD length = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()),
                                          full.data(), nullptr);
    if (length == 0) return false;  // No such path to open either.
    if (length < full.size()) {
      full.resize(length);
      break;
    }
    full.resize(length + 1);
  }
  WideString text(full.begin(), full.end());
  auto isSeparator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  if (text.size() >= 2 && isSeparator(text[0]) && isSeparator(text[1])) {
    // "\\?\" and "\\.\" name a drive ("\\?\C:\...") or UNC ("\\?\UNC\..."); anything else
    // behind them (a volume GUID, a device) is not known to be local and counts as remote.
    if (text.size() >= 4 && (text[2] == L'?' || text[2] == L'.') && isSeparator(text[3])) {
      text = text.substr(4);
      if (text.size() < 2 || text[1] != L':') return true;
    } else {
      return true;  // \\server\share
    }
  }
  if (text.size() >= 2 && text[1] == L':') {
    const wchar_t root[4] = {text[0], L':', L'\\', L'\0'};
    return GetDriveTypeW(root) == DRIVE_REMOTE;
  }
  return false;
}

void SetAlwaysCopyForTesting(bool always) { alwaysCopy.store(always); }

}  // namespace internal

namespace {

// The package as OpenForReading describes it.
int OpenPackage(const char* path) {
  // Readers only: writers are locked out while this handle lives, and an open writer makes the
  // open fail. No inheritance (null security attributes): the setup program has no use for it.
  // The program's own file through the image that runs (own_image_win32.h says why).
  ScopedHandle file(IsOwnModulePath(path)
                        ? OpenOwnImage(path)
                        : CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return Fail(GetLastError());
  if (!alwaysCopy.load() && !internal::IsRemotePath(path)) return WrapHandle(std::move(file));

  // A server need not honour the sharing: read its bytes once, into a copy only we can reach.
  DWORD error = 0;
  ScopedHandle copy(CreatePrivateFile(&error));
  if (!copy.Valid()) return Fail(error);
  error = CopyHandleContents(file.Get(), copy.Get(), kMaxPackageBytes);
  if (error != 0) return Fail(error);
  return WrapHandle(std::move(copy));
}


class Win32FileSystem : public FileSystem {
 public:
  int OpenForReading(const char* path) override { return OpenPackage(path); }
  int Create(const char* path) override {
    WideString wide;
    if (!ToWide(path, &wide)) return Fail(ERROR_NO_UNICODE_TRANSLATION);  // EINVAL, as a bad name
    return _wopen(wide.c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
  }
  int64_t Read(int file, void* buffer, uint32_t count) override { return _read(file, buffer, count); }
  int64_t Write(int file, const void* buffer, uint32_t count) override {
    return _write(file, buffer, count);
  }
  int64_t Seek(int file, int64_t offset, int origin) override { return _lseeki64(file, offset, origin); }
  int SetTimes(int file, uint32_t time) override {
    // The 64-bit variant: the runtime's 32-bit time_t would refuse every time after 2038.
    struct __utimbuf64 times;
    times.actime = static_cast<__time64_t>(time);
    times.modtime = static_cast<__time64_t>(time);
    return _futime64(file, &times);
  }
  void Close(int file) override { _close(file); }
  int Remove(const char* path) override {
    WideString wide;
    if (!ToWide(path, &wide)) return Fail(ERROR_NO_UNICODE_TRANSLATION);
    return _wunlink(wide.c_str());
  }
  std::string PackageText(const std::string& stored) override { return Utf8FromAnsi(stored); }
};

}  // namespace

FileSystem* FileSystem::Default() {
  static Win32FileSystem fileSystem;
  return &fileSystem;
}

const char kPathSeparator = '\\';

std::string JoinTargetPath(const std::string& folder, const std::string& name) {
  return JoinPath(folder, name);
}

}  // namespace sfx
