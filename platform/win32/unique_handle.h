// Owners of the Win32 resources that Corvix holds: kernel handles (a process, a token, an event, a mutex, a
// file mapping, a snapshot) and memory the system hands out to be freed with LocalFree.
#pragma once

#include <windows.h>
// after windows.h, which it needs
#include <sddl.h>

#include <memory>
#include <string>

namespace corvix::win32 {

class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  HANDLE get() const { return handle_; }
  HANDLE* put() {
    reset();
    return &handle_;
  }
  HANDLE release() {
    const HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  void reset(HANDLE handle = nullptr) {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = handle;
  }
  explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_ = nullptr;
};

// Memory that a Windows function allocated for the caller (a security descriptor, a SID's text).
struct LocalFreeDeleter {
  void operator()(void* memory) const { LocalFree(memory); }
};
using LocalMemory = std::unique_ptr<void, LocalFreeDeleter>;

// A SID as text ("S-1-5-21-..."); empty when it cannot be converted.
inline std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidW(sid, &text)) return {};
  const LocalMemory held(text);
  return text;
}

}  // namespace corvix::win32
