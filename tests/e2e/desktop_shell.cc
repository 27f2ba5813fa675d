// A stand-in for the desktop shell, for the end-to-end tests of where Corvix runs its clean-up.
//
//   desktop_shell.exe [--deny-create-process]
//
// Registers a window of its own as the desktop's shell window (user32's SetShellWindow), which is what
// GetShellWindow() then returns to every process of the desktop, and waits until that window is closed
// (WM_CLOSE): it then destroys the window, which takes it off as the shell window, and ends with 0.
// e2e_driver starts it with the limited token of an administrator (the token an unelevated Explorer has).
// --deny-create-process: its process refuses to be the parent of a new process (no PROCESS_CREATE_PROCESS
// access for anyone), so that a launch made in its context fails.
// Exit codes: 0 after its window was closed, 3 when the window could not be registered as the shell window,
// 4 when the process's access could not be restricted.
#include <windows.h>
// after windows.h, which they need
#include <aclapi.h>

#include <string>

namespace {

LRESULT CALLBACK ShellProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

// Everyone may do anything with this process but use it as the parent of a new one.
bool DenyCreateProcess() {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) return false;
  EXPLICIT_ACCESSW entries[2] = {};
  entries[0].grfAccessPermissions = PROCESS_CREATE_PROCESS;
  entries[0].grfAccessMode = DENY_ACCESS;
  entries[1].grfAccessPermissions = PROCESS_ALL_ACCESS & ~PROCESS_CREATE_PROCESS;
  entries[1].grfAccessMode = GRANT_ACCESS;
  for (auto& entry : entries) {
    entry.grfInheritance = NO_INHERITANCE;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    entry.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
  }
  PACL acl = nullptr;
  bool ok = SetEntriesInAclW(2, entries, nullptr, &acl) == ERROR_SUCCESS &&
            SetSecurityInfo(GetCurrentProcess(), SE_KERNEL_OBJECT,
                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, acl,
                            nullptr) == ERROR_SUCCESS;
  if (acl != nullptr) LocalFree(acl);
  FreeSid(everyone);
  return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool deny = argc > 1 && std::wstring(argv[1]) == L"--deny-create-process";
  if (deny && !DenyCreateProcess()) return 4;

  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = ShellProcedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"CorvixTestDesktopShell";
  RegisterClassW(&windowClass);
  const HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Corvix test desktop shell", WS_POPUP, 0, 0, 1, 1,
                                      nullptr, nullptr, windowClass.hInstance, nullptr);
  // Not in every SDK's headers: looked up.
  using SetShellWindowFunction = BOOL(WINAPI*)(HWND);
  const auto setShellWindow = reinterpret_cast<SetShellWindowFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetShellWindow")));
  if (window == nullptr || setShellWindow == nullptr || !setShellWindow(window)) return 3;

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
