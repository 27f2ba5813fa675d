// The command line and the message box on Windows.
#include "app/win32/win_shell.h"

#include <cstdint>

#include "app/command_line.h"

namespace corvix::win32 {

std::wstring WinShell::CommandLineArguments() {
  const wchar_t* commandLine = GetCommandLineW();
  return ArgumentsFromCommandLine(commandLine == nullptr ? L"" : commandLine);
}

void WinShell::ShowMessage(std::wstring_view prompt, std::wstring_view title) {
  const std::wstring text(prompt);
  const std::wstring caption(title);
  // No owner: the box stands on its own while the form stays hidden. MB_TOPMOST keeps it above the
  // uninstaller's window when the foreground is refused (docs/robustness.md#the-message-reaches-the-user).
  MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_SETFOREGROUND | MB_TOPMOST | MB_TASKMODAL);
}

// A message box needs a window station with visible display surfaces: the interactive one (WinSta0) has them;
// a service's, in session 0, has not, and a box shown there waits for an OK that never comes. Flags that
// cannot be read are no sign that no one is there.
bool WinShell::SomeoneCanAnswer() {
  USEROBJECTFLAGS station{};
  const HWINSTA handle = GetProcessWindowStation();  // not to be closed
  if (handle == nullptr || !GetUserObjectInformationW(handle, UOI_FLAGS, &station, sizeof station, nullptr)) {
    return true;
  }
  return (station.dwFlags & WSF_VISIBLE) != 0;
}

void TakeStartupShowState(HWND form) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  // A caller that starts Corvix hidden (Inno Setup's runhidden, a hidden console's ExecWait) hands that state
  // to the first main window the process shows, which would be the message box. The first ShowWindow of the
  // process takes the caller's state in place of its own; SW_SHOWDEFAULT asks for that state outright. The
  // form takes it (staying hidden: it refuses ever to be shown), and the box that follows is shown as asked.
  // Only a hidden state is taken: any other (minimised, say) is left to the box, as the caller asked.
  if ((startup.dwFlags & STARTF_USESHOWWINDOW) != 0 && startup.wShowWindow == SW_HIDE) {
    ShowWindow(form, SW_SHOWDEFAULT);
  }
}

std::uint32_t WinShell::NowMs() { return GetTickCount(); }

}  // namespace corvix::win32
