// The path of the running program's own exe, and the names that Windows reads as it does.
#pragma once

#include <windows.h>

#include <string>

namespace corvix::win32 {

// A name that `read(buffer, size)` writes as GetModuleFileName does: cut to the buffer when it is longer, and
// its length in characters returned (0 for a failure). Read again into a larger buffer until it fits with room
// to spare, up to the longest path Windows has; empty when it cannot be read.
template <class Read>
std::wstring ReadWholeName(Read read) {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = read(name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) return L"";
    if (length + 1 < name.size()) return name.substr(0, length);
    if (name.size() >= 32768) return L"";
    name.resize(name.size() * 2);
  }
}

// GetModuleFileName of the exe, however long; empty when it cannot be read.
inline std::wstring ModulePath() {
  return ReadWholeName([](wchar_t* buffer, DWORD size) { return GetModuleFileNameW(nullptr, buffer, size); });
}

}  // namespace corvix::win32
