// What the machine and the user's profile say about an application, read without starting or calling it: its
// main window and its process, what the class registry says a start would run, and the user's settings and
// files that a start (or a save) would meet.
#include "platform/win32/installation.h"

#include <windows.h>

#include <objbase.h>
#include <tlhelp32.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "base/ascii.h"
#include "office/registered_version.h"
#include "office/trace.h"
#include "platform/win32/com_automation.h"
#include "platform/win32/unique_handle.h"

namespace corvix::win32 {

namespace {

// This process's own registry view and the other one, for the keys that WOW64 redirects (CLSID among them).
constexpr REGSAM kOwnView = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

// The longest value read, in characters: a profile's name, a flag, a folder, a server's command line.
constexpr DWORD kLongestValue = 1024;

// One registry value as stored: ERROR_SUCCESS or the failure of the key's open or of the value's query, the
// value's type, and its bytes (`bytes` of them in `data`; a string's ending nulls taken off).
struct StoredValue {
  LONG status = ERROR_FILE_NOT_FOUND;
  DWORD type = REG_NONE;
  DWORD bytes = 0;
  std::wstring data;
};

// The value `name` (nullptr: the default value) of `root`\`key` in registry view `view`.
StoredValue ReadStoredValue(HKEY root, const std::wstring& key, const wchar_t* name, REGSAM view) {
  StoredValue value;
  UniqueKey handle;
  value.status = RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, handle.put());
  if (value.status != ERROR_SUCCESS) return value;
  value.data.assign(kLongestValue + 1, L'\0');
  value.bytes = kLongestValue * sizeof(wchar_t);
  value.status = RegQueryValueExW(handle.get(), name, nullptr, &value.type, reinterpret_cast<BYTE*>(value.data.data()),
                                  &value.bytes);
  if (value.status != ERROR_SUCCESS) return value;
  value.data.resize(value.bytes / sizeof(wchar_t));
  if (value.type == REG_SZ || value.type == REG_EXPAND_SZ) {
    while (!value.data.empty() && value.data.back() == L'\0') value.data.pop_back();
  }
  return value;
}

// The default value of HKCR\<key> in registry view `view`, a string; empty when there is none.
std::wstring DefaultValueOf(const std::wstring& key, REGSAM view = kOwnView) {
  StoredValue value = ReadStoredValue(HKEY_CLASSES_ROOT, key, nullptr, view);
  if (value.status != ERROR_SUCCESS || (value.type != REG_SZ && value.type != REG_EXPAND_SZ)) return {};
  return std::move(value.data);
}

// The major file version in a program file's version resource, read as data: the file is neither run nor
// loaded as code. (Not GetFileVersionInfo: VERSION.DLL is not one of the DLLs this program may import.) The
// resource opens with a VS_VERSIONINFO header, its key L"VS_VERSION_INFO" and padding to 32 bits, then a
// VS_FIXEDFILEINFO, whose dwFileVersionMS holds the major version in its high word (VS_VERSIONINFO's
// documentation, docs/sources.md).
std::optional<std::uint32_t> MajorFileVersion(const std::wstring& path) {
  const UniqueLibrary library(
      LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  if (!library) return std::nullopt;
  const HMODULE module = library.get();
  std::optional<std::uint32_t> major;
  if (const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16))) {
    const HGLOBAL loaded = LoadResource(module, found);
    const auto* data = static_cast<const BYTE*>(loaded != nullptr ? LockResource(loaded) : nullptr);
    const DWORD size = SizeofResource(module, found);
    constexpr std::size_t kFixedAt = (6 + sizeof(L"VS_VERSION_INFO") + 3) & ~std::size_t{3};
    VS_FIXEDFILEINFO fixed{};
    if (data != nullptr && size >= kFixedAt + sizeof fixed) {
      std::memcpy(&fixed, data + kFixedAt, sizeof fixed);
      if (fixed.dwSignature == 0xFEEF04BD) major = HIWORD(fixed.dwFileVersionMS);
    }
  }
  return major;
}

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

// Whether the application runs: its main window, or its process in this session.

bool Win32Installation::HasTopLevelWindow(std::wstring_view windowClass) {
  // FindWindow searches the top-level windows of the calling thread's desktop, hidden ones included, and
  // compares class names without regard to case. Given no window name, it reads no window's text, so no
  // window is sent a message and a hung application cannot hold the call (FindWindowW's documentation,
  // docs/sources.md).
  const std::wstring name(windowClass);
  return FindWindowW(name.c_str(), nullptr) != nullptr;
}

