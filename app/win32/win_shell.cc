// The command line and the message box on Windows.
#include "app/win32/win_shell.h"

#include <cstdint>
#include <optional>

#include "app/command_line.h"
#include "app/completion_message.h"

namespace corvix::win32 {

static_assert(kStationVisible == WSF_VISIBLE, "the portable code's WSF_VISIBLE");
static_assert(kShowHidden == SW_HIDE, "the portable code's SW_HIDE");

std::wstring WinShell::CommandLineArguments() {
  const wchar_t* commandLine = GetCommandLineW();
  return ArgumentsFromCommandLine(commandLine == nullptr ? L"" : commandLine);
}

void WinShell::ShowMessage(std::wstring_view prompt, std::wstring_view title) {
  const std::wstring text(prompt);
  const std::wstring caption(title);
  // No owner: the box stands on its own (with its own taskbar entry) while the form stays hidden.
  // MB_SETFOREGROUND asks for the foreground (SetForegroundWindow), which Windows grants a process started
  // by the foreground process but refuses, after its foreground lock time-out, to one that has run for a
  // while without input: then the box would open behind the uninstaller's window. MB_TOPMOST keeps it above
  // every window that is not topmost itself, granted the foreground or not. (AllowSetForegroundWindow is no
  // lever of Corvix's: only a process that may set the foreground can grant it, i.e. the caller.)
  MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_SETFOREGROUND | MB_TOPMOST | MB_TASKMODAL);
}

bool WinShell::SomeoneCanAnswer() {
  std::optional<std::uint32_t> flags;
  USEROBJECTFLAGS station{};
  const HWINSTA handle = GetProcessWindowStation();  // not to be closed
  if (handle != nullptr && GetUserObjectInformationW(handle, UOI_FLAGS, &station, sizeof station, nullptr)) {
    flags = station.dwFlags;
  }
  return corvix::SomeoneCanAnswer(flags);
}

void TakeStartupShowState(HWND form) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  std::optional<std::uint16_t> state;
  if ((startup.dwFlags & STARTF_USESHOWWINDOW) != 0) state = startup.wShowWindow;
  // The first ShowWindow of the process takes the caller's state in place of its own; SW_SHOWDEFAULT asks
  // for that state outright. The form takes it (staying hidden), and the box that follows is shown as asked.
  if (FormTakesStartupShowState(state)) ShowWindow(form, SW_SHOWDEFAULT);
}

std::uint32_t WinShell::NowMs() { return GetTickCount(); }

}  // namespace corvix::win32
