// DLLs that Corvix loads itself, and the functions it looks up in them rather than imports.
#pragma once

#include <windows.h>

#include <string>

namespace corvix::win32 {

// `name` in `library`, as a pointer to a function of type Function; null when either is missing. For what a
// Windows that Corvix supports may lack: an import it lacks would keep the program from starting at all.
template <typename Function>
Function Lookup(HMODULE library, const char* name) {
  return library == nullptr ? nullptr
                            : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// The system directory (System32), without a trailing backslash; empty when it cannot be read.
inline std::wstring SystemDirectory() {
  wchar_t system[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(system, length);
}

// A DLL from System32 only, never from the folder Corvix runs from: through the restricted search, or,
// where LOAD_LIBRARY_SEARCH_SYSTEM32 is not understood (Windows 7 without KB2533623), by its full path, with
// its own imports looked for beside it. Null when it cannot be loaded.
inline HMODULE LoadSystemLibrary(const wchar_t* name) {
  if (const HMODULE library = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return library;
  const std::wstring system = SystemDirectory();
  if (system.empty()) return nullptr;
  const std::wstring path = system + L"\\" + name;
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace corvix::win32
