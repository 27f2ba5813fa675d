// The run's window-system side on Windows: the command line and the message box.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "app/frm_main.h"
#include "platform/win32/debug_channel.h"

namespace corvix::win32 {

class WinShell final : public Shell {
 public:
  // The process's command line (GetCommandLineW) without the program's path.
  std::wstring CommandLineArguments() override;
  // A message box with only an OK button and no owner, in front of every other window.
  void ShowMessage(std::wstring_view prompt, std::wstring_view title) override;
  // Whether the process's window station is an interactive one.
  bool SomeoneCanAnswer() override;
  // The debugger channel.
  TraceSink* Trace() override { return &channel_; }
  // GetTickCount.
  std::uint32_t NowMs() override;

 private:
  DebugChannel channel_;
};

// Lets the hidden form take the show state that the caller gave the program, when that state would hide
// the first window the program shows, so that the message box does not. Call it before any box is shown.
void TakeStartupShowState(HWND form);

}  // namespace corvix::win32
