// A stand-in for the desktop shell's window, for the end-to-end tests of where Corvix runs its clean-up.
//
//   desktop_shell.exe [--locked]
//   desktop_shell.exe --automation REPORT
//
// Registers a window of its own as the desktop's shell window (user32's SetShellWindow), which is what
// GetShellWindow() then returns to every process of the desktop, and waits until that window is closed
// (WM_CLOSE): it then destroys the window, which takes it off as the shell window, and ends with 0.
// e2e_driver starts it with the limited token of an administrator (the token an unelevated Explorer has), so
// that Corvix finds itself under a shell of a lower token. (Starting the copy is left to Wine's own
// explorer.exe, which serves the shell's automation.)
// --locked: before it registers its window, the shell gives its own process a DACL that lets only LocalSystem
// in (D:P(A;;GA;;;SY)), so that no other process of its user, elevated or not, can open it: a shell whose
// process Corvix cannot read, as another user's is.
// Exit codes: 0 after its window was closed, 3 when the window could not be registered as the shell window,
// 4 when its process could not be locked.
// --automation asks, once, whether the shell's automation that Corvix reaches for answers: the ShellWindows
// object and its desktop window, as Corvix first asks for them. It writes the result of the first step that
// failed, or of the last one, to REPORT as 0x%08X, and ends with 0 when both succeeded, 1 otherwise.
#include <windows.h>
// after windows.h, which they need
#include <aclapi.h>
#include <exdisp.h>
#include <sddl.h>
#include <shlguid.h>
#include <wrl/client.h>

#include <cstdio>
#include <string_view>

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

HRESULT ShellAutomationAnswers() {
  Microsoft::WRL::ComPtr<IShellWindows> windows;
  HRESULT status = CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&windows));
  if (FAILED(status)) return status;
  VARIANT location{};
  VARIANT root{};
  long window = 0;
  Microsoft::WRL::ComPtr<IDispatch> desktop;
  status = windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, &desktop);
  return status == S_OK && desktop ? S_OK : (FAILED(status) ? status : E_FAIL);
}

int ReportShellAutomation(const wchar_t* reportPath) {
  const HRESULT initialized = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const HRESULT status = SUCCEEDED(initialized) ? ShellAutomationAnswers() : initialized;
  if (SUCCEEDED(initialized)) CoUninitialize();
  FILE* report = _wfopen(reportPath, L"w");
  if (report != nullptr) {
    std::fprintf(report, "0x%08lX\n", static_cast<unsigned long>(status));
    std::fclose(report);
  }
  return status == S_OK ? 0 : 1;
}

// Lets only LocalSystem open this process from now on; true when it does.
bool LockOwnProcess() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;GA;;;SY)", SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    return false;
  }
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  const bool locked = GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present &&
                      SetSecurityInfo(GetCurrentProcess(), SE_KERNEL_OBJECT,
                                      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                      dacl, nullptr) == ERROR_SUCCESS;
  LocalFree(descriptor);
  return locked;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wstring_view(argv[1]) == L"--automation") return ReportShellAutomation(argv[2]);
  if (argc == 2 && std::wstring_view(argv[1]) == L"--locked" && !LockOwnProcess()) return 4;
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
