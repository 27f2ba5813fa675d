// When a clean-up is given up because Office stopped answering it.
//
// Portable: the thread that makes a clean-up's calls reports each one (Begin, End), and the thread that
// watches it asks whether the call in flight has stalled (platform/win32's supervised runner and COM backend).
//
//   progress  a call that is answered, however slowly: attaching, starting, an Invoke, a name look-up, a
//             conversion, a release. Time spent in answered calls never counts against the clean-up, nor
//             does the clean-up's own work between calls.
//   stalled   the call in flight has had no answer for kBoundMs. The clean-up is then given up at that
//             call: it counts as failed, and every later call of that clean-up fails at once without
//             reaching Office (Begin returns false).
//   refused   Office turned the clean-up's calls away for the whole refusal budget (office/refusal_policy.h):
//             the clean-up is given up the same way, at the call that spent it.
//
// The bound is longer than the longest that a busy Office's refusals are retried (office/retry_policy.h:
// 30 s, plus the last wait), so a busy Office that comes round is still waited for, with room left for it
// to answer the call it finally takes.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "office/refusal_policy.h"
#include "office/spin_lock.h"

namespace corvix {

namespace stall {
inline constexpr std::uint32_t kBoundMs = 60000;
}

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
  // tried again, or none to cancel it. Spends the clean-up's refusal budget, and gives the clean-up up
  // when the budget is spent. Called on the calling thread only (COM's message filter, during the call).
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

  // Whether the call in flight has had no answer for the bound. Never while no call is in flight.
  bool Stalled(std::uint32_t nowMs) const;
  // How long the watcher can wait before asking again: what is left of the bound for the call in flight,
  // or the whole bound while none is (at least 1 ms).
  std::uint32_t CheckAfterMs(std::uint32_t nowMs) const;

  // Gives the clean-up up: every later Begin returns false.
  void GiveUp() { givenUp_.store(true); }
  bool givenUp() const { return givenUp_.load(); }
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
  mutable SpinLock naming_;
  std::wstring name_;
  // Written by the calling thread alone: the refusals of the ended calls (read by the watcher too), and of
  // the call in flight until it ends.
  std::atomic<std::uint32_t> refusedSpentMs_{0};
  std::uint32_t refusedInFlightMs_ = 0;
};

}  // namespace corvix
