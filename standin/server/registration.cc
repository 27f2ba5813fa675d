// Registration under HKLM\Software\Classes, as standin/README.md describes it.
#include "standin/server/registration.h"

#include <objbase.h>

#include <cstddef>
#include <cwchar>

#include "platform/win32/system_message.h"

namespace standin::server {

const std::vector<KnownApp>& KnownApps() {
  static const std::vector<KnownApp> apps = {
      // {72CD3EC7-7062-447E-A187-B890C698983F}
      {L"word", L"Word.Application", {0x72CD3EC7, 0x7062, 0x447E, {0xA1, 0x87, 0xB8, 0x90, 0xC6, 0x98, 0x98, 0x3F}}},
      // {763DCE85-9E45-4173-A6AB-D7CAD0ADC4F1}: served once the model has an Outlook.
      {L"outlook",
       L"Outlook.Application",
       {0x763DCE85, 0x9E45, 0x4173, {0xA6, 0xAB, 0xD7, 0xCA, 0xD0, 0xAD, 0xC4, 0xF1}}},
  };
  return apps;
}

const KnownApp* FindKnownApp(std::wstring_view progId) {
  for (const KnownApp& app : KnownApps()) {
    if (progId == app.progId) return &app;
  }
  return nullptr;
}

namespace {

constexpr wchar_t kClasses[] = L"Software\\Classes\\";

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring Win32Error(LONG code) {
  const std::wstring text = corvix::win32::SystemMessage(static_cast<DWORD>(code));
  std::wstring out = L"error " + std::to_wstring(code) + (text.empty() ? L"" : L": " + text);
  while (!out.empty() && (out.back() == L'\n' || out.back() == L'\r')) out.pop_back();
  return out;
}

// This process's own registry view and the other one, for a class's keys (WOW64 redirects them).
constexpr REGSAM kOwnView = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

// Sets the default value of HKLM\Software\Classes\<key>, in registry view `view`.
bool SetDefault(const std::wstring& key, const std::wstring& value, std::wstring* error, REGSAM view = kOwnView) {
  HKEY handle = nullptr;
  LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kClasses + key).c_str(), 0, nullptr, 0, KEY_SET_VALUE | view,
                                nullptr, &handle, nullptr);
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
  }
  if (status != ERROR_SUCCESS) *error = L"cannot write HKLM\\" + (kClasses + key) + L": " + Win32Error(status);
  return status == ERROR_SUCCESS;
}

// The default value of HKLM\Software\Classes\<key>, or empty.
std::wstring DefaultOf(const std::wstring& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kClasses + key).c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) {
    return {};
  }
  wchar_t value[256] = {};
  DWORD size = sizeof value - sizeof(wchar_t);
  DWORD type = 0;
  const LONG status = RegQueryValueExW(handle, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(handle);
  return status == ERROR_SUCCESS && type == REG_SZ ? value : L"";
}

// The class a ProgID names, as COM sees it (HKCR), or empty.
std::wstring ClassOf(const wchar_t* progId) {
  wchar_t value[64] = {};
  LONG size = sizeof value;
  const std::wstring key = std::wstring(progId) + L"\\CLSID";
  if (RegQueryValueW(HKEY_CLASSES_ROOT, key.c_str(), value, &size) != ERROR_SUCCESS) return {};
  return value;
}

// A copy of the stand-in's exe at `copy` whose version resource gives `major` as its major file version: a
// VS_VERSIONINFO of a VS_FIXEDFILEINFO only, as Corvix reads it.
bool StampedCopy(const std::wstring& exe, const std::wstring& copy, std::uint32_t major, std::wstring* error) {
  if (!CopyFileW(exe.c_str(), copy.c_str(), FALSE)) {
    *error = L"cannot copy the server to " + copy + L": " + Win32Error(static_cast<LONG>(GetLastError()));
    return false;
  }
  struct {
    WORD length, valueLength, type;
    wchar_t key[16];
    WORD padding;
    VS_FIXEDFILEINFO fixed;
  } info{};
  static_assert(offsetof(decltype(info), fixed) == 40, "VS_FIXEDFILEINFO follows the key, aligned to 32 bits");
  info.length = sizeof info;
  info.valueLength = sizeof info.fixed;
  wcscpy(info.key, L"VS_VERSION_INFO");
  info.fixed.dwSignature = 0xFEEF04BD;
  info.fixed.dwStrucVersion = 0x00010000;
  info.fixed.dwFileVersionMS = info.fixed.dwProductVersionMS = MAKELONG(0, major);
  info.fixed.dwFileOS = VOS_NT_WINDOWS32;
  info.fixed.dwFileType = VFT_APP;
  const HANDLE update = BeginUpdateResourceW(copy.c_str(), FALSE);
  const bool stamped = update != nullptr &&
                       UpdateResourceW(update, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(VS_VERSION_INFO),
                                       MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), &info, sizeof info) &&
                       EndUpdateResourceW(update, FALSE);
  if (!stamped) {
    if (update != nullptr) EndUpdateResourceW(update, TRUE);
    *error = L"cannot give " + copy + L" a version resource: " + Win32Error(static_cast<LONG>(GetLastError()));
  }
  return stamped;
}

