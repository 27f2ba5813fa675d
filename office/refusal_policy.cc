// One clean-up's budget for refused calls.
#include "office/refusal_policy.h"

#include <algorithm>

namespace corvix {

RefusalAnswer AnswerRefusal(CallRefusal refusal, std::uint32_t refusedMs, std::uint32_t spentMs) {
  const std::uint32_t left = spentMs >= refusal::kBudgetMs ? 0 : refusal::kBudgetMs - spentMs;
  if (refusedMs >= left) return {std::nullopt, true};
  const auto delay = RetryDelay(refusal, refusedMs);
  if (!delay) return {std::nullopt, false};
  // The last try comes when the budget runs out, not after it (but never sooner than COM can wait).
  return {std::max(std::min(*delay, left - refusedMs), retry::kFirstDelayMs), false};
}

}  // namespace corvix
