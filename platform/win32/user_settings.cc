// The user's settings and files that decide what a start of an application would meet, and whether a save
// would: the roaming application data folder, whether a file is there or may be written, a value of the user's
// registry, and a file read in place, without starting or writing anything.
#include <windows.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "office/trace.h"
#include "platform/win32/com_automation.h"
#include "platform/win32/unique_handle.h"

namespace corvix::win32 {

namespace {

// The longest value read, in characters: a profile's name, a flag, a folder.
constexpr DWORD kLongestValue = 1024;

// The attributes of what `path` names; none when nothing is there (or it cannot be asked).
std::optional<DWORD> FileAttributes(std::wstring_view path) {
  if (path.empty()) return std::nullopt;
  const DWORD attributes = GetFileAttributesW(std::wstring(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return attributes;
}

// A file held open for reading; every read names its offset, so no file pointer is kept between reads.
class Win32File final : public ReadableFile {
 public:
  Win32File(UniqueHandle file, std::uint64_t size) : file_(std::move(file)), size_(size) {}
  std::uint64_t Size() const override { return size_; }
  bool Read(std::uint64_t offset, void* into, std::size_t count) override {
    auto* bytes = static_cast<BYTE*>(into);
    while (count > 0) {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      DWORD read = 0;
      const DWORD want = count > 0x100000 ? 0x100000 : static_cast<DWORD>(count);
      if (!ReadFile(file_.get(), bytes, want, &read, &at) || read == 0) return false;
      bytes += read;
      offset += read;
      count -= read;
    }
    return true;
  }

 private:
  UniqueHandle file_;
  std::uint64_t size_;
};

// `text` with its environment references (%APPDATA%) expanded; empty when they cannot be.
std::wstring Expanded(const std::wstring& text) {
  const DWORD length = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (length == 0) return {};
  std::wstring expanded(length, L'\0');
  const DWORD written = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), length);
  if (written == 0 || written > length) return {};
  expanded.resize(written - 1);
  return expanded;
}

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
  const std::optional<DWORD> attributes = FileAttributes(path);
  return attributes && (*attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool ComAutomation::IsWritableFile(std::wstring_view path) {
  // The read-only attribute is checked on its own: an administrator (and Wine's root) may open such a file
  // for writing, but Word refuses to save over it.
  const std::optional<DWORD> attributes = FileAttributes(path);
  if (!attributes || (*attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) return false;
  // Opening for writing checks the file's access rights and any other program's lock on it (one that holds it
  // open without sharing it with writers). OPEN_EXISTING changes nothing in the file, not even its times.
  const UniqueHandle file(CreateFileW(std::wstring(path).c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  return static_cast<bool>(file);
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
  if (type == REG_SZ) return {UserRegistryValue::State::kRead, value};
  const std::wstring expanded = Expanded(value);
  if (expanded.empty() && !value.empty()) return {UserRegistryValue::State::kUnreadable, {}};
  return {UserRegistryValue::State::kRead, expanded};
}

std::unique_ptr<ReadableFile> ComAutomation::OpenForReading(std::wstring_view path, Outcome& outcome) {
  const std::wstring name(path);
  // Shared with every other opener: Word may hold its Normal template open, and nothing here writes.
  UniqueHandle file(CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.get(), &size)) {
    outcome = {static_cast<std::int32_t>(HRESULT_FROM_WIN32(GetLastError())), {}};
    return nullptr;
  }
  outcome = {};
  return std::make_unique<Win32File>(std::move(file), static_cast<std::uint64_t>(size.QuadPart));
}

}  // namespace corvix::win32
