// What the installation reads without starting anything: a process of a given name in this session, a
// ProgID's CurVer, and the file version of a class's local server (here this test's own exe, whose version
// resource says 16.0.4266.1001), in either registry view. Run under Wine by CTest; registers a ProgID of its own and
// removes it.
//
// Prints each failed check and exits with the number of failures.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/win32/com_init.h"
#include "platform/win32/installation.h"
#include "platform/win32/module_path.h"
#include "tests/win32/check.h"

namespace {

using corvix::win32::testing::Check;
using corvix::win32::testing::CheckEqual;

constexpr wchar_t kProgId[] = L"Corvix.ProbeTest";
// {5B0C7E52-1B3A-4C57-9D51-0E6F2A9C4D11}: this test's class, registered only while it runs.
constexpr wchar_t kClass[] = L"{5B0C7E52-1B3A-4C57-9D51-0E6F2A9C4D11}";

// This test's own registry view and the other one.
constexpr REGSAM kOwnView = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

bool SetDefault(const std::wstring& key, const std::wstring& value, REGSAM view = kOwnView) {
  HKEY handle = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + key).c_str(), 0, nullptr, 0, KEY_SET_VALUE | view,
                      nullptr, &handle, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG status = RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(handle);
  return status == ERROR_SUCCESS;
}

// Removes the test's class from registry view `view`.
void UnregisterClass(REGSAM view) {
  HKEY classes = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID", 0,
                    DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | view,
                    &classes) == ERROR_SUCCESS) {
    RegDeleteTreeW(classes, kClass);
    RegCloseKey(classes);
  }
}

void Unregister() {
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(L"Software\\Classes\\") + kProgId).c_str());
  UnregisterClass(kOwnView);
  UnregisterClass(kOtherView);
}

void ProcessesInThisSession() {
  corvix::win32::Win32Installation installation;
  const std::wstring path = corvix::win32::ModulePath();
  std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
  Check(installation.HasProcessInSession(name), "this test's own process is found by its name");
  for (wchar_t& c : name) c = static_cast<wchar_t>(towupper(c));
  Check(installation.HasProcessInSession(name), "the name is compared without regard to case");
  Check(!installation.HasProcessInSession(L"no_such_program.exe"), "a name that no process has is not found");
  Check(!installation.HasProcessInSession(name.substr(0, name.size() - 1)), "a part of the name is not the name");
}

void RegisteredVersions() {
  corvix::win32::Win32Installation installation;
  Unregister();
  Check(installation.CurrentVersionOf(kProgId).empty(), "an unregistered ProgID has no CurVer");
  Check(!installation.ServerFileVersion(kProgId).major, "an unregistered ProgID has no server");

  const std::wstring server = L"\"" + corvix::win32::ModulePath() + L"\" /automation";
  Check(SetDefault(kProgId, L"probe") && SetDefault(std::wstring(kProgId) + L"\\CLSID", kClass) &&
            SetDefault(std::wstring(L"CLSID\\") + kClass + L"\\LocalServer32", server),
        "the test's class is registered");
  Check(installation.CurrentVersionOf(kProgId).empty(), "no CurVer: none");
  const auto version = installation.ServerFileVersion(kProgId).major;
  CheckEqual(version, 16u, "the major file version of the local server");
  Check(!installation.ServerFileVersion(kProgId).otherView, "found in the own view");
  if (version != 16u) std::printf("  read: %d\n", version ? static_cast<int>(*version) : -1);

  Check(SetDefault(std::wstring(kProgId) + L"\\CurVer", L"Corvix.ProbeTest.12"), "CurVer is registered");
  CheckEqual(installation.CurrentVersionOf(kProgId), L"Corvix.ProbeTest.12", "CurVer's default value");

  // A server whose program has no version resource (Wine's own, or a missing file) gives none.
  Check(SetDefault(std::wstring(L"CLSID\\") + kClass + L"\\LocalServer32", L"C:\\no\\such\\program.exe /automation"),
        "the server is changed");
  Check(!installation.ServerFileVersion(kProgId).major, "a server program that is not there has no version");
  // COM starts the server of its own view when there is one, readable or not: the other view's is not read.
  Check(SetDefault(std::wstring(L"CLSID\\") + kClass + L"\\LocalServer32", server, kOtherView),
        "a server is registered in the other view too");
  Check(!installation.ServerFileVersion(kProgId).major, "the own view's server decides");
  Unregister();
}

// A class registered in the other registry view only (a 32-bit Office seen from the 64-bit Corvix, or the
// reverse): its server is found there, as COM finds it.
void RegisteredInTheOtherView() {
  corvix::win32::Win32Installation installation;
  Unregister();
  const std::wstring server = L"\"" + corvix::win32::ModulePath() + L"\" /automation";
  Check(SetDefault(kProgId, L"probe") && SetDefault(std::wstring(kProgId) + L"\\CLSID", kClass) &&
            SetDefault(std::wstring(kProgId) + L"\\CurVer", L"Corvix.ProbeTest.12") &&
            SetDefault(std::wstring(L"CLSID\\") + kClass + L"\\LocalServer32", server, kOtherView),
        "the test's class is registered in the other view");
  HKEY own = nullptr;
  const bool ownHasIt =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(L"Software\\Classes\\CLSID\\") + kClass).c_str(), 0,
                    KEY_QUERY_VALUE | kOwnView, &own) == ERROR_SUCCESS;
  if (own != nullptr) RegCloseKey(own);
  Check(!ownHasIt, "the own view has no such class");
  const corvix::ServerVersion version = installation.ServerFileVersion(kProgId);
  CheckEqual(version.major, 16u, "the major file version of the server in the other view");
  Check(version.otherView, "found in the other view");
  Check(SetDefault(std::wstring(L"CLSID\\") + kClass + L"\\LocalServer32", server), "and in the own view too");
  Check(!installation.ServerFileVersion(kProgId).otherView, "the own view's server comes first");
  Unregister();
}

}  // namespace

int main() {
  const corvix::win32::ScopedComInit com;
  ProcessesInThisSession();
  RegisteredVersions();
  RegisteredInTheOtherView();
  return corvix::win32::testing::Finish();
}
