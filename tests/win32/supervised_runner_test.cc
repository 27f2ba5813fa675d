// The runner of the program's clean-ups, with clean-ups of the test's own: one that throws std::bad_alloc
// ends as a failed step, on its own thread, and the next one still runs. Run under Wine by CTest.
//
// Prints each failed check and exits with the number of failures (tests/win32/check.h).
#include <windows.h>

#include <new>
#include <string>
#include <vector>

#include "app/win32/supervised_runner.h"
#include "base/lock.h"
#include "office/cleanup_events.h"
#include "office/trace.h"
#include "tests/win32/check.h"

namespace {

using corvix::CleanupEvents;
using corvix::CleanupTrace;
using corvix::OfficeAccess;
using corvix::win32::testing::Check;

// The lines the clean-ups' accounts wrote, from whichever thread.
class Lines final : public corvix::TraceSink {
 public:
  void Write(std::wstring_view line) override {
    const corvix::LockGuard guard(lock_);
    lines_.emplace_back(line);
  }
  bool Has(std::wstring_view text) {
    const corvix::LockGuard guard(lock_);
    for (const auto& line : lines_) {
      if (line.find(text) != std::wstring::npos) return true;
    }
    return false;
  }

 private:
  corvix::Lock lock_;
  std::vector<std::wstring> lines_;
};

// The threads the clean-ups ran on (0: not run).
DWORD g_throwingThread = 0;
DWORD g_nextThread = 0;

void Throwing(OfficeAccess, CleanupEvents& events) {
  g_throwingThread = GetCurrentThreadId();
  events.Report(corvix::event::Attached{});
  throw std::bad_alloc();
}

void Next(OfficeAccess office, CleanupEvents& events) {
  g_nextThread = GetCurrentThreadId();
  // A question through what the clean-up was handed, which must be live after the one before threw.
  if (!office.installation.HasTopLevelWindow(L"CorvixNoSuchWindowClass")) events.Report(corvix::event::Started{});
}

void AThrowingCleanUpEndsAsAFailedStepAndTheNextStillRuns() {
  Lines lines;
  CleanupTrace word(L"Word", &lines);
  CleanupTrace outlook(L"Outlook", &lines);
  corvix::win32::SupervisedRunner runner;
  runner.Run(Throwing, word);
  Check(g_throwingThread != 0, "the throwing clean-up ran");
  Check(g_throwingThread != GetCurrentThreadId(), "on a thread of its own");
  Check(lines.Has(L"Word: attached to the running instance"), "its account got its event");
  Check(lines.Has(L"Word: ended by an exception"), "its account says it ended by an exception");
  runner.Run(Next, outlook);
  Check(g_nextThread != 0 && g_nextThread != GetCurrentThreadId(), "the next clean-up ran, on its own thread");
  Check(lines.Has(L"Outlook: not running; started"), "and to its end");
  Check(!lines.Has(L"Outlook: ended by an exception"), "without an exception of its own");
  Check(!runner.gaveUp() && !word.givenUp() && !outlook.givenUp(), "an exception is no give-up");
}

}  // namespace

int main() {
  AThrowingCleanUpEndsAsAFailedStepAndTheNextStillRuns();
  return corvix::win32::testing::Finish();
}
