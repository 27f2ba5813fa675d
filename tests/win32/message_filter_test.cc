// RetryMessageFilter itself, as COM sees it: what RetryRejectedCall answers for each refusal, and the give-up
// when a clean-up's refusals spend its budget. Run under Wine by CTest; Wine never asks a client's filter
// (it runs a refused call anyway), so only this test reaches RetryRejectedCall there.
//
// Prints each failed check and exits with the number of failures.
#include <windows.h>

#include <cstdio>

#include "office/refusal_policy.h"
#include "office/retry_policy.h"
#include "office/stall_policy.h"
#include "platform/win32/message_filter.h"

namespace {

int g_failures = 0;

void Check(bool ok, const char* what, unsigned long actual) {
  if (ok) return;
  ++g_failures;
  std::printf("FAILED: %s (got 0x%lX)\n", what, actual);
}

constexpr DWORD kCancel = 0xFFFFFFFF;  // RetryRejectedCall's "cancel the call"

using corvix::CallWatch;
using corvix::win32::RetryMessageFilter;

void ABusyRefusalIsRetriedWithTheBackOffThenCancelled() {
  RetryMessageFilter filter;
  const DWORD first = filter.RetryRejectedCall(nullptr, 0, SERVERCALL_RETRYLATER);
  Check(first == 100, "first retry after 100 ms", first);
  const DWORD later = filter.RetryRejectedCall(nullptr, 700, SERVERCALL_RETRYLATER);
  Check(later == *corvix::RetryDelay(corvix::CallRefusal::kRetryLater, 700), "retry later as the policy says", later);
  const DWORD last = filter.RetryRejectedCall(nullptr, corvix::retry::kRetryLaterLimitMs, SERVERCALL_RETRYLATER);
  Check(last == kCancel, "busy refusal cancelled at the limit", last);
  Check(filter.retries_asked() == 3, "every question counted", filter.retries_asked());
}

void ARejectionIsCancelledSooner() {
  RetryMessageFilter filter;
  const DWORD early = filter.RetryRejectedCall(nullptr, 1000, SERVERCALL_REJECTED);
  Check(early != kCancel && early >= 100, "rejection retried within its limit", early);
  const DWORD cancelled = filter.RetryRejectedCall(nullptr, corvix::retry::kRejectedLimitMs, SERVERCALL_REJECTED);
  Check(cancelled == kCancel, "rejection cancelled at its limit", cancelled);
  // The busy limit is longer: the kind of refusal is told apart.
  const DWORD busy = filter.RetryRejectedCall(nullptr, corvix::retry::kRejectedLimitMs, SERVERCALL_RETRYLATER);
  Check(busy != kCancel, "busy refusal still retried there", busy);
}

void ACleanUpsRefusalsSpendItsBudgetAndGiveItUp() {
  CallWatch watch;
  RetryMessageFilter filter(&watch);
  // A first call refused for 20 s, then answered.
  Check(watch.Begin(1000), "first call admitted", 0);
  DWORD elapsed = 0;
  while (elapsed < 20000) {
    const DWORD wait = filter.RetryRejectedCall(nullptr, elapsed, SERVERCALL_RETRYLATER);
    Check(wait != kCancel && wait >= 100 && wait <= 1000, "retried within the budget", wait);
    if (wait == kCancel) return;
    elapsed += wait;
  }
  watch.End();
  Check(!watch.givenUp(), "a busy spell that passed is no give-up", 0);
  // The second call gets what is left, then is cancelled and the clean-up given up.
  Check(watch.Begin(30000), "second call admitted", 0);
  const DWORD spent = filter.RetryRejectedCall(nullptr, corvix::refusal::kBudgetMs - elapsed, SERVERCALL_RETRYLATER);
  Check(spent == kCancel, "cancelled when the budget is spent", spent);
  Check(watch.givenUp(), "the clean-up is given up", 0);
  watch.End();
  Check(!watch.Begin(40000), "no further call is made", 0);
}

void ARejectedCallWithinTheBudgetFailsAloneAndTheCleanUpGoesOn() {
  CallWatch watch;
  RetryMessageFilter filter(&watch);
  Check(watch.Begin(0), "call admitted", 0);
  const DWORD cancelled = filter.RetryRejectedCall(nullptr, corvix::retry::kRejectedLimitMs, SERVERCALL_REJECTED);
  Check(cancelled == kCancel, "rejection cancelled", cancelled);
  watch.End();
  Check(!watch.givenUp(), "not given up", 0);
  Check(watch.Begin(5000), "the next call is made", 0);
  watch.End();
}

void IncomingCallsAndPendingMessagesAreLeftToCom() {
  RetryMessageFilter filter;
  const DWORD incoming = filter.HandleInComingCall(CALLTYPE_TOPLEVEL, nullptr, 0, nullptr);
  Check(incoming == SERVERCALL_ISHANDLED, "incoming call handled", incoming);
  const DWORD pending = filter.MessagePending(nullptr, 0, PENDINGTYPE_TOPLEVEL);
  Check(pending == PENDINGMSG_WAITDEFPROCESS, "pending messages as COM's default", pending);
}

}  // namespace

int main() {
  ABusyRefusalIsRetriedWithTheBackOffThenCancelled();
  ARejectionIsCancelledSooner();
  ACleanUpsRefusalsSpendItsBudgetAndGiveItUp();
  ARejectedCallWithinTheBudgetFailsAloneAndTheCleanUpGoesOn();
  IncomingCallsAndPendingMessagesAreLeftToCom();
  std::printf("%s: %d failed\n", g_failures == 0 ? "PASSED" : "FAILED", g_failures);
  return g_failures;
}
