// Looking for a running application by its main window.
#include <windows.h>

#include <string>

#include "platform/win32/com_automation.h"

namespace corvix::win32 {

bool ComAutomation::HasTopLevelWindow(std::wstring_view windowClass) {
  // FindWindow searches the top-level windows of the calling thread's desktop, hidden ones included, and
  // compares class names without regard to case. Given no window name, it reads no window's text, so no
  // window is sent a message and a hung application cannot hold the call (FindWindowW's documentation,
  // docs/sources.md).
  const std::wstring name(windowClass);
  return FindWindowW(name.c_str(), nullptr) != nullptr;
}

}  // namespace corvix::win32
