// The system's text for an error code.
#pragma once

#include <windows.h>

#include <string>

#include "platform/win32/unique_handle.h"

namespace corvix::win32 {

// What Windows says about `code` (a Win32 error or an HRESULT), in the user's language, as FormatMessage
// gives it (line break at the end included); empty when it has no text for it.
inline std::wstring SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  const UniqueLocal held(text);
  return length == 0 || text == nullptr ? std::wstring() : std::wstring(text, length);
}

}  // namespace corvix::win32
