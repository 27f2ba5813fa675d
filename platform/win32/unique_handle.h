// One owner for the Win32 resources that Corvix holds: kernel handles (a process, a thread, a token, an event,
// a mutex, a file mapping, a snapshot), views of a mapping, loaded libraries, registry keys, and memory the
// system hands out to be freed with LocalFree.
#pragma once

#include <windows.h>
// after windows.h, which it needs
#include <sddl.h>

#include <string>

namespace corvix::win32 {

template <typename T>
constexpr bool NotNull(T value) {
  return value != T{};
}

// Owns one resource of type T and lets go of it with Close, once; move-only, in the manner of WIL's unique_any.
// T{} (null) is "none", and so is any value for which Valid is false (for a handle, INVALID_HANDLE_VALUE too).
template <typename T, void (*Close)(T), bool (*Valid)(T) = NotNull<T>>
class UniqueAny {
 public:
  UniqueAny() = default;
  explicit UniqueAny(T value) : value_(value) {}
  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  ~UniqueAny() { reset(); }

  T get() const { return value_; }
  // For a function that returns the resource through an out-parameter: the one held is let go of first.
  T* put() {
    reset();
    return &value_;
  }
  T release() {
    const T value = value_;
    value_ = T{};
    return value;
  }
  void reset(T value = T{}) {
    if (Valid(value_)) Close(value_);
    value_ = value;
  }
  explicit operator bool() const { return Valid(value_); }

 private:
  T value_ = T{};
};

namespace close {
inline void Handle(HANDLE handle) { CloseHandle(handle); }
inline bool HandleValid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
inline void View(void* view) { UnmapViewOfFile(view); }
inline void Library(HMODULE module) { FreeLibrary(module); }
inline void Key(HKEY key) { RegCloseKey(key); }
inline void Local(HLOCAL memory) { LocalFree(memory); }
}  // namespace close

using UniqueHandle = UniqueAny<HANDLE, close::Handle, close::HandleValid>;
// A view of a file mapping (MapViewOfFile).
using UniqueView = UniqueAny<void*, close::View>;
// A library loaded by this process (LoadLibraryExW), data files included.
using UniqueLibrary = UniqueAny<HMODULE, close::Library>;
using UniqueKey = UniqueAny<HKEY, close::Key>;
// Memory that a Windows function allocated for the caller (a security descriptor, a SID's or a message's text).
using UniqueLocal = UniqueAny<HLOCAL, close::Local>;

// A SID as text ("S-1-5-21-..."); empty when it cannot be converted.
inline std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidW(sid, &text)) return {};
  const UniqueLocal held(text);
  return text;
}

// The security descriptor that `sddl` describes; none when it cannot be made (GetLastError says why).
inline UniqueLocal SecurityDescriptor(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) return {};
  return UniqueLocal(descriptor);
}

}  // namespace corvix::win32
