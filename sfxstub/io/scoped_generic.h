// ScopedGeneric: the one owner for every kind of handle. A Traits class says what "no handle"
// is, which values hold one, and how one is given back:
//   struct Traits {
//     static T InvalidValue();
//     static bool IsValid(T value);
//     static void Free(T value);
//   };
// win32_handle.h has the traits of the Win32 kinds. An owner can be moved (the source then holds
// nothing), never copied.
#ifndef SFXSTUB_IO_SCOPED_GENERIC_H_
#define SFXSTUB_IO_SCOPED_GENERIC_H_

namespace sfx {

template <typename T, typename Traits>
class ScopedGeneric {
 public:
  ScopedGeneric() : value_(Traits::InvalidValue()) {}
  explicit ScopedGeneric(T value) : value_(value) {}
  ~ScopedGeneric() { Reset(); }
  ScopedGeneric(const ScopedGeneric&) = delete;
  ScopedGeneric& operator=(const ScopedGeneric&) = delete;
  ScopedGeneric(ScopedGeneric&& other) noexcept : value_(other.Release()) {}
  // Frees what this one holds and takes what `other` holds.
  ScopedGeneric& operator=(ScopedGeneric&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  T Get() const { return value_; }
  bool Valid() const { return Traits::IsValid(value_); }
  // Frees what is held (if anything) and holds `value` instead.
  void Reset(T value = Traits::InvalidValue()) {
    if (Valid()) Traits::Free(value_);
    value_ = value;
  }
  // Hands the value over without freeing it.
  T Release() {
    T value = value_;
    value_ = Traits::InvalidValue();
    return value;
  }
  // For a call that returns the value through an out-parameter: frees what is held and hands
  // out the place of the value.
  T* Receive() {
    Reset();
    return &value_;
  }

 private:
  T value_;
};

}  // namespace sfx

#endif  // SFXSTUB_IO_SCOPED_GENERIC_H_
