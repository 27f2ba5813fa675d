// Registration under HKLM\Software\Classes: Wine 8 does not merge HKCU's classes into HKCR.
#include "standin/server/registration.h"

#include <objbase.h>
#include <oleauto.h>

#include "office/hex.h"
#include "platform/win32/system_message.h"

namespace standin::server {

// {39DA69FD-F32B-4541-B923-E40BC2246448}, as in office.idl.
const GUID kTypeLibrary = {0x39DA69FD, 0xF32B, 0x4541, {0xB9, 0x23, 0xE4, 0x0B, 0xC2, 0x24, 0x64, 0x48}};

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

// Sets a value (the default one when `name` is null) of HKLM\Software\Classes\<key> in the registry view
// `view` (0: the process's own, KEY_WOW64_32KEY or KEY_WOW64_64KEY: that bitness's).
bool SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value, std::wstring* error,
              REGSAM view = 0) {
  HKEY handle = nullptr;
  LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kClasses + key).c_str(), 0, nullptr, 0, KEY_SET_VALUE | view,
                                nullptr, &handle, nullptr);
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
  }
  if (status != ERROR_SUCCESS) *error = L"cannot write HKLM\\" + (kClasses + key) + L": " + Win32Error(status);
  return status == ERROR_SUCCESS;
}

bool SetDefault(const std::wstring& key, const std::wstring& value, std::wstring* error) {
  return SetValue(key, nullptr, value, error);
}

// Removes HKLM\Software\Classes\<key> and everything under it from the registry view `view`; a key that
// is not there is fine.
bool DeleteTree(const std::wstring& key, REGSAM view, std::wstring* error) {
  HKEY classes = nullptr;
  LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, KEY_ALL_ACCESS | view, &classes);
  if (status == ERROR_SUCCESS) {
    status = RegDeleteTreeW(classes, key.c_str());
    RegCloseKey(classes);
  }
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    *error = L"cannot remove HKLM\\" + (kClasses + key) + L": " + Win32Error(status);
    return false;
  }
  return true;
}

// The default value of HKLM\Software\Classes\<key> in the registry view `view`, or empty.
std::wstring DefaultOf(const std::wstring& key, REGSAM view) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kClasses + key).c_str(), 0, KEY_QUERY_VALUE | view, &handle) !=
      ERROR_SUCCESS) {
    return {};
  }
  wchar_t value[256] = {};
  DWORD size = sizeof value - sizeof(wchar_t);
  DWORD type = 0;
  const LONG status = RegQueryValueExW(handle, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(handle);
  return status == ERROR_SUCCESS && type == REG_SZ ? value : L"";
}

constexpr bool kNative64 = sizeof(void*) == 8;
// The registry views of 32- and 64-bit processes, whichever this one is.
constexpr REGSAM kViews[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};

// The interfaces a type library declares that COM marshals through it (the dual and oleautomation ones),
// with their names.
std::vector<std::pair<GUID, std::wstring>> MarshaledInterfaces(ITypeLib* library) {
  std::vector<std::pair<GUID, std::wstring>> out;
  for (UINT i = 0, count = library->GetTypeInfoCount(); i < count; ++i) {
    ITypeInfo* info = nullptr;
    if (FAILED(library->GetTypeInfo(i, &info))) continue;
    TYPEATTR* attributes = nullptr;
    if (SUCCEEDED(info->GetTypeAttr(&attributes))) {
      const bool marshaled = (attributes->typekind == TKIND_DISPATCH || attributes->typekind == TKIND_INTERFACE) &&
                             (attributes->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)) != 0;
      if (marshaled) {
        BSTR name = nullptr;
        library->GetDocumentation(static_cast<INT>(i), &name, nullptr, nullptr, nullptr);
        out.emplace_back(attributes->guid, name ? name : L"");
        SysFreeString(name);
      }
      info->ReleaseTypeAttr(attributes);
    }
    info->Release();
  }
  return out;
}

// Registers the type library for the other bitness's clients, as RegisterTypeLib registers it for this
// process's own: TypeLib\{lib}\1.0\0\win32 (or win64) naming the exe's resource 2, and each marshaled
// interface under Interface in that bitness's registry view, marshaled by the type library marshaler. The
// interfaces and the description are read from this bitness's library (resource 1): a library built for
// the other bitness does not load fully here (under Wine a 32-bit process finds no types in a win64 one).
bool RegisterOtherBitness(const std::wstring& exe, std::wstring* error) {
  const std::wstring path = exe + L"\\2";
  ITypeLib* library = nullptr;
  const HRESULT hr = LoadTypeLibEx(exe.c_str(), REGKIND_NONE, &library);
  if (FAILED(hr)) {
    *error = L"cannot load the type library in " + exe + L": " + corvix::Hex(hr);
    return false;
  }
  const REGSAM view = kNative64 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  const std::wstring lib = GuidText(kTypeLibrary);
  const std::wstring version = L"TypeLib\\" + lib + L"\\1.0";
  const std::wstring folder = exe.substr(0, exe.find_last_of(L'\\'));
  BSTR description = nullptr;
  library->GetDocumentation(-1, nullptr, &description, nullptr, nullptr);
  bool ok = SetValue(version, nullptr, description ? description : L"", error, view) &&
            SetValue(version + L"\\FLAGS", nullptr, L"0", error, view) &&
            SetValue(version + L"\\HELPDIR", nullptr, folder, error, view) &&
            SetValue(version + L"\\0\\" + (kNative64 ? L"win32" : L"win64"), nullptr, path, error, view);
  SysFreeString(description);
  // The type library marshaler (PSOAInterface).
  const std::wstring marshaler = L"{00020424-0000-0000-C000-000000000046}";
  for (const auto& [iid, name] : MarshaledInterfaces(library)) {
    if (!ok) break;
    const std::wstring key = L"Interface\\" + GuidText(iid);
    ok = SetValue(key, nullptr, name, error, view) &&
         SetValue(key + L"\\ProxyStubClsid", nullptr, marshaler, error, view) &&
         SetValue(key + L"\\ProxyStubClsid32", nullptr, marshaler, error, view) &&
         SetValue(key + L"\\TypeLib", nullptr, lib, error, view) &&
         SetValue(key + L"\\TypeLib", L"Version", L"1.0", error, view);
  }
  library->Release();
  return ok;
}

