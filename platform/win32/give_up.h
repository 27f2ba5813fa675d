// Giving a clean-up up: the whole story, in one place.
//
// Each clean-up runs on a thread of its own, in a COM apartment of its own (app/win32/supervised_runner.h),
// and reports every call it makes to Office to its CallWatch (office/stall_policy.h). Two things give it up:
//
//   stalled  a call has had no answer for the stall bound, 60 s (office/stall_policy.h). The thread that
//            waits for the clean-up notices (GiveUpIfStalled) and stops waiting: the run goes on at once,
//            and the clean-up's thread is left where it is.
//   refused  Office has turned the clean-up's calls away for the whole refusal budget, 30 s added up over
//            the clean-up (office/refusal_policy.h). The message filter that COM asks about each refusal
//            notices (RetryMessageFilter, through CallWatch::Refused) and cancels the call, which fails.
//
// Both mark the CallWatch as given up, and from then on:
//   1. No further call reaches Office. Every call is a WatchedCall, which is not admitted: the call fails with
//      kGivenUp. A stalled call that comes back after all changes nothing.
//   2. Nothing is released (LetGo, and ComAutomation::Attach for a conversion that came back too late): a
//      release is a call to the same Office, and would wait on it. The references are abandoned.
//   3. The thread stays in its apartment (LeaveApartment): leaving would release the abandoned proxies, with
//      the same wait.
//   4. The run goes on with the next clean-up and the message, and then the process ends with
//      TerminateProcess and exit code 0 (EndRun): the orderly exit would tell every DLL, which could then wait
//      on a thread stuck in a call that holds COM's locks. What the clean-up's thread and its waiter share
//      lives as long as the longer-lived of them (the runner's Job).
//
// A clean-up whose Office answers (and does not refuse it for the whole budget) is never given up, and makes
// exactly the calls it would make unwatched.
#pragma once

#include <windows.h>

#include <wrl/client.h>

#include <string_view>

#include "office/stall_policy.h"
#include "platform/win32/com_init.h"

namespace corvix::win32 {

// The failure of a call that is not made because its clean-up was given up (RPC_E_CALL_CANCELED).
inline constexpr HRESULT kGivenUp = static_cast<HRESULT>(0x80010002);

// Whether the clean-up that `watch` watches was given up; never when nothing watches it.
inline bool GivenUp(const CallWatch* watch) { return watch != nullptr && watch->givenUp(); }

// One call to Office as the watch sees it: begun here, answered when the owner goes. Not admitted once the
// clean-up was given up: the call must then not be made. Every call passes through one (none watching: all
// are admitted).
// `name` says what the call is, for a give-up's diagnostics.
class WatchedCall {
 public:
  WatchedCall(CallWatch* watch, std::wstring_view name) : watch_(watch), admitted_(Admit(watch, name)) {}
  ~WatchedCall() {
    if (watch_ != nullptr && admitted_) watch_->End();
  }
  WatchedCall(const WatchedCall&) = delete;
  WatchedCall& operator=(const WatchedCall&) = delete;

  bool admitted() const { return admitted_; }

 private:
  static bool Admit(CallWatch* watch, std::wstring_view name) {
    if (watch == nullptr) return true;
    watch->Name(name);
    return watch->Begin(GetTickCount());
  }

  CallWatch* watch_;
  bool admitted_;
};

// Leaves a reference as it is, unreleased: the process ends without it.
template <class T>
void Abandon(Microsoft::WRL::ComPtr<T>& reference) {
  static_cast<void>(reference.Detach());
}

// Releases a reference as one watched call; abandons it when the clean-up was given up.
template <class T>
void LetGo(Microsoft::WRL::ComPtr<T>& reference, CallWatch* watch) {
  if (!reference) return;
  const WatchedCall release(watch, L"Release");
  if (!release.admitted()) {
    Abandon(reference);
    return;
  }
  reference.Reset();
}

// The waiting thread's check, `nowMs` being GetTickCount: gives the clean-up up when its call in flight has
// stalled. True when it did.
bool GiveUpIfStalled(CallWatch& watch, DWORD nowMs);

// At the end of a clean-up's thread: the apartment is left, unless the clean-up was given up.
void LeaveApartment(ScopedComInit& com, const CallWatch& watch);

// Where the run ends: the debugger channel's last lines are written (for a bounded time, FinishDebugChannel);
// then, after a given-up clean-up, the process ends here with exit code 0. Otherwise it returns, and the
// program ends the orderly way.
void EndRun(bool anyGivenUp);

}  // namespace corvix::win32
