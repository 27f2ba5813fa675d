// The clean-ups' threads, and giving one up.
#include "app/win32/supervised_runner.h"

#include <windows.h>

#include <memory>

#include "office/stall_policy.h"
#include "platform/win32/com_init.h"
#include "platform/win32/message_filter.h"

namespace corvix::win32 {

namespace {

// What the runner and a clean-up's thread share. The thread keeps it alive after a give-up.
struct Job {
  Job(CleanupRunner::Cleanup work, const NameCache& known) : cleanup(work), names(known) {}
  CleanupRunner::Cleanup cleanup;
  std::shared_ptr<CallWatch> watch = std::make_shared<CallWatch>();
  // In: the names the run knows. Out, once the thread has ended and unless it was given up: those the
  // clean-up resolved as well.
  NameCache names;
};

DWORD WINAPI RunCleanup(void* parameter) {
  const std::unique_ptr<std::shared_ptr<Job>> handoff(static_cast<std::shared_ptr<Job>*>(parameter));
  const std::shared_ptr<Job> job = *handoff;
  // First in, last out: every COM reference below is released (or abandoned) before COM is left.
  ScopedComInit com;
  {
    // A busy Office's refusals are tried again for a while instead of failing at once.
    const ScopedMessageFilter messageFilter;
    ComAutomation automation(job->names, job->watch);
    job->cleanup(automation);
    if (!job->watch->givenUp()) job->names = automation.names();
  }
  // Leaving the apartment would release the proxies that a given-up clean-up abandoned, with the same wait.
  if (job->watch->givenUp()) com.Abandon();
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

}  // namespace

void SupervisedRunner::Run(Cleanup cleanup) {
  const auto job = std::make_shared<Job>(cleanup, names_);
  auto* handoff = new std::shared_ptr<Job>(job);
  const HANDLE thread = CreateThread(nullptr, 0, RunCleanup, handoff, 0, nullptr);
  if (thread == nullptr) {
    // No thread to be had: the clean-up runs here, unwatched, rather than not at all.
    RunCleanup(handoff);
    names_ = job->names;
    return;
  }
  bool quit = false;
  int quitCode = 0;
  bool ended = false;
  while (!ended) {
    const DWORD wait = job->watch->CheckAfterMs(GetTickCount());
    const DWORD woke = MsgWaitForMultipleObjects(1, &thread, FALSE, wait, QS_ALLINPUT);
    if (woke == WAIT_OBJECT_0) {
      ended = true;
    } else if (woke == WAIT_OBJECT_0 + 1) {
      PumpMessages(&quit, &quitCode);
    } else if (woke == WAIT_FAILED && WaitForSingleObject(thread, wait) == WAIT_OBJECT_0) {
      ended = true;
    } else if (job->watch->Stalled(GetTickCount())) {
      job->watch->GiveUp();
      gaveUp_ = true;
      break;
    }
  }
  CloseHandle(thread);
  if (ended) names_ = job->names;
  if (quit) PostQuitMessage(quitCode);
}

void EndRun(const SupervisedRunner& runner) {
  if (runner.gaveUp()) TerminateProcess(GetCurrentProcess(), 0);
}

}  // namespace corvix::win32
