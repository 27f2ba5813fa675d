// When a clean-up stops waiting on Office: the back-off for refused calls, the clean-up's refusal budget, the
// stall bound, and the watch over a clean-up's calls. Portable and pure; the mechanism that acts on these
// decisions is platform/win32/give_up.h. The design: docs/robustness.md.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/lock.h"

namespace corvix {

// How Office turned a call away: busy (SERVERCALL_RETRYLATER), or outright (SERVERCALL_REJECTED).
enum class CallRefusal { kRetryLater, kRejected };

namespace retry {
inline constexpr std::uint32_t kFirstDelayMs = 100;  // COM treats a delay under 100 ms as "at once"
inline constexpr std::uint32_t kLongestDelayMs = 1000;
// How long an outright rejection is tried again before only that call fails.
inline constexpr std::uint32_t kRejectedLimitMs = 3000;
}  // namespace retry

namespace refusal {
// The time that one clean-up's calls may spend being turned away, added up; then it is given up.
inline constexpr std::uint32_t kBudgetMs = 30000;
}  // namespace refusal

namespace stall {
// How long one call may go unanswered before its clean-up is given up.
inline constexpr std::uint32_t kBoundMs = 60000;
}  // namespace stall

namespace giveup {
// The most that one clean-up waits on an Office that refuses or does not answer.
inline constexpr std::uint32_t kCleanupWorstMs = stall::kBoundMs + refusal::kBudgetMs;
}  // namespace giveup

static_assert(retry::kFirstDelayMs <= retry::kLongestDelayMs, "the back-off starts at its shortest wait");
static_assert(retry::kRejectedLimitMs < refusal::kBudgetMs,
              "a rejection within the budget fails only its call; the budget gives the clean-up up");
static_assert(stall::kBoundMs > refusal::kBudgetMs + retry::kLongestDelayMs,
              "a busy Office that comes round within the budget is never taken for a hung one");

// The back-off's wait before a refused call is tried again, in milliseconds, `elapsedMs` after it was first
// made; none once a rejection has had its kRejectedLimitMs. A busy refusal has no limit of its own: the
// budget ends it (AnswerRefusal).
std::optional<std::uint32_t> RetryDelay(CallRefusal refusal, std::uint32_t elapsedMs);

struct RefusalAnswer {
  // The wait before the call is tried again; none to cancel it (it then fails).
  std::optional<std::uint32_t> retryAfterMs;
  // The budget is spent: the clean-up is given up.
  bool giveUp = false;
};

// What to do with a call that Office refused again. `refusedMs`: the time since the call was first made (it
// has been turned away all along); `spentMs`: the time that the clean-up's earlier calls spent being
// turned away.
RefusalAnswer AnswerRefusal(CallRefusal refusal, std::uint32_t refusedMs, std::uint32_t spentMs);

// One clean-up's calls as seen by the thread that watches it. The times are readings of a millisecond clock
// that may wrap around (GetTickCount). Safe to use from the calling thread and the watching thread at once.
class CallWatch {
 public:
  // The calling thread is about to make a call. False when the clean-up was given up: the call must not be
  // made, and fails.
  bool Begin(std::uint32_t nowMs);
  // The call that Begin admitted has been answered (or has failed).
  void End();

  // Office turned the call in flight away again, `refusedMs` after it was first made: the wait before it is
  // tried again, or none to cancel it (AnswerRefusal). Gives the clean-up up when the budget is spent.
  // Called on the calling thread only (COM's message filter, during the call).
  std::optional<std::uint32_t> Refused(CallRefusal refusal, std::uint32_t refusedMs);
  // The time the clean-up's ended calls spent being turned away.
  std::uint32_t refusedMs() const { return refusedSpentMs_.load(); }
  // How many times Office turned the clean-up's calls away, and whether that spent its refusal budget.
  std::uint32_t refusals() const { return refusals_.load(); }
  bool refusedOut() const { return refusedOut_.load(); }

  // What the next call is ("_CommandBars.Item", "GetActiveObject Word.Application"), so that a give-up can
  // say at which call it happened. Set by the calling thread before Begin.
  void Name(std::wstring_view call);
  std::wstring name() const;

  // Whether the call in flight has had no answer for the stall bound. Never while no call is in flight.
  bool Stalled(std::uint32_t nowMs) const;
  // The watcher's check: gives the clean-up up when its call in flight has stalled. True when it did.
  bool GiveUpIfStalled(std::uint32_t nowMs);
  // How long the watcher can wait before asking again: what is left of the bound for the call in flight,
  // or the whole bound while none is (at least 1 ms).
  std::uint32_t CheckAfterMs(std::uint32_t nowMs) const;

  // Gives the clean-up up: every later Begin returns false.
  void GiveUp() { givenUp_.store(true); }
  bool givenUp() const { return givenUp_.load(); }
  // Whether the clean-up's thread may leave its apartment at its end: not once given up, since leaving would
  // release the abandoned references, a call to the same Office.
  bool MayLeaveApartment() const { return !givenUp(); }
  // How many calls were answered (for figures).
  std::uint32_t answered() const { return answered_.load(); }

 private:
  static constexpr std::uint32_t kNone = 0;
  // When the call in flight began (never kNone: a start at 0 is kept as 1 ms later), or kNone.
  std::atomic<std::uint32_t> inFlightSince_{kNone};
  std::atomic<bool> givenUp_{false};
  std::atomic<std::uint32_t> answered_{0};
  std::atomic<std::uint32_t> refusals_{0};
  std::atomic<bool> refusedOut_{false};
  mutable Lock naming_;
  std::wstring name_;
  // Written by the calling thread alone: the refusals of the ended calls (read by the watcher too), and of
  // the call in flight until it ends.
  std::atomic<std::uint32_t> refusedSpentMs_{0};
  std::uint32_t refusedInFlightMs_ = 0;
};

}  // namespace corvix
