// Giving a clean-up up: the waiter's check, the apartment, and the end of the process.
#include "platform/win32/give_up.h"

#include "platform/win32/debug_channel.h"

namespace corvix::win32 {

bool GiveUpIfStalled(CallWatch& watch, DWORD nowMs) {
  if (!watch.Stalled(nowMs)) return false;
  watch.GiveUp();
  return true;
}

void LeaveApartment(ScopedComInit& com, const CallWatch& watch) {
  if (watch.givenUp()) com.Abandon();
}

void EndRun(bool anyGivenUp) {
  FinishDebugChannel();
  if (anyGivenUp) TerminateProcess(GetCurrentProcess(), 0);
}

}  // namespace corvix::win32