// The class a ProgID names, as COM sees it (HKCR), or empty.
std::wstring ClassOf(const wchar_t* progId) {
  wchar_t value[64] = {};
  LONG size = sizeof value;
  const std::wstring key = std::wstring(progId) + L"\\CLSID";
  if (RegQueryValueW(HKEY_CLASSES_ROOT, key.c_str(), value, &size) != ERROR_SUCCESS) return {};
  return value;
}

}  // namespace

bool Register(const std::vector<Registered>& apps, const std::wstring& exe, const std::wstring& stateDir,
              TypeLibraryFor typeLibrary, std::wstring* error) {
  for (const auto& [app, version] : apps) {
    const std::wstring current = ClassOf(app->progId);
    if (!current.empty() && _wcsicmp(current.c_str(), GuidText(app->clsid).c_str()) != 0) {
      *error = std::wstring(app->progId) + L" belongs to " + current + L", not to the stand-in: not replacing it";
      return false;
    }
  }
  if (!Unregister(exe, error)) return false;
  // COM appends -Embedding when it starts the server for a client.
  const std::wstring command = L"\"" + exe + L"\" --state \"" + stateDir + L"\"";
  for (const auto& [app, version] : apps) {
    const std::wstring clsid = GuidText(app->clsid);
    const std::wstring description = std::wstring(app->progId) + L" (Corvix stand-in)";
    const std::wstring classKey = L"CLSID\\" + clsid;
    if (!SetDefault(app->progId, description, error) ||
        !SetDefault(std::wstring(app->progId) + L"\\CLSID", clsid, error) ||
        !SetDefault(classKey, description, error) || !SetDefault(classKey + L"\\ProgID", app->progId, error) ||
        !SetDefault(classKey + L"\\LocalServer32", command, error)) {
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
  const bool for32 = typeLibrary == TypeLibraryFor::kBoth || typeLibrary == TypeLibraryFor::kWin32;
  const bool for64 = typeLibrary == TypeLibraryFor::kBoth || typeLibrary == TypeLibraryFor::kWin64;
  if (kNative64 ? for64 : for32) {
    ITypeLib* library = nullptr;
    const HRESULT hr = LoadTypeLibEx(exe.c_str(), REGKIND_REGISTER, &library);
    if (FAILED(hr)) {
      *error = L"cannot register the type library in " + exe + L": " + corvix::Hex(hr);
      return false;
    }
    library->Release();
  }
  if (kNative64 ? for32 : for64) return RegisterOtherBitness(exe, error);
  return true;
}

bool Unregister(const std::wstring& exe, std::wstring* error) {
  for (const KnownApp& app : KnownApps()) {
    const std::wstring clsid = GuidText(app.clsid);
    if (_wcsicmp(ClassOf(app.progId).c_str(), clsid.c_str()) == 0) {
      // The versioned ProgID that CurVer names goes with it, where it names this class too.
      const std::wstring versioned = DefaultOf(std::wstring(app.progId) + L"\\CurVer", 0);
      if (!versioned.empty() && _wcsicmp(ClassOf(versioned.c_str()).c_str(), clsid.c_str()) == 0) {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kClasses + versioned).c_str());
      }
      const LONG status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kClasses + std::wstring(app.progId)).c_str());
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        *error = L"cannot remove " + std::wstring(app.progId) + L": " + Win32Error(status);
        return false;
      }
    }
    const LONG status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kClasses + (L"CLSID\\" + clsid)).c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
      *error = L"cannot remove " + clsid + L": " + Win32Error(status);
      return false;
    }
  }
  // The type library, for both bitnesses. Not registered is fine: there is nothing to remove.
  UnRegisterTypeLib(kTypeLibrary, 1, 0, LOCALE_NEUTRAL, kNative64 ? SYS_WIN64 : SYS_WIN32);
  const std::wstring lib = GuidText(kTypeLibrary);
  std::vector<std::pair<GUID, std::wstring>> interfaces;
  ITypeLib* library = nullptr;
  if (SUCCEEDED(LoadTypeLibEx(exe.c_str(), REGKIND_NONE, &library))) {
    interfaces = MarshaledInterfaces(library);
    library->Release();
  }
  for (const REGSAM view : kViews) {
    for (const auto& declared : interfaces) {
      // Only where the interface is still ours: a real Office's registration stays.
      const std::wstring key = L"Interface\\" + GuidText(declared.first);
      const bool ours = _wcsicmp(DefaultOf(key + L"\\TypeLib", view).c_str(), lib.c_str()) == 0;
      if (ours && !DeleteTree(key, view, error)) {
        return false;
      }
    }
    if (!DeleteTree(L"TypeLib\\" + lib, view, error)) return false;
  }
  return true;
}

}  // namespace standin::server
