// The debugger channel: where Corvix tells an installer author what it did.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "office/trace.h"

namespace corvix::win32 {

// One line to whoever listens for debug output (a debugger, or Sysinternals DebugView with "Capture Win32"):
// OutputDebugStringW, which writes nothing anywhere and costs next to nothing when nobody listens.
class DebugChannel final : public TraceSink {
 public:
  void Write(std::wstring_view line) override {
    const std::wstring text(line);
    OutputDebugStringW(text.c_str());
  }
};

}  // namespace corvix::win32
