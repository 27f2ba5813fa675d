// The clean-ups' threads, and giving one up.
#include "app/win32/supervised_runner.h"

#include <windows.h>

#include <memory>

#include "office/give_up_policy.h"
#include "platform/win32/com_init.h"
#include "platform/win32/give_up.h"
#include "platform/win32/unique_handle.h"

namespace corvix::win32 {

namespace {

// What the runner and a clean-up's thread share. The thread keeps it alive after a give-up.
struct Job {
  Job(CleanupRunner::Cleanup work, CleanupTrace& account, Installation& asked, const NameCache& known)
      : cleanup(work), trace(account), installation(asked), names(known) {}
  CleanupRunner::Cleanup cleanup;
  // The clean-up's account and the installation it asks. They belong to the run, which outlives an abandoned
  // thread: a run whose clean-up was given up ends with TerminateProcess.
  CleanupTrace& trace;
  Installation& installation;
  std::shared_ptr<CallWatch> watch = std::make_shared<CallWatch>();
  // In: the names the run knows. Out, once the thread has ended and unless it was given up: those the
  // clean-up resolved as well.
  NameCache names;
};

DWORD WINAPI RunCleanup(void* parameter) {
  const std::unique_ptr<std::shared_ptr<Job>> handoff(static_cast<std::shared_ptr<Job>*>(parameter));
  const std::shared_ptr<Job> job = *handoff;
  // Nothing escapes the thread (std::terminate would show a "Runtime Error" box): what throws here ends the
  // clean-up as a failed step does, and the runner goes on with the run.
  try {
    // First in, last out: every COM reference below is released (or abandoned) before COM is left.
    ScopedComInit com;
    {
      // A busy Office's refusals are tried again for a while, within the clean-up's budget.
      const ScopedMessageFilter messageFilter(*job->watch);
      ComAutomation automation(job->names, job->watch);
      RunToEnd(job->cleanup, {job->installation, automation}, job->trace);
      if (!job->watch->givenUp()) job->names = automation.names();
    }
    LeaveApartment(com, *job->watch);
  } catch (...) {
  }
  return 0;
}

// Handles the calling thread's messages that have arrived. A quit message is put back for the loop it
// belongs to, once the wait is over.
void PumpMessages(bool* quit, int* quitCode) {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      *quit = true;
      *quitCode = static_cast<int>(message.wParam);
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// Tells the clean-up's account what its watch saw: a busy Office's refusals, and a give-up with its reason.
void TellWatch(const CallWatch& watch, CleanupTrace& trace) {
  if (watch.refusals() > 0) trace.Report(event::Refused{watch.refusals(), watch.refusedMs()});
  if (!watch.givenUp()) return;
  if (watch.refusedOut()) {
    trace.Report(event::GivenUp{watch.name(), event::GivenUp::Why::kRefusedOut, refusal::kBudgetMs});
  } else {
    trace.Report(event::GivenUp{watch.name(), event::GivenUp::Why::kNoAnswer, stall::kBoundMs});
  }
}

}  // namespace

void SupervisedRunner::Run(Cleanup cleanup, CleanupTrace& trace) {
  // What throws here (out of memory) costs this clean-up, not the run.
  try {
    Supervise(cleanup, trace);
  } catch (...) {
  }
}

void SupervisedRunner::Supervise(Cleanup cleanup, CleanupTrace& trace) {
  const auto job = std::make_shared<Job>(cleanup, trace, installation_, names_);
  auto* handoff = new std::shared_ptr<Job>(job);
  UniqueHandle owned(CreateThread(nullptr, 0, RunCleanup, handoff, 0, nullptr));
  const HANDLE thread = owned.get();
  bool quit = false;
  int quitCode = 0;
  bool ended = false;
  if (thread == nullptr) {
    // No thread to be had: the clean-up runs here, with no waiter to give it up, rather than not at all.
    RunCleanup(handoff);
    ended = true;
  } else {
    while (!ended) {
      const DWORD wait = job->watch->CheckAfterMs(GetTickCount());
      const DWORD woke = MsgWaitForMultipleObjects(1, &thread, FALSE, wait, QS_ALLINPUT);
      if (woke == WAIT_OBJECT_0) {
        ended = true;
      } else if (woke == WAIT_OBJECT_0 + 1) {
        PumpMessages(&quit, &quitCode);
      } else if (woke == WAIT_FAILED && WaitForSingleObject(thread, wait) == WAIT_OBJECT_0) {
        ended = true;
      } else if (job->watch->GiveUpIfStalled(GetTickCount())) {
        break;
      }
    }
    owned.reset();
  }
  // Given up here (stalled) or on the thread (refused): either way the process must end without the orderly
  // exit.
  gaveUp_ = gaveUp_ || job->watch->givenUp();
  if (ended) names_ = job->names;
  TellWatch(*job->watch, trace);
  if (quit) PostQuitMessage(quitCode);
}

}  // namespace corvix::win32
