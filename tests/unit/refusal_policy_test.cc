// One clean-up's budget for the calls that Office refuses, and the give-up when it is spent.
#include "office/refusal_policy.h"

#include <gtest/gtest.h>

#include "office/stall_policy.h"

namespace corvix {
namespace {

// Plays one call out as COM would against an Office that refuses it every time: asks the watch after each
// refusal and waits as told. Returns how long the call was refused before it was cancelled.
std::uint32_t RefuseUntilCancelled(CallWatch& watch, CallRefusal refusal, std::uint32_t* now) {
  const std::uint32_t begun = *now;
  EXPECT_TRUE(watch.Begin(begun));
  std::uint32_t refused = 0;
  for (int tries = 0; tries < 1000; ++tries) {
    const auto delay = watch.Refused(refusal, refused);
    if (!delay) break;
    refused += *delay;
  }
  *now = begun + refused;
  watch.End();
  return refused;
}

TEST(RefusalPolicy, AFirstRefusedCallWaitsAsTheRetryPolicySays) {
  // Nothing spent yet: the budget changes nothing about a busy Office that comes round.
  for (std::uint32_t elapsed = 0; elapsed < refusal::kBudgetMs; elapsed += 53) {
    const auto answer = AnswerRefusal(CallRefusal::kRetryLater, elapsed, 0);
    EXPECT_EQ(RetryDelay(CallRefusal::kRetryLater, elapsed), answer.retryAfterMs) << elapsed;
    EXPECT_FALSE(answer.giveUp) << elapsed;
  }
}

TEST(RefusalPolicy, ACallRefusedForTheWholeBudgetGivesTheCleanUpUp) {
  const auto answer = AnswerRefusal(CallRefusal::kRetryLater, refusal::kBudgetMs, 0);
  EXPECT_FALSE(answer.retryAfterMs);
  EXPECT_TRUE(answer.giveUp);
}

TEST(RefusalPolicy, RefusalsAddUpOverTheCleanUp) {
  // 20 s already spent on earlier calls: this one gets the 10 s left, and its last try lands on the end.
  const std::uint32_t spent = 20000;
  const auto early = AnswerRefusal(CallRefusal::kRetryLater, 9500, spent);
  ASSERT_TRUE(early.retryAfterMs);
  EXPECT_EQ(500u, *early.retryAfterMs);
  EXPECT_FALSE(early.giveUp);
  const auto late = AnswerRefusal(CallRefusal::kRetryLater, refusal::kBudgetMs - spent, spent);
  EXPECT_FALSE(late.retryAfterMs);
  EXPECT_TRUE(late.giveUp);
  // Spent already (or overspent by the last wait): the first refusal gives up.
  EXPECT_TRUE(AnswerRefusal(CallRefusal::kRetryLater, 0, refusal::kBudgetMs).giveUp);
  EXPECT_TRUE(AnswerRefusal(CallRefusal::kRejected, 0, refusal::kBudgetMs + 900).giveUp);
}

TEST(RefusalPolicy, ARejectionWithinTheBudgetFailsOnlyItsCall) {
  const auto answer = AnswerRefusal(CallRefusal::kRejected, retry::kRejectedLimitMs, 0);
  EXPECT_FALSE(answer.retryAfterMs);
  EXPECT_FALSE(answer.giveUp);
}

TEST(RefusalPolicy, AnOfficeThatRefusesEverythingCostsOneBudget) {
  // Office on a modal dialog: every call is refused as busy. The first call spends the whole budget and the
  // clean-up is given up there; the next call is never made.
  CallWatch watch;
  std::uint32_t now = 1000;
  EXPECT_EQ(refusal::kBudgetMs, RefuseUntilCancelled(watch, CallRefusal::kRetryLater, &now));
  EXPECT_TRUE(watch.givenUp());
  EXPECT_FALSE(watch.Begin(now));
  EXPECT_EQ(refusal::kBudgetMs, watch.refusedMs());
}

TEST(RefusalPolicy, OutrightRejectionsOfEveryCallAlsoEndWithinTheBudget) {
  // Each call is rejected for 3 s and fails; the clean-up goes on until the rejections have spent the budget.
  CallWatch watch;
  std::uint32_t now = 0;
  int calls = 0;
  while (!watch.givenUp() && calls < 100) {
    RefuseUntilCancelled(watch, CallRefusal::kRejected, &now);
    ++calls;
  }
  EXPECT_TRUE(watch.givenUp());
  EXPECT_EQ(static_cast<int>(refusal::kBudgetMs / retry::kRejectedLimitMs), calls);
  EXPECT_LE(now, refusal::kBudgetMs);
}

TEST(RefusalPolicy, ABusySpellThatPassesLeavesTheRestOfTheBudget) {
  CallWatch watch;
  // Refused for about 12 s, then answered.
  ASSERT_TRUE(watch.Begin(0));
  std::uint32_t refused = 0;
  while (refused < 12000) refused += *watch.Refused(CallRefusal::kRetryLater, refused);
  watch.End();
  EXPECT_FALSE(watch.givenUp());
  EXPECT_EQ(refused, watch.refusedMs());
  // Calls that are answered at once spend nothing.
  for (int call = 0; call < 50; ++call) {
    ASSERT_TRUE(watch.Begin(20000 + call));
    watch.End();
  }
  EXPECT_EQ(refused, watch.refusedMs());
  // The next refusal spell gets only what is left.
  std::uint32_t now = 30000;
  EXPECT_EQ(refusal::kBudgetMs - refused, RefuseUntilCancelled(watch, CallRefusal::kRetryLater, &now));
  EXPECT_TRUE(watch.givenUp());
}

}  // namespace
}  // namespace corvix