// Removes HKLM\Software\Classes\CLSID\<clsid> from registry view `view`.
LONG DeleteClass(const std::wstring& clsid, REGSAM view) {
  HKEY classes = nullptr;
  LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kClasses + std::wstring(L"CLSID")).c_str(), 0,
                              DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | view, &classes);
  if (status != ERROR_SUCCESS) return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
  status = RegDeleteTreeW(classes, clsid.c_str());
  RegCloseKey(classes);
  return status;
}

}  // namespace

bool Register(const std::vector<Registered>& apps, const std::wstring& exe, const std::wstring& stateDir,
              std::wstring* error) {
  for (const Registered& registered : apps) {
    const KnownApp* app = registered.app;
    const std::wstring current = ClassOf(app->progId);
    if (!current.empty() && _wcsicmp(current.c_str(), GuidText(app->clsid).c_str()) != 0) {
      *error = std::wstring(app->progId) + L" belongs to " + current + L", not to the stand-in: not replacing it";
      return false;
    }
  }
  if (!Unregister(error)) return false;
  for (const auto& [app, version, fileVersion, otherView] : apps) {
    std::wstring server = exe;
    if (fileVersion) {
      server = stateDir + L"\\" + app->name + L"_server.exe";
      if (!StampedCopy(exe, server, *fileVersion, error)) return false;
    }
    // COM appends -Embedding when it starts the server for a client.
    const std::wstring command = L"\"" + server + L"\" --state \"" + stateDir + L"\"";
    const std::wstring clsid = GuidText(app->clsid);
    const std::wstring description = std::wstring(app->progId) + L" (Corvix stand-in)";
    const std::wstring classKey = L"CLSID\\" + clsid;
    const REGSAM view = otherView ? kOtherView : kOwnView;
    if (!SetDefault(app->progId, description, error) ||
        !SetDefault(std::wstring(app->progId) + L"\\CLSID", clsid, error) ||
        !SetDefault(classKey, description, error, view) ||
        !SetDefault(classKey + L"\\ProgID", app->progId, error, view) ||
        !SetDefault(classKey + L"\\LocalServer32", command, error, view)) {
      return false;
    }
    if (version) {
      const std::wstring versioned = std::wstring(app->progId) + L"." + std::to_wstring(*version);
      if (!SetDefault(std::wstring(app->progId) + L"\\CurVer", versioned, error) ||
          !SetDefault(versioned, description, error) || !SetDefault(versioned + L"\\CLSID", clsid, error)) {
        return false;
      }
    }
  }
  return true;
}

bool Unregister(std::wstring* error) {
  for (const KnownApp& app : KnownApps()) {
    const std::wstring clsid = GuidText(app.clsid);
    if (_wcsicmp(ClassOf(app.progId).c_str(), clsid.c_str()) == 0) {
      // The versioned ProgID that CurVer names goes with it, where it names this class too.
      const std::wstring versioned = DefaultOf(std::wstring(app.progId) + L"\\CurVer");
      if (!versioned.empty() && _wcsicmp(ClassOf(versioned.c_str()).c_str(), clsid.c_str()) == 0) {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kClasses + versioned).c_str());
      }
      const LONG status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kClasses + std::wstring(app.progId)).c_str());
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        *error = L"cannot remove " + std::wstring(app.progId) + L": " + Win32Error(status);
        return false;
      }
    }
    for (const REGSAM view : {kOwnView, kOtherView}) {
      const LONG status = DeleteClass(clsid, view);
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        *error = L"cannot remove " + clsid + L": " + Win32Error(status);
        return false;
      }
    }
  }
  return true;
}

}  // namespace standin::server
