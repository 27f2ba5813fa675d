// A stand-in for the desktop shell's window, for the end-to-end tests of where Corvix runs its clean-up.
//
//   desktop_shell.exe
//
// Registers a window of its own as the desktop's shell window (user32's SetShellWindow), which is what
// GetShellWindow() then returns to every process of the desktop, and waits until that window is closed
// (WM_CLOSE): it then destroys the window, which takes it off as the shell window, and ends with 0.
// e2e_driver starts it with the limited token of an administrator (the token an unelevated Explorer has), so
// that Corvix finds itself under a shell of a lower token. (Starting the copy is left to Wine's own
// explorer.exe, which serves the shell's automation.)
// Exit codes: 0 after its window was closed, 3 when the window could not be registered as the shell window.
#include <windows.h>

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

}  // namespace

int wmain() {
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
