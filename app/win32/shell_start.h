// Asks the desktop's shell (Explorer) to start a program, as if the user had started it there; every call into
// the shell's automation is bounded (docs/robustness.md).
#pragma once

#include <windows.h>

#include <optional>
#include <string_view>

namespace corvix::win32 {

// Starts `program` with `arguments` in `directory` through the desktop shell's own automation: the shell
// window of the desktop (IShellWindows::FindWindowSW, SWC_DESKTOP), its browser's active view, that view's
// background object and its Application, whose IShellDispatch2::ShellExecute the shell carries out itself.
// The program is then the shell's child, with the shell's token and environment.
// The calls are made on a thread of their own, in a single-threaded apartment of its own; the calling thread
// waits for them at most `boundMs`. S_OK once the shell has taken the request (it starts the program on its
// own, and says nothing of the outcome); the failure of the step that failed; none when the shell gave no
// answer within the bound. That thread is then given up: left as it is, with every reference it holds, and
// it never hands the shell the request once it was given up.
std::optional<HRESULT> StartThroughDesktopShell(std::wstring_view program, std::wstring_view arguments,
                                                std::wstring_view directory, DWORD boundMs);

// Whether a call into the shell's automation was given up. Its thread may still be waiting inside COM: the
// process must then end without the orderly exit (EndRun, app/win32/win_main.cc).
bool ShellCallAbandoned();

}  // namespace corvix::win32
