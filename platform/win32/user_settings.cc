// The user's settings that decide what a start of an application would meet: the roaming application data
// folder, whether a file is there, and a value of the user's registry, read without starting anything.
#include <windows.h>

#include <cstring>
#include <string>

#include "office/trace.h"
#include "platform/win32/com_automation.h"
#include "platform/win32/unique_handle.h"

namespace corvix::win32 {

namespace {

// The longest value read, in characters: a profile's name, a flag, a folder.
constexpr DWORD kLongestValue = 1024;

}  // namespace

// The environment's APPDATA: the clean-up runs with the desktop user's environment block (docs/behaviour.md,
// "Where the clean-up runs"), where the shell sets it to the user's roaming folder.
std::wstring ComAutomation::RoamingAppDataFolder() {
  std::wstring folder(MAX_PATH, L'\0');
  const DWORD length = GetEnvironmentVariableW(L"APPDATA", folder.data(), static_cast<DWORD>(folder.size()));
  if (length == 0 || length >= folder.size()) return {};
  folder.resize(length);
  return folder;
}

bool ComAutomation::IsExistingFile(std::wstring_view path) {
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesW(std::wstring(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// HKEY_CURRENT_USER\Software is one key for 32-bit and 64-bit programs (it is not redirected), so no view is
// named.
UserRegistryValue ComAutomation::ReadUserRegistryValue(std::wstring_view key, std::wstring_view name) {
  UniqueKey handle;
  const LONG opened = RegOpenKeyExW(HKEY_CURRENT_USER, std::wstring(key).c_str(), 0, KEY_QUERY_VALUE, handle.put());
  if (opened == ERROR_FILE_NOT_FOUND) return {};
  if (opened != ERROR_SUCCESS) return {UserRegistryValue::State::kUnreadable, {}};
  std::wstring value(kLongestValue + 1, L'\0');
  DWORD size = kLongestValue * sizeof(wchar_t);
  DWORD type = 0;
  const LONG status = RegQueryValueExW(handle.get(), std::wstring(name).c_str(), nullptr, &type,
                                       reinterpret_cast<BYTE*>(value.data()), &size);
  if (status == ERROR_FILE_NOT_FOUND) return {};
  if (status != ERROR_SUCCESS) return {UserRegistryValue::State::kUnreadable, {}};
  if (type == REG_DWORD && size == sizeof(DWORD)) {
    DWORD number = 0;
    std::memcpy(&number, value.data(), sizeof number);
    return {UserRegistryValue::State::kRead, Decimal(number)};
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return {UserRegistryValue::State::kUnreadable, {}};
  value.resize(size / sizeof(wchar_t));
  while (!value.empty() && value.back() == L'\0') value.pop_back();
  return {UserRegistryValue::State::kRead, value};
}

}  // namespace corvix::win32
