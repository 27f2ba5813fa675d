// What the class registry says a start by ProgID would run, read without starting it.
#include <windows.h>

#include <objbase.h>

#include <cstring>
#include <string>

#include "office/registered_version.h"
#include "platform/win32/com_automation.h"
#include "platform/win32/unique_handle.h"

namespace corvix::win32 {

namespace {

// This process's own registry view and the other one, for the keys that WOW64 redirects (CLSID among them).
constexpr REGSAM kOwnView = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

// The default value of HKCR\<key> in registry view `view`, a string; empty when there is none.
std::wstring DefaultValueOf(const std::wstring& key, REGSAM view = kOwnView) {
  UniqueKey handle;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE | view, handle.put()) != ERROR_SUCCESS)
    return {};
  std::wstring value(512, L'\0');
  DWORD size = static_cast<DWORD>((value.size() - 1) * sizeof(wchar_t));
  DWORD type = 0;
  const LONG status =
      RegQueryValueExW(handle.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size);
  handle.reset();
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
  value.resize(size / sizeof(wchar_t));
  while (!value.empty() && value.back() == L'\0') value.pop_back();
  return value;
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

}  // namespace

// ProgIDs and their CurVer are shared by both registry views on 64-bit Windows, but a class's key is not: a
// 32-bit Office registers its LocalServer32 in the 32-bit view. COM starts the server registered in the
// client's own view, else the one in the other view, and so the server is looked for in that order (the
// ProgID key's documentation, "Registry Keys Affected by WOW64" and PreferredServerBitness, docs/sources.md).
std::wstring ComAutomation::CurrentVersionOf(std::wstring_view progId) {
  return DefaultValueOf(std::wstring(progId) + L"\\CurVer");
}

ServerVersion ComAutomation::ServerFileVersion(std::wstring_view progId) {
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

}  // namespace corvix::win32
