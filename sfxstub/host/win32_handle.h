// Small owners for Win32 resources, so every way out of a function releases what it obtained.
#ifndef SFXSTUB_HOST_WIN32_HANDLE_H_
#define SFXSTUB_HOST_WIN32_HANDLE_H_

#include <windows.h>

namespace sfx {

// A kernel handle closed with CloseHandle. Both null and INVALID_HANDLE_VALUE mean "none".
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE handle = nullptr) {
    if (Valid()) CloseHandle(handle_);
    handle_ = handle;
  }
  // Hands the handle over without closing it.
  HANDLE Release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

// A search handle from FindFirstFileA, closed with FindClose.
class ScopedFind {
 public:
  explicit ScopedFind(HANDLE handle) : handle_(handle) {}
  ~ScopedFind() {
    if (Valid()) FindClose(handle_);
  }
  ScopedFind(const ScopedFind&) = delete;
  ScopedFind& operator=(const ScopedFind&) = delete;

  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  // Ends the search early, so the folder it enumerated can be removed.
  void Close() {
    if (Valid()) FindClose(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

// A module from LoadLibraryA, released with FreeLibrary.
class ScopedLibrary {
 public:
  explicit ScopedLibrary(HMODULE module) : module_(module) {}
  ~ScopedLibrary() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  ScopedLibrary(const ScopedLibrary&) = delete;
  ScopedLibrary& operator=(const ScopedLibrary&) = delete;

  HMODULE Get() const { return module_; }

 private:
  HMODULE module_;
};

// Memory the security functions allocate with LocalAlloc (descriptors, access lists).
class ScopedLocal {
 public:
  ScopedLocal() = default;
  ~ScopedLocal() {
    if (memory_ != nullptr) LocalFree(memory_);
  }
  ScopedLocal(const ScopedLocal&) = delete;
  ScopedLocal& operator=(const ScopedLocal&) = delete;

  // For out-parameters of the PSECURITY_DESCRIPTOR / PACL kind.
  template <typename T>
  T** Receive() {
    return reinterpret_cast<T**>(&memory_);
  }
  template <typename T>
  T* As() const {
    return static_cast<T*>(memory_);
  }

 private:
  void* memory_ = nullptr;
};

// A SID from AllocateAndInitializeSid, released with FreeSid.
class ScopedSid {
 public:
  ScopedSid() = default;
  ~ScopedSid() {
    if (sid_ != nullptr) FreeSid(sid_);
  }
  ScopedSid(const ScopedSid&) = delete;
  ScopedSid& operator=(const ScopedSid&) = delete;

  PSID* Receive() { return &sid_; }
  PSID Get() const { return sid_; }

 private:
  PSID sid_ = nullptr;
};

}  // namespace sfx

#endif  // SFXSTUB_HOST_WIN32_HANDLE_H_
