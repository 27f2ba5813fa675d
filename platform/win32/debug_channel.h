// The debugger channel: where Corvix tells an installer author what it did.
#pragma once

#include <string_view>

#include "office/trace.h"

namespace corvix::win32 {

// One line to whoever listens for debug output (a debugger, or Sysinternals DebugView with "Capture Win32").
// Nobody listening, the line is dropped at once and nothing else is done. Otherwise it is handed to one
// writer thread, started with the first such line, and Write returns without waiting for it to be written:
// a listener that never takes a line costs the run nothing while it runs (base/channel_policy.h).
class DebugChannel final : public TraceSink {
 public:
  void Write(std::wstring_view line) override;
};

// Whether anyone listens: a debugger attached to this process, or a debug monitor's buffer that this process
// could write to.
bool SomeoneListens();

// At the end of the run: waits for the lines still waiting to be written, for at most channel::kEndWaitMs and
// not at all once the listener was given up. Returns at once when no line was ever handed over.
void FinishDebugChannel();

}  // namespace corvix::win32
