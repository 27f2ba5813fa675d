// Prints what an executable's resources say, for the end-to-end tests: its version information, its icon
// images, its manifest and its form's template.
//
//   inspect_exe.exe <exe> <report file>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "standin/server/utf8.h"

namespace {

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width;
  BYTE height;
  BYTE colorCount;
  BYTE reserved;
  WORD planes;
  WORD bitCount;
  DWORD bytes;
  WORD id;
};
struct GroupIconHeader {
  WORD reserved;
  WORD type;
  WORD count;
};
#pragma pack(pop)

std::wstring VersionString(const std::vector<BYTE>& info, const wchar_t* block, const wchar_t* name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\") + block + L"\\" + name;
  if (!VerQueryValueW(info.data(), path.c_str(), &value, &length) || length == 0) return L"(none)";
  return static_cast<const wchar_t*>(value);
}

std::pair<const BYTE*, DWORD> Resource(HMODULE module, const wchar_t* name, const wchar_t* type) {
  HRSRC found = FindResourceW(module, name, type);
  if (!found) return {nullptr, 0};
  HGLOBAL loaded = LoadResource(module, found);
  return {static_cast<const BYTE*>(LockResource(loaded)), SizeofResource(module, found)};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  std::ostringstream report;

  DWORD ignored = 0;
  std::vector<BYTE> info(GetFileVersionInfoSizeW(argv[1], &ignored));
  if (!info.empty() && GetFileVersionInfoW(argv[1], 0, static_cast<DWORD>(info.size()), info.data())) {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length)) {
      report << "file_version=" << HIWORD(fixed->dwFileVersionMS) << "." << LOWORD(fixed->dwFileVersionMS) << "."
             << HIWORD(fixed->dwFileVersionLS) << "." << LOWORD(fixed->dwFileVersionLS) << "\n"
             << "product_version=" << HIWORD(fixed->dwProductVersionMS) << "." << LOWORD(fixed->dwProductVersionMS)
             << "." << HIWORD(fixed->dwProductVersionLS) << "." << LOWORD(fixed->dwProductVersionLS) << "\n";
    }
    struct Translation {
      WORD language;
      WORD codePage;
    }* translations = nullptr;
    if (VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &length) &&
        length >= sizeof(Translation)) {
      wchar_t block[16];
      std::swprintf(block, 16, L"%04X%04X", translations[0].language, translations[0].codePage);
      report << "translation=" << corvix::win32::Utf8(block) << "\n";
      for (const wchar_t* name : {L"FileDescription", L"FileVersion", L"ProductVersion", L"InternalName",
                                  L"OriginalFilename", L"CompanyName", L"ProductName"}) {
        report << "version_" << corvix::win32::Utf8(name) << "="
               << corvix::win32::Utf8(VersionString(info, block, name)) << "\n";
      }
    }
  }

  HMODULE module = LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (module) {
    // The first icon group is the file's icon.
    const wchar_t* firstGroup = nullptr;
    EnumResourceNamesW(
        module, RT_GROUP_ICON,
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) -> BOOL {
          *reinterpret_cast<const wchar_t**>(param) = name;
          return FALSE;
        },
        reinterpret_cast<LONG_PTR>(&firstGroup));
    if (auto [data, size] = Resource(module, firstGroup, RT_GROUP_ICON); data && size >= sizeof(GroupIconHeader)) {
      const auto* header = reinterpret_cast<const GroupIconHeader*>(data);
      const auto* entries = reinterpret_cast<const GroupIconEntry*>(data + sizeof(GroupIconHeader));
      for (WORD i = 0; i < header->count; ++i) {
        report << "icon=" << (entries[i].width ? entries[i].width : 256) << "x"
               << (entries[i].height ? entries[i].height : 256) << " colors " << int(entries[i].colorCount) << " bits "
               << entries[i].bitCount << "\n";
      }
      report << "icon_group_id=" << (IS_INTRESOURCE(firstGroup) ? reinterpret_cast<ULONG_PTR>(firstGroup) : 0) << "\n";
    }
    if (auto [data, size] = Resource(module, MAKEINTRESOURCEW(1), RT_MANIFEST); data) {
      std::string manifest(reinterpret_cast<const char*>(data), size);
      for (auto& c : manifest) {
        if (c == '\r' || c == '\n') c = ' ';
      }
      report << "manifest=" << manifest << "\n";
    }
    if (auto [data, size] = Resource(module, L"FRMMAIN", RT_DIALOG); data && size > 16) {
      // DLGTEMPLATEEX: dlgVer, signature, helpID, exStyle, style, ...
      const auto* words = reinterpret_cast<const WORD*>(data);
      const DWORD style = words[1] == 0xFFFF ? *reinterpret_cast<const DWORD*>(data + 12)
                                             : reinterpret_cast<const DLGTEMPLATE*>(data)->style;
      report << "form_visible_style=" << ((style & WS_VISIBLE) ? 1 : 0) << "\n";
    }
    FreeLibrary(module);
  }
  std::ofstream(argv[2], std::ios::binary) << report.str();
  return 0;
}
