// The command line and the message box on Windows.
#include "app/win32/win_shell.h"

#include <windows.h>

#include "app/command_line.h"

namespace corvix::win32 {

std::wstring WinShell::CommandLineArguments() {
  const wchar_t* commandLine = GetCommandLineW();
  return ArgumentsFromCommandLine(commandLine == nullptr ? L"" : commandLine);
}

void WinShell::ShowMessage(std::wstring_view prompt, std::wstring_view title) {
  const std::wstring text(prompt);
  const std::wstring caption(title);
  // No owner: the box stands on its own (with its own taskbar entry) while the form stays hidden.
  MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_SETFOREGROUND | MB_TASKMODAL);
}

}  // namespace corvix::win32
