// The user's files and registry values, read for what a start of Word would load.
#include <windows.h>

#include <string>

#include "platform/win32/com_automation.h"
#include "platform/win32/unique_handle.h"

namespace corvix::win32 {

namespace {

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

std::optional<std::wstring> ComAutomation::UserRegistryString(std::wstring_view key, std::wstring_view name) {
  UniqueKey handle;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, std::wstring(key).c_str(), 0, KEY_QUERY_VALUE, handle.put()) != ERROR_SUCCESS)
    return std::nullopt;
  const std::wstring valueName(name);
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(handle.get(), valueName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ) || size > 0x10000)
    return std::nullopt;
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>((value.size() - 1) * sizeof(wchar_t));
  if (RegQueryValueExW(handle.get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  value.resize(size / sizeof(wchar_t));
  while (!value.empty() && value.back() == L'\0') value.pop_back();
  return type == REG_EXPAND_SZ ? Expanded(value) : value;
}

std::wstring ComAutomation::RoamingAppDataFolder() {
  // An unset variable is left as it is by the expansion.
  std::wstring folder = Expanded(L"%APPDATA%");
  return folder == L"%APPDATA%" ? std::wstring() : folder;
}

}  // namespace corvix::win32
