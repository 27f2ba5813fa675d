// The path of the running program's own exe.
#pragma once

#include <windows.h>

#include <string>

namespace corvix::win32 {

// GetModuleFileName of the exe, however long; empty when it cannot be read.
inline std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return L"";
    if (length < path.size()) return path.substr(0, length);
    if (path.size() >= 32768) return L"";
    path.resize(path.size() * 2);
  }
}

}  // namespace corvix::win32
