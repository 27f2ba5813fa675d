// The back-off for calls a busy application refuses.
#include "office/retry_policy.h"

#include <gtest/gtest.h>

#include <vector>

namespace corvix {
namespace {

// Plays the policy out as COM would: each try is refused, the next comes after the delay the policy gave.
// Returns the delays, in order, until the policy gives up.
std::vector<std::uint32_t> Schedule(CallRefusal refusal, std::uint32_t callCostMs = 0) {
  std::vector<std::uint32_t> delays;
  std::uint32_t elapsed = 0;
  while (const auto delay = RetryDelay(refusal, elapsed)) {
    delays.push_back(*delay);
    elapsed += *delay + callCostMs;
    if (delays.size() > 1000) break;  // a policy that never gives up
  }
  return delays;
}

std::uint32_t Total(const std::vector<std::uint32_t>& delays) {
  std::uint32_t total = 0;
  for (auto d : delays) total += d;
  return total;
}

TEST(RetryPolicy, RetryLaterBacksOffDoublingThenGivesUpAtTheBound) {
  const auto delays = Schedule(CallRefusal::kRetryLater);
  ASSERT_GE(delays.size(), 6u);
  EXPECT_EQ((std::vector<std::uint32_t>{100, 100, 200, 400, 800, 1000}),
            std::vector<std::uint32_t>(delays.begin(), delays.begin() + 6));
  for (std::size_t i = 1; i < delays.size(); ++i) EXPECT_LE(delays[i], retry::kLongestDelayMs);
  // The tries go on until the bound, and not beyond it.
  EXPECT_EQ(retry::kRetryLaterLimitMs, Total(delays));
  EXPECT_FALSE(RetryDelay(CallRefusal::kRetryLater, retry::kRetryLaterLimitMs));
  EXPECT_FALSE(RetryDelay(CallRefusal::kRetryLater, 0xFFFFFFFFu));
}

TEST(RetryPolicy, OutrightRejectionIsRetriedOnlyBriefly) {
  const auto delays = Schedule(CallRefusal::kRejected);
  EXPECT_FALSE(delays.empty());  // Office rejects while it starts: worth a few tries
  EXPECT_EQ(retry::kRejectedLimitMs, Total(delays));
  EXPECT_LT(retry::kRejectedLimitMs, retry::kRetryLaterLimitMs);
  EXPECT_FALSE(RetryDelay(CallRefusal::kRejected, retry::kRejectedLimitMs));
  // Before its own bound, a rejection waits as a busy refusal would.
  EXPECT_EQ(RetryDelay(CallRefusal::kRetryLater, 700), RetryDelay(CallRefusal::kRejected, 700));
}

TEST(RetryPolicy, EveryWaitIsOneComHonoursAndTheLastLandsOnTheBound) {
  // Under 100 ms COM retries at once, which would spin; slow calls must not push a try past the bound.
  for (std::uint32_t elapsed = 0; elapsed < retry::kRetryLaterLimitMs; elapsed += 37) {
    const auto delay = RetryDelay(CallRefusal::kRetryLater, elapsed);
    ASSERT_TRUE(delay) << elapsed;
    EXPECT_GE(*delay, retry::kFirstDelayMs) << elapsed;
    if (retry::kRetryLaterLimitMs - elapsed >= retry::kFirstDelayMs) {
      EXPECT_LE(elapsed + *delay, retry::kRetryLaterLimitMs) << elapsed;
    }
  }
  // Each refused try itself taking 250 ms: still a bounded number of tries.
  const auto slow = Schedule(CallRefusal::kRetryLater, 250);
  EXPECT_LT(slow.size(), 40u);
}

}  // namespace
}  // namespace corvix
