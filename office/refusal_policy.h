// How much of a clean-up an Office that refuses its calls may take.
//
// Portable and pure: the COM message filter (platform/win32/message_filter.h) asks it, through the clean-up's
// CallWatch (office/stall_policy.h), each time Office turns a call away.
//
//   one budget   all the refusals of one clean-up share one budget of kBudgetMs (30 s, the longest that one
//                busy refusal is tried again): the time that its calls have spent being turned away, added
//                up over the whole clean-up.
//   within it    a refused call is tried again as office/retry_policy.h says (a rejection for 3 s, a busy
//                refusal for 30 s), never past what is left of the budget; a call that retry_policy gives up
//                fails, and only its step is skipped.
//   spent        the call whose refusals spend the budget is cancelled and the clean-up is given up as a
//                stalled one is: that call fails, and every later call of the clean-up fails at once.
//
// So an Office that refuses everything (a modal dialog open: a first-run or activation prompt, Outlook's
// profile chooser) costs a clean-up 30 s, not 30 s a call; one that was busy for a while and then answers
// loses nothing. A call can be refused and then go unanswered: the stall bound (60 s from the call's start)
// covers that, so a clean-up takes at most about the stall bound plus the budget, whatever Office does.
#pragma once

#include <cstdint>
#include <optional>

#include "office/retry_policy.h"

namespace corvix {

namespace refusal {
inline constexpr std::uint32_t kBudgetMs = retry::kRetryLaterLimitMs;
}

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

}  // namespace corvix
