// Each clean-up on a thread of its own, given up when Office stops answering it.
#pragma once

#include "app/frm_main.h"
#include "platform/win32/com_automation.h"
#include "platform/win32/give_up.h"
#include "platform/win32/installation.h"

namespace corvix::win32 {

// Runs each clean-up on a new thread, in a single-threaded apartment of its own with the program's message
// filter and a ComAutomation of its own, and waits for it while the calling thread goes on handling its
// messages. A clean-up whose Office stops answering, or refuses its calls for too long, is given up
// (docs/robustness.md): Run returns, and its thread and every reference it holds are left as they are.
//
// The member names that one clean-up resolved are known to the next, as with one ComAutomation for the
// whole run; every clean-up asks the same installation.
class SupervisedRunner final : public CleanupRunner {
 public:
  void Run(Cleanup cleanup, CleanupTrace& trace) override;

  // Whether a clean-up was given up. Its thread may still be waiting inside COM, holding COM's locks: the
  // process must then end without the orderly exit (EndRun, app/win32/win_main.cc).
  bool gaveUp() const { return gaveUp_; }

 private:
  void Supervise(Cleanup cleanup, CleanupTrace& trace);

  NameCache names_{CORVIX_NAME_CACHE != 0};
  Win32Installation installation_;
  bool gaveUp_ = false;
};

}  // namespace corvix::win32
