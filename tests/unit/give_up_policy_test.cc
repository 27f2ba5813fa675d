// When a clean-up stops waiting on Office: the back-off, the refusal budget, and the stall bound.
#include "office/give_up_policy.h"

#include <gtest/gtest.h>

#include <vector>

namespace corvix {
namespace {

// Each refused call's answer, by the rules: the budget is looked at first; within it, a rejection is tried
// again for kRejectedLimitMs, a busy refusal until the budget says no; each wait is the back-off's (as long
// as has passed, from kFirstDelayMs to kLongestDelayMs), cut so that the last try lands on the end, but
// never under kFirstDelayMs.
struct RefusalCase {
  CallRefusal refusal;
  std::uint32_t refusedMs;
  std::uint32_t spentMs;
  std::optional<std::uint32_t> retryAfterMs;
  bool giveUp;
};

constexpr auto kBusy = CallRefusal::kRetryLater;
constexpr auto kRejected = CallRefusal::kRejected;

const RefusalCase kRefusalCases[] = {
    // A busy refusal with nothing spent: the back-off, to the budget's end.
    {kBusy, 0, 0, 100, false},
    {kBusy, 100, 0, 100, false},
    {kBusy, 700, 0, 700, false},
    {kBusy, 5000, 0, 1000, false},
    {kBusy, 29500, 0, 500, false},
    {kBusy, 29950, 0, 100, false},
    {kBusy, 29999, 0, 100, false},
    {kBusy, 30000, 0, std::nullopt, true},
    {kBusy, 31000, 0, std::nullopt, true},
    // With earlier refusals spent: only what is left.
    {kBusy, 9500, 20000, 500, false},
    {kBusy, 10000, 20000, std::nullopt, true},
    {kBusy, 0, 29950, 100, false},
    {kBusy, 0, 30000, std::nullopt, true},
    {kBusy, 0, 30900, std::nullopt, true},
    // A rejection: the same back-off, for 3 s, and then only that call fails.
    {kRejected, 0, 0, 100, false},
    {kRejected, 1000, 0, 1000, false},
    {kRejected, 2500, 0, 500, false},
    {kRejected, 2950, 0, 100, false},
    {kRejected, 3000, 0, std::nullopt, false},
    {kRejected, 5000, 0, std::nullopt, false},
    {kRejected, 1000, 28500, 500, false},
    {kRejected, 3000, 26999, std::nullopt, false},
    // The budget comes first: at its end a rejection gives the clean-up up, whatever its own limit says.
    {kRejected, 3000, 27000, std::nullopt, true},
    {kRejected, 0, 30000, std::nullopt, true},
};

TEST(GiveUpPolicy, EachRefusalIsAnsweredByTheBudgetThenTheBackOff) {
  for (const auto& c : kRefusalCases) {
    const RefusalAnswer answer = AnswerRefusal(c.refusal, c.refusedMs, c.spentMs);
    const char* kind = c.refusal == kBusy ? "busy" : "rejected";
    EXPECT_EQ(c.retryAfterMs, answer.retryAfterMs) << kind << " refused " << c.refusedMs << " spent " << c.spentMs;
    EXPECT_EQ(c.giveUp, answer.giveUp) << kind << " refused " << c.refusedMs << " spent " << c.spentMs;
  }
}

// Plays one call out as COM would against an Office that refuses it every time, the clean-up's earlier
// refusals having spent `spentMs`: each try is refused, the next comes after the wait the answer gave, and
// each refused try itself takes `tryCostMs`. Returns the waits, in order, until the call is cancelled.
std::vector<std::uint32_t> Schedule(CallRefusal refusal, std::uint32_t spentMs = 0, std::uint32_t tryCostMs = 0) {
  std::vector<std::uint32_t> delays;
  std::uint32_t elapsed = 0;
  while (const auto delay = AnswerRefusal(refusal, elapsed, spentMs).retryAfterMs) {
    delays.push_back(*delay);
    elapsed += *delay + tryCostMs;
    if (delays.size() > 1000) break;  // a policy that never gives up
  }
  return delays;
}

std::uint32_t Total(const std::vector<std::uint32_t>& delays) {
  std::uint32_t total = 0;
  for (auto d : delays) total += d;
  return total;
}

TEST(GiveUpPolicy, ABusyRefusalBacksOffDoublingUntilTheBudgetEnds) {
  const auto delays = Schedule(CallRefusal::kRetryLater);
  ASSERT_GE(delays.size(), 6u);
  EXPECT_EQ((std::vector<std::uint32_t>{100, 100, 200, 400, 800, 1000}),
            std::vector<std::uint32_t>(delays.begin(), delays.begin() + 6));
  for (auto delay : delays) EXPECT_LE(delay, retry::kLongestDelayMs);
  // The tries go on until the budget, and not beyond it.
  EXPECT_EQ(refusal::kBudgetMs, Total(delays));
}

TEST(GiveUpPolicy, ARejectionIsRetriedOnlyBriefly) {
  const auto delays = Schedule(CallRefusal::kRejected);
  EXPECT_FALSE(delays.empty());  // Office rejects while it starts: worth a few tries
  EXPECT_EQ(retry::kRejectedLimitMs, Total(delays));
  // Before its own limit, a rejection waits as a busy refusal would.
  EXPECT_EQ(RetryDelay(CallRefusal::kRetryLater, 700), RetryDelay(CallRefusal::kRejected, 700));
}

TEST(GiveUpPolicy, EveryWaitIsOneComHonoursAndTheLastLandsOnTheBudget) {
  // Under 100 ms COM retries at once, which would spin; slow tries must not push one past the budget.
  for (std::uint32_t spent : {0u, 12345u}) {
    const std::uint32_t left = refusal::kBudgetMs - spent;
    for (std::uint32_t elapsed = 0; elapsed < left; elapsed += 37) {
      const auto delay = AnswerRefusal(CallRefusal::kRetryLater, elapsed, spent).retryAfterMs;
      ASSERT_TRUE(delay) << elapsed;
      EXPECT_GE(*delay, retry::kFirstDelayMs) << elapsed;
      if (left - elapsed >= retry::kFirstDelayMs) {
        EXPECT_LE(elapsed + *delay, left) << elapsed;
      }
    }
  }
  // Each refused try itself taking 250 ms: still a bounded number of tries.
  EXPECT_LT(Schedule(CallRefusal::kRetryLater, 0, 250).size(), 40u);
}

// Plays one call out through the watch against an Office that refuses it every time. Returns how long the
// call was refused before it was cancelled.
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

TEST(GiveUpPolicy, AnOfficeThatRefusesEverythingCostsOneBudget) {
  // Office on a modal dialog: every call is refused as busy. The first call spends the whole budget and the
  // clean-up is given up there; the next call is never made.
  CallWatch watch;
  std::uint32_t now = 1000;
  EXPECT_EQ(refusal::kBudgetMs, RefuseUntilCancelled(watch, CallRefusal::kRetryLater, &now));
  EXPECT_TRUE(watch.givenUp());
  EXPECT_TRUE(watch.refusedOut());
  EXPECT_FALSE(watch.Begin(now));
  EXPECT_EQ(refusal::kBudgetMs, watch.refusedMs());
}

TEST(GiveUpPolicy, RejectionsOfEveryCallFailEachCallUntilTheyHaveSpentTheBudget) {
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

TEST(GiveUpPolicy, ABusySpellThatPassesLeavesTheRestOfTheBudget) {
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
  EXPECT_EQ(51u, watch.answered());
  // The next refusal spell gets only what is left.
  std::uint32_t now = 30000;
  EXPECT_EQ(refusal::kBudgetMs - refused, RefuseUntilCancelled(watch, CallRefusal::kRetryLater, &now));
  EXPECT_TRUE(watch.givenUp());
}

TEST(GiveUpPolicy, ACallInFlightStallsAtTheBoundAndNotBefore) {
  CallWatch watch;
  ASSERT_TRUE(watch.Begin(5000));
  EXPECT_FALSE(watch.Stalled(5000));
  EXPECT_FALSE(watch.Stalled(5000 + stall::kBoundMs - 1));
  EXPECT_TRUE(watch.Stalled(5000 + stall::kBoundMs));
  EXPECT_TRUE(watch.Stalled(5000 + 10 * stall::kBoundMs));
}

TEST(GiveUpPolicy, NothingStallsWhileNoCallIsInFlight) {
  CallWatch watch;
  EXPECT_FALSE(watch.Stalled(stall::kBoundMs * 3));
  // The clean-up's own work between calls is not Office's silence.
  ASSERT_TRUE(watch.Begin(0));
  watch.End();
  EXPECT_FALSE(watch.Stalled(stall::kBoundMs * 3));
}

TEST(GiveUpPolicy, TimeInAnsweredCallsNeverAddsUp) {
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

TEST(GiveUpPolicy, TheClockWrappingAroundIsNoStall) {
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

TEST(GiveUpPolicy, TheWatcherWaitsForWhatIsLeftOfTheBound) {
  CallWatch watch;
  EXPECT_EQ(stall::kBoundMs, watch.CheckAfterMs(123));  // no call in flight
  ASSERT_TRUE(watch.Begin(1000));
  EXPECT_EQ(stall::kBoundMs, watch.CheckAfterMs(1000));
  EXPECT_EQ(stall::kBoundMs - 400, watch.CheckAfterMs(1400));
  // A watcher that read the clock just before the call began sees no wait.
  EXPECT_FALSE(watch.Stalled(999));
  EXPECT_EQ(stall::kBoundMs, watch.CheckAfterMs(999));
  // Due (or overdue): ask again at once, never a wait of 0, which would spin.
  EXPECT_EQ(1u, watch.CheckAfterMs(1000 + stall::kBoundMs));
  EXPECT_EQ(1u, watch.CheckAfterMs(1000 + 2 * stall::kBoundMs));
}

TEST(GiveUpPolicy, AStalledCleanUpIsGivenUpAndMakesNoFurtherCall) {
  CallWatch watch;
  ASSERT_TRUE(watch.Begin(10));
  EXPECT_FALSE(watch.GiveUpIfStalled(10 + stall::kBoundMs - 1));
  EXPECT_TRUE(watch.MayLeaveApartment());
  EXPECT_TRUE(watch.GiveUpIfStalled(10 + stall::kBoundMs));
  EXPECT_TRUE(watch.givenUp());
  EXPECT_FALSE(watch.refusedOut());
  // Its thread keeps the apartment, and with it the abandoned references.
  EXPECT_FALSE(watch.MayLeaveApartment());
  // The stalled call comes back after all: that does not let the clean-up go on.
  watch.End();
  EXPECT_FALSE(watch.Begin(stall::kBoundMs + 5));
  EXPECT_FALSE(watch.Begin(stall::kBoundMs + 6));
  // Calls not made are not in flight: nothing is left to stall.
  EXPECT_FALSE(watch.Stalled(10 * stall::kBoundMs));
}

}  // namespace
}  // namespace corvix
