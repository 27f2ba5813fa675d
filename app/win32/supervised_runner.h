// Each clean-up on a thread of its own, given up when Office stops answering it.
#pragma once

#include "app/frm_main.h"
#include "platform/win32/com_automation.h"

namespace corvix::win32 {

// Runs each clean-up on a new thread, in a single-threaded apartment of its own with the program's message
// filter and a ComAutomation of its own, and waits for it while the calling thread goes on handling its
// messages. When the clean-up's call in flight has had no answer for the stall bound (office/stall_policy.h)
// the clean-up is given up: Run returns, and its thread is left where it is, with every reference it holds
// (releasing one would wait on the same Office). If that call comes back later, the clean-up makes no
// further call.
//
// The member names that one clean-up resolved are known to the next, as with one ComAutomation for the
// whole run.
class SupervisedRunner final : public CleanupRunner {
 public:
  void Run(Cleanup cleanup) override;

  // Whether a clean-up was given up. Its thread may still be waiting inside COM, holding COM's locks: the
  // process must then end without the orderly exit (EndRun).
  bool gaveUp() const { return gaveUp_; }

 private:
  NameCache names_{CORVIX_NAME_CACHE != 0};
  bool gaveUp_ = false;
};

// Where the run ends. After a given-up clean-up the process ends here, at once and with exit code 0
// (TerminateProcess: no other thread runs again and no DLL is told, so none can wait on the thread that
// is stuck in a call). Otherwise it returns, and the program ends the orderly way.
void EndRun(const SupervisedRunner& runner);

}  // namespace corvix::win32
