// The debugger channel's queue: lines in order, a stalled listener given up, and how long the end waits.
#include "base/channel_policy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvix {
namespace {

// Every line the writer takes, written at once, until none waits.
std::vector<std::wstring> TakeAll(ChannelQueue& queue, std::uint32_t nowMs) {
  std::vector<std::wstring> lines;
  while (const auto line = queue.Take(nowMs)) {
    lines.push_back(*line);
    queue.Written();
  }
  return lines;
}

TEST(ChannelPolicy, LinesAreWrittenInTheOrderHandedAndOnlyTheFirstStartsTheWriter) {
  ChannelQueue queue;
  EXPECT_EQ(Handed::kFirst, queue.Push(L"one", 0));
  EXPECT_EQ(Handed::kQueued, queue.Push(L"two", 1));
  EXPECT_EQ((std::vector<std::wstring>{L"one", L"two"}), TakeAll(queue, 2));
  EXPECT_EQ(Handed::kQueued, queue.Push(L"three", 3));
  EXPECT_EQ((std::vector<std::wstring>{L"three"}), TakeAll(queue, 4));
  EXPECT_FALSE(queue.Take(5));
  EXPECT_EQ(0u, queue.dropped());
}

TEST(ChannelPolicy, AFullQueueDropsTheNewestAndGoesOnOnceTheWriterCatchesUp) {
  ChannelQueue queue;
  for (std::size_t i = 0; i < channel::kMostWaiting; ++i) {
    ASSERT_NE(Handed::kDropped, queue.Push(std::to_wstring(i), 0)) << i;
  }
  EXPECT_EQ(Handed::kDropped, queue.Push(L"past the end", 0));
  EXPECT_EQ(1u, queue.dropped());
  const auto lines = TakeAll(queue, 1);
  ASSERT_EQ(channel::kMostWaiting, lines.size());
  EXPECT_EQ(L"0", lines.front());
  EXPECT_EQ(std::to_wstring(channel::kMostWaiting - 1), lines.back());
  EXPECT_EQ(Handed::kQueued, queue.Push(L"later", 2));
}

TEST(ChannelPolicy, AWriteThatDoesNotReturnWithinTheStallThresholdKillsTheChannelForGood) {
  ChannelQueue queue;
  queue.Push(L"taken", 1000);
  queue.Push(L"waiting", 1000);
  ASSERT_TRUE(queue.Take(1000));
  EXPECT_FALSE(queue.Dead(1000 + channel::kStallMs - 1));
  // A producer that comes while the write is stuck is not held: its line is queued, or dropped once dead.
  EXPECT_EQ(Handed::kQueued, queue.Push(L"while stuck", 1000 + channel::kStallMs - 1));
  EXPECT_EQ(Handed::kDropped, queue.Push(L"too late", 1000 + channel::kStallMs));
  EXPECT_TRUE(queue.Dead(1000 + channel::kStallMs));
  // The lines that waited are dropped with it, and a write that finally returns changes nothing.
  EXPECT_EQ(3u, queue.dropped());
  queue.Written();
  EXPECT_FALSE(queue.Take(1000 + channel::kStallMs + 1));
  EXPECT_EQ(Handed::kDropped, queue.Push(L"after", 1000 + 20 * channel::kStallMs));
  EXPECT_TRUE(queue.Dead(1000 + 20 * channel::kStallMs));
}

TEST(ChannelPolicy, SlowWritesThatEachReturnInTimeNeverAddUp) {
  ChannelQueue queue;
  std::uint32_t now = 0;
  for (int i = 0; i < 20; ++i) {
    queue.Push(L"line", now);
    ASSERT_TRUE(queue.Take(now)) << i;
    now += channel::kStallMs - 1;
    EXPECT_FALSE(queue.Dead(now)) << i;
    queue.Written();
  }
  EXPECT_FALSE(queue.Dead(now + 10 * channel::kStallMs));
}

TEST(ChannelPolicy, TheStallIsMeasuredAcrossTheClockWrappingAround) {
  ChannelQueue queue;
  const std::uint32_t start = 0xFFFFFFFFu - 100;
  queue.Push(L"line", start);
  ASSERT_TRUE(queue.Take(start));
  EXPECT_FALSE(queue.Dead(start + 200));  // wrapped, 200 ms later
  EXPECT_TRUE(queue.Dead(start + channel::kStallMs));
}

TEST(ChannelPolicy, AProducerWhoseClockReadingPrecedesTheTakeNeverKillsALiveListener) {
  // A producer reads the clock, then waits for the lock while the writer takes a line with a later reading.
  ChannelQueue queue;
  queue.Push(L"first", 5000);
  ASSERT_TRUE(queue.Take(5003));
  EXPECT_EQ(Handed::kQueued, queue.Push(L"read the clock before the take", 5001));
  EXPECT_FALSE(queue.Dead(5002));
  EXPECT_GT(queue.EndWaitMs(5002, 5002), 0u);
  EXPECT_EQ(0u, queue.dropped());
}

TEST(ChannelPolicy, TheEndDoesNotWaitWhenEverythingIsWrittenOrTheChannelIsDeadOrKilled) {
  ChannelQueue nothing;
  EXPECT_EQ(0u, nothing.EndWaitMs(50, 50));

  ChannelQueue written;
  written.Push(L"line", 0);
  TakeAll(written, 0);
  EXPECT_EQ(0u, written.EndWaitMs(10, 10));

  ChannelQueue stuck;
  stuck.Push(L"line", 0);
  ASSERT_TRUE(stuck.Take(0));
  EXPECT_EQ(0u, stuck.EndWaitMs(channel::kStallMs, channel::kStallMs));

  ChannelQueue killed;
  killed.Push(L"line", 0);
  killed.Kill();
  EXPECT_EQ(0u, killed.EndWaitMs(0, 0));
  EXPECT_EQ(Handed::kDropped, killed.Push(L"more", 1));
}

TEST(ChannelPolicy, TheEndWaitsForAWriteInFlightNoLongerThanUntilItCountsAsStalled) {
  ChannelQueue queue;
  queue.Push(L"line", 0);
  ASSERT_TRUE(queue.Take(100));
  // The end begins 50 ms into the write: asked again when the write would be stalled.
  EXPECT_EQ(channel::kStallMs - 50, queue.EndWaitMs(150, 150));
  EXPECT_EQ(1u, queue.EndWaitMs(100 + channel::kStallMs - 1, 150));
  // Then that write is given up, and with it the end's wait.
  EXPECT_EQ(0u, queue.EndWaitMs(100 + channel::kStallMs, 150));
}

TEST(ChannelPolicy, TheEndWaitsForALiveButSlowListenerAtMostTheEndsWait) {
  // Every write returns just within the threshold: the channel lives, but the end stops at its wait.
  ChannelQueue queue;
  for (int i = 0; i < 50; ++i) queue.Push(L"line", 0);
  const std::uint32_t began = 1000;
  std::uint32_t now = began;
  std::uint32_t waited = 0;
  while (const std::uint32_t wait = queue.EndWaitMs(now, began)) {
    ASSERT_TRUE(queue.Take(now));
    now += channel::kStallMs - 1;
    queue.Written();
    waited = now - began;
    ASSERT_LT(waited, 60u * channel::kStallMs) << "the end never stopped waiting";
  }
  EXPECT_GE(waited, channel::kEndWaitMs);
  EXPECT_LT(waited, channel::kEndWaitMs + channel::kStallMs);
  EXPECT_FALSE(queue.Dead(now));
}

TEST(ChannelPolicy, TheEndWaitsForLinesNotYetTakenUntilItsWaitIsSpent) {
  // A writer that has not yet woken: the lines wait, the end waits for them, but not past its wait.
  ChannelQueue queue;
  queue.Push(L"line", 0);
  EXPECT_EQ(channel::kEndWaitMs, queue.EndWaitMs(10, 10));
  EXPECT_EQ(1u, queue.EndWaitMs(10 + channel::kEndWaitMs - 1, 10));
  EXPECT_EQ(0u, queue.EndWaitMs(10 + channel::kEndWaitMs, 10));
}

}  // namespace
}  // namespace corvix
