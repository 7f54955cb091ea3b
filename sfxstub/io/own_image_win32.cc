#include "sfxstub/io/own_image_win32.h"

#include <cstring>
#include <memory>
#include <new>

#include "sfxstub/io/wide_path_win32.h"
#include "sfxstub/io/win32_error.h"
#include "sfxstub/io/win32_handle.h"

namespace sfx {

namespace {

// The longest NT path, and the device prefix a mapped name may carry.
constexpr DWORD kNameLimit = 32768 + 256;

// The name of the file mapped at `image` into `name` (kNameLimit characters): its length, or 0
// when the system does not give it whole.
DWORD MappedName(internal::MappedFileNameFunction getName, HMODULE image, wchar_t* name) {
  const DWORD length = getName(GetCurrentProcess(), image, name, kNameLimit);
  return length < kNameLimit ? length : 0;  // a full buffer may hold a cut name
}

HANDLE OpenForReadersOnly(const wchar_t* path) {
  return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The system's function for the mapped name: kernel32's from Windows 7, psapi's before.
internal::MappedFileNameFunction FindMappedFileName() {
  using Function = internal::MappedFileNameFunction;
  if (auto found = LookUpFunction<Function>(GetModuleHandleW(L"kernel32.dll"),
                                            "K32GetMappedFileNameW")) {
    return found;
  }
  // By its full path: the package's folder (searched first on systems without a safe DLL
  // search) may hold a planted psapi.dll. Never freed: the function stays in use.
  static const wchar_t kPsapi[] = L"\\psapi.dll";
  wchar_t path[MAX_PATH + sizeof kPsapi / sizeof kPsapi[0]];
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::memcpy(path + length, kPsapi, sizeof kPsapi);
  HMODULE library = LoadLibraryW(path);
  return library != nullptr ? LookUpFunction<Function>(library, "GetMappedFileNameW") : nullptr;
}

}  // namespace

bool IsOwnModulePath(const std::string& path) {
  std::unique_ptr<wchar_t[]> own(new (std::nothrow) wchar_t[kNameLimit]);
  WideString wide;
  if (!own || !ToWide(path, &wide)) return false;
  const DWORD length = GetModuleFileNameW(nullptr, own.get(), kNameLimit);
  return length != 0 && length == wide.size() &&
         std::memcmp(own.get(), wide.data(), length * sizeof(wchar_t)) == 0;
}

HANDLE OpenOwnImage(const std::string& path) {
  return internal::OpenImageWith(FindMappedFileName(), GetModuleHandleW(nullptr), path);
}

namespace internal {

void Win32PathOfNtPath(const wchar_t* nt, DWORD length, wchar_t* win32) {
  static const wchar_t kDosDevices[] = L"\\??\\";
  static const wchar_t kGlobalRoot[] = L"\\\\?\\GLOBALROOT";  // 14 characters
  size_t at = 0;
  if (length >= 4 && std::memcmp(nt, kDosDevices, 4 * sizeof(wchar_t)) == 0) {
    std::memcpy(win32, L"\\\\?\\", 4 * sizeof(wchar_t));
    at = 4;
    nt += 4;
    length -= 4;
  } else {
    at = sizeof kGlobalRoot / sizeof kGlobalRoot[0] - 1;
    std::memcpy(win32, kGlobalRoot, at * sizeof(wchar_t));
  }
  std::memcpy(win32 + at, nt, length * sizeof(wchar_t));
  win32[at + length] = L'\0';
}

HANDLE OpenImageWith(MappedFileNameFunction getName, HMODULE image, const std::string& path) {
  // The name, the same again after the open, and the Win32 path made of the first.
  std::unique_ptr<wchar_t[]> names(new (std::nothrow) wchar_t[3 * kNameLimit + kWin32PathRoom]);
  if (!names) {
    SetLastError(kErrorNotEnoughMemory);
    return INVALID_HANDLE_VALUE;
  }
  wchar_t* first = names.get();
  wchar_t* again = first + kNameLimit;
  wchar_t* win32 = again + kNameLimit;
  const DWORD length = getName != nullptr ? MappedName(getName, image, first) : 0;
  if (length == 0) return OpenForReadersOnly(WidePath(path).c_str());  // as before: by its name
  Win32PathOfNtPath(first, length, win32);
  ScopedHandle file(OpenForReadersOnly(win32));
  if (!file.Valid()) return INVALID_HANDLE_VALUE;
  if (MappedName(getName, image, again) != length ||
      std::memcmp(first, again, length * sizeof(wchar_t)) != 0) {
    file.Reset();
    SetLastError(kErrorFileInvalid);
    return INVALID_HANDLE_VALUE;
  }
  return file.Release();
}

}  // namespace internal

}  // namespace sfx