bool Win32Installation::HasProcessInSession(std::wstring_view imageName) {
  // A snapshot lists every process of the machine, each by its program file's name (szExeFile), but not
  // their sessions: each one of that name is asked for its session. A process whose session cannot be read
  // (ProcessIdToSessionId needs PROCESS_QUERY_INFORMATION: another user's, a protected one) is not counted;
  // one at a higher integrity level in this session still shows itself by its main window (the functions'
  // documentation: docs/sources.md).
  DWORD ownSession = 0;
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &ownSession)) return false;
  const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  bool found = false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more && !found;
       more = Process32NextW(snapshot.get(), &entry)) {
    DWORD session = 0;
    found = SameIgnoringAsciiCase<wchar_t>(imageName, entry.szExeFile) &&
            ProcessIdToSessionId(entry.th32ProcessID, &session) && session == ownSession;
  }
  return found;
}

// Which version a start would run, as the class registry says.

// ProgIDs and their CurVer are shared by both registry views on 64-bit Windows, but a class's key is not: a
// 32-bit Office registers its LocalServer32 in the 32-bit view. COM starts the server registered in the
// client's own view, else the one in the other view, and so the server is looked for in that order (the
// ProgID key's documentation, "Registry Keys Affected by WOW64" and PreferredServerBitness, docs/sources.md).
std::wstring Win32Installation::CurrentVersionOf(std::wstring_view progId) {
  return DefaultValueOf(std::wstring(progId) + L"\\CurVer");
}

ServerVersion Win32Installation::ServerFileVersion(std::wstring_view progId) {
  CLSID clsid{};
  if (FAILED(ClassFromProgId(progId, &clsid))) return {};
  wchar_t text[40] = {};
  if (StringFromGUID2(clsid, text, 40) == 0) return {};
  const std::wstring key = L"CLSID\\" + std::wstring(text) + L"\\LocalServer32";
  for (const REGSAM view : {kOwnView, kOtherView}) {
    const std::wstring command = DefaultValueOf(key, view);
    if (command.empty()) continue;
    // The first view that names a server is the one a start runs from, readable or not.
    const std::wstring program = ServerProgramOf(command);
    if (program.empty()) return {};
    return {MajorFileVersion(program), view == kOtherView};
  }
  return {};
}

// The user's settings and files.

// The environment's APPDATA: the clean-up runs with the desktop user's environment block (docs/behaviour.md,
// "Where the clean-up runs"), where the shell sets it to the user's roaming folder.
std::wstring Win32Installation::RoamingAppDataFolder() {
  std::wstring folder(MAX_PATH, L'\0');
  const DWORD length = GetEnvironmentVariableW(L"APPDATA", folder.data(), static_cast<DWORD>(folder.size()));
  if (length == 0 || length >= folder.size()) return {};
  folder.resize(length);
  return folder;
}

bool Win32Installation::IsExistingFile(std::wstring_view path) {
  const std::optional<DWORD> attributes = FileAttributes(path);
  return attributes && (*attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool Win32Installation::IsWritableFile(std::wstring_view path) {
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
UserRegistryValue Win32Installation::ReadUserRegistryValue(std::wstring_view key, std::wstring_view name) {
  const std::wstring valueName(name);
  const StoredValue value = ReadStoredValue(HKEY_CURRENT_USER, std::wstring(key), valueName.c_str(), 0);
  if (value.status == ERROR_FILE_NOT_FOUND) return {};
  if (value.status != ERROR_SUCCESS) return {UserRegistryValue::State::kUnreadable, {}};
  if (value.type == REG_DWORD && value.bytes == sizeof(DWORD)) {
    DWORD number = 0;
    std::memcpy(&number, value.data.data(), sizeof number);
    return {UserRegistryValue::State::kRead, Decimal(number)};
  }
  if (value.type == REG_SZ) return {UserRegistryValue::State::kRead, value.data};
  if (value.type != REG_EXPAND_SZ) return {UserRegistryValue::State::kUnreadable, {}};
  const std::wstring expanded = Expanded(value.data);
  if (expanded.empty() && !value.data.empty()) return {UserRegistryValue::State::kUnreadable, {}};
  return {UserRegistryValue::State::kRead, expanded};
}

std::unique_ptr<ReadableFile> Win32Installation::OpenForReading(std::wstring_view path, Outcome& outcome) {
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
