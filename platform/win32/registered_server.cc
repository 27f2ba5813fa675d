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

// The default value of HKCR\<key>, a string; empty when there is none.
std::wstring DefaultValueOf(const std::wstring& key) {
  UniqueKey handle;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, handle.put()) != ERROR_SUCCESS) return {};
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

// ProgIDs and their CurVer are shared by both registry views on 64-bit Windows; the class's LocalServer32
// is read in this process's own view, the one its start would use (the ProgID key's documentation,
// docs/sources.md).
std::wstring ComAutomation::CurrentVersionOf(std::wstring_view progId) {
  return DefaultValueOf(std::wstring(progId) + L"\\CurVer");
}

std::optional<std::uint32_t> ComAutomation::ServerFileVersion(std::wstring_view progId) {
  CLSID clsid{};
  if (FAILED(CLSIDFromProgID(std::wstring(progId).c_str(), &clsid))) return std::nullopt;
  wchar_t text[40] = {};
  if (StringFromGUID2(clsid, text, 40) == 0) return std::nullopt;
  const std::wstring command = DefaultValueOf(L"CLSID\\" + std::wstring(text) + L"\\LocalServer32");
  const std::wstring program = ServerProgramOf(command);
  if (program.empty()) return std::nullopt;
  return MajorFileVersion(program);
}

}  // namespace corvix::win32
