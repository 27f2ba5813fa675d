// The run's window-system side on Windows: the command line and the message box.
#pragma once

#include <string>
#include <string_view>

#include "app/frm_main.h"

namespace corvix::win32 {

class WinShell final : public Shell {
 public:
  // The process's command line (GetCommandLineW) without the program's path.
  std::wstring CommandLineArguments() override;
  // A message box with only an OK button and no owner, brought to the foreground.
  void ShowMessage(std::wstring_view prompt, std::wstring_view title) override;
};

}  // namespace corvix::win32
