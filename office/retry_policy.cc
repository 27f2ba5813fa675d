// The back-off for refused calls.
#include "office/retry_policy.h"

#include <algorithm>

namespace corvix {

std::optional<std::uint32_t> RetryDelay(CallRefusal refusal, std::uint32_t elapsedMs) {
  const std::uint32_t limit = refusal == CallRefusal::kRetryLater ? retry::kRetryLaterLimitMs : retry::kRejectedLimitMs;
  if (elapsedMs >= limit) return std::nullopt;
  // Waiting as long as has passed doubles the time between tries.
  std::uint32_t delay = std::clamp(elapsedMs, retry::kFirstDelayMs, retry::kLongestDelayMs);
  // The last try comes at the limit, not after it (but never sooner than COM can wait).
  delay = std::max(std::min(delay, limit - elapsedMs), retry::kFirstDelayMs);
  return delay;
}

}  // namespace corvix
