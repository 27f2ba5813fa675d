// When a clean-up whose Office stopped answering is given up.
#include "office/stall_policy.h"

#include <gtest/gtest.h>

#include "office/retry_policy.h"

namespace corvix {
namespace {

TEST(StallPolicy, TheBoundOutlastsTheLongestRetryOfABusyOffice) {
  // A call refused by a busy Office is tried again up to the retry limit, the last try coming after at most
  // the longest delay: a busy Office that then answers must not be taken for a hung one.
  EXPECT_GT(stall::kBoundMs, retry::kRetryLaterLimitMs + retry::kLongestDelayMs);
  EXPECT_GE(stall::kBoundMs, 30000u);
  EXPECT_LE(stall::kBoundMs, 120000u);
}

TEST(StallPolicy, ACallInFlightStallsAtTheBoundAndNotBefore) {
  CallWatch watch;
  ASSERT_TRUE(watch.Begin(5000));
  EXPECT_FALSE(watch.Stalled(5000));
  EXPECT_FALSE(watch.Stalled(5000 + stall::kBoundMs - 1));
  EXPECT_TRUE(watch.Stalled(5000 + stall::kBoundMs));
  EXPECT_TRUE(watch.Stalled(5000 + 10 * stall::kBoundMs));
}

TEST(StallPolicy, NothingStallsWhileNoCallIsInFlight) {
  CallWatch watch;
  EXPECT_FALSE(watch.Stalled(stall::kBoundMs * 3));
  // The clean-up's own work between calls is not Office's silence.
  ASSERT_TRUE(watch.Begin(0));
  watch.End();
  EXPECT_FALSE(watch.Stalled(stall::kBoundMs * 3));
}

TEST(StallPolicy, TimeInAnsweredCallsNeverAddsUp) {
  // A slow Office: every call takes nearly the bound, and the clean-up goes on for many times the bound.
  CallWatch watch;
  std::uint32_t now = 100;
  for (int call = 0; call < 20; ++call) {
    ASSERT_TRUE(watch.Begin(now));
    now += stall::kBoundMs - 1;
    EXPECT_FALSE(watch.Stalled(now)) << "call " << call;
    watch.End();
  }
  EXPECT_EQ(20u, watch.answered());
  EXPECT_FALSE(watch.Stalled(now + stall::kBoundMs));
}

TEST(StallPolicy, TheClockWrappingAroundIsNoStall) {
  CallWatch watch;
  const std::uint32_t beforeWrap = 0xFFFFFFFFu - 10;
  ASSERT_TRUE(watch.Begin(beforeWrap));
  EXPECT_FALSE(watch.Stalled(20));  // 31 ms later, across the wrap
  EXPECT_TRUE(watch.Stalled(beforeWrap + stall::kBoundMs));
  // A call begun at the clock's 0 reading.
  CallWatch atZero;
  ASSERT_TRUE(atZero.Begin(0));
  EXPECT_FALSE(atZero.Stalled(0));
  EXPECT_TRUE(atZero.Stalled(stall::kBoundMs + 1));
}

TEST(StallPolicy, AWatcherReadingTheClockJustBeforeTheCallBeganSeesNoWait) {
  CallWatch watch;
  ASSERT_TRUE(watch.Begin(1000));
  EXPECT_FALSE(watch.Stalled(999));
  EXPECT_EQ(stall::kBoundMs, watch.CheckAfterMs(999));
}

TEST(StallPolicy, TheWatcherWaitsForWhatIsLeftOfTheBound) {
  CallWatch watch;
  EXPECT_EQ(stall::kBoundMs, watch.CheckAfterMs(123));  // no call in flight
  ASSERT_TRUE(watch.Begin(1000));
  EXPECT_EQ(stall::kBoundMs, watch.CheckAfterMs(1000));
  EXPECT_EQ(stall::kBoundMs - 400, watch.CheckAfterMs(1400));
  // Due (or overdue): ask again at once, never a wait of 0, which would spin.
  EXPECT_EQ(1u, watch.CheckAfterMs(1000 + stall::kBoundMs));
  EXPECT_EQ(1u, watch.CheckAfterMs(1000 + 2 * stall::kBoundMs));
}

TEST(StallPolicy, AGivenUpCleanUpMakesNoFurtherCall) {
  CallWatch watch;
  ASSERT_TRUE(watch.Begin(10));
  ASSERT_TRUE(watch.Stalled(10 + stall::kBoundMs));
  watch.GiveUp();
  EXPECT_TRUE(watch.givenUp());
  // The stalled call comes back after all: that does not let the clean-up go on.
  watch.End();
  EXPECT_FALSE(watch.Begin(stall::kBoundMs + 5));
  EXPECT_FALSE(watch.Begin(stall::kBoundMs + 6));
  EXPECT_TRUE(watch.givenUp());
  // Refused calls are not in flight: nothing is left to stall.
  EXPECT_FALSE(watch.Stalled(10 * stall::kBoundMs));
}

}  // namespace
}  // namespace corvix
