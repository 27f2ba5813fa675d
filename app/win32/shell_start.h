// Asks the desktop's shell (Explorer) to start a program, as if the user had started it there.
#pragma once

#include <windows.h>

#include <string_view>

namespace corvix::win32 {

// Starts `program` with `arguments` in `directory` through the desktop shell's own automation: the shell
// window of the desktop (IShellWindows::FindWindowSW, SWC_DESKTOP), its browser's active view, that view's
// background object and its Application, whose IShellDispatch2::ShellExecute the shell carries out itself.
// The program is then the shell's child, with the shell's token and environment. S_OK once the shell has
// taken the request (it starts the program on its own, and says nothing of the outcome); otherwise the
// failure of the step that failed. Joins and leaves a single-threaded apartment on the calling thread.
HRESULT StartThroughDesktopShell(std::wstring_view program, std::wstring_view arguments, std::wstring_view directory);

}  // namespace corvix::win32
