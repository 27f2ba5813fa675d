// The run's own lines on the debugger channel: its start, where it happens, the copies that run it elsewhere,
// and its summary.
//
// Portable. The run reports typed events, as the clean-ups do (office/cleanup_events.h), and the same set of
// Describe overloads makes their lines; what each line means: docs/diagnostics.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <variant>
#include <vector>

#include "app/copy_source.h"
#include "app/run_context.h"
#include "office/trace.h"

namespace corvix {

namespace event {

// The run's start: the argument text after the program's path, and whether it makes the run silent.
struct RunStarted {
  std::wstring arguments;
  bool silent;
};

// What was found about where this process runs, and where the run goes from there.
struct Placed {
  RunFacts facts;
  Placement placement;
};

// The file a LocalSystem run's copies start from, chosen for `finding`; when `failure` is not 0, the protected
// copy that was needed could not be made (`step` says where) and no copy starts.
struct CopiesStartFrom {
  SourceFinding finding;
  std::int32_t failure = 0;
  std::wstring step = {};
};

// The desktop shell could not be asked to start a copy: the hand-over could not be offered, its automation
// failed with `status`, or it gave no answer within copies::kShellAnswerMs.
struct ShellNotAsked {
  enum class Why { kNoHandover, kFailed, kNoAnswer };
  Why why;
  std::int32_t status = 0;
};

// The desktop shell was asked to start a copy, and the wait for it begins.
struct ShellAsked {};

// What became of the shell's copy: `reportedMs` after it was asked for, it reported in (for a copy that did),
// and its end was seen at `endedMs`.
struct ShellCopy {
  CopyOutcome outcome;
  std::uint32_t reportedMs = 0;
  std::uint32_t endedMs = 0;
};

// The shell's copy never ran: the run goes to `fallback` instead.
struct FellBack {
  Placement fallback;
};

// A LocalSystem run's end: how many copies started and ended within the wait, the sessions whose copy could
// not be started, and those not reached within the wait.
struct SessionsEnded {
  std::size_t started;
  std::size_t ended;
  std::vector<FailedSession> failed;
  std::deque<std::uint32_t> unreached;
};

// The run's summary, `elapsedMs` after it began: each clean-up's figures, in the order they ran.
struct RunDone {
  std::uint32_t elapsedMs;
  std::vector<CleanupFigures> cleanups;
};

// A run that is not silent where nobody could press the message's OK: no message is shown.
struct NoOneToAnswer {};

}  // namespace event

using RunEvent =
    std::variant<event::RunStarted, event::Placed, event::CopiesStartFrom, event::ShellNotAsked, event::ShellAsked,
                 event::ShellCopy, event::FellBack, event::SessionsEnded, event::RunDone, event::NoOneToAnswer>;

// The line that tells `event`, without the prefix. Only the user of a token that is LocalSystem's is named: no
// user's own identifier goes out.
std::wstring Describe(const RunEvent& event);

// Writes "Corvix: <line>" for `event` to `sink`; nothing when there is no sink.
void Report(TraceSink* sink, const RunEvent& event);

}  // namespace corvix
