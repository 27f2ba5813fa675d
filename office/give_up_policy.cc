// The back-off, the refusal budget and the watch over a clean-up's calls.
#include "office/give_up_policy.h"

#include <algorithm>

#include "base/elapsed.h"

namespace corvix {

namespace {

// Cuts `delay` so that the last try comes at `limit`, not after it, `elapsedMs` being before it (but never
// sooner than COM can wait).
std::uint32_t LandOn(std::uint32_t delay, std::uint32_t elapsedMs, std::uint32_t limit) {
  return std::max(std::min(delay, limit - elapsedMs), retry::kFirstDelayMs);
}

}  // namespace

std::optional<std::uint32_t> RetryDelay(CallRefusal refusal, std::uint32_t elapsedMs) {
  // Waiting as long as has passed doubles the time between tries.
  const std::uint32_t delay = std::clamp(elapsedMs, retry::kFirstDelayMs, retry::kLongestDelayMs);
  if (refusal == CallRefusal::kRetryLater) return delay;
  if (elapsedMs >= retry::kRejectedLimitMs) return std::nullopt;
  return LandOn(delay, elapsedMs, retry::kRejectedLimitMs);
}

RefusalAnswer AnswerRefusal(CallRefusal refusal, std::uint32_t refusedMs, std::uint32_t spentMs) {
  const std::uint32_t left = spentMs >= refusal::kBudgetMs ? 0 : refusal::kBudgetMs - spentMs;
  if (refusedMs >= left) return {std::nullopt, true};
  const auto delay = RetryDelay(refusal, refusedMs);
  if (!delay) return {std::nullopt, false};
  return {LandOn(*delay, refusedMs, left), false};
}

bool CallWatch::Begin(std::uint32_t nowMs) {
  if (givenUp_.load()) return false;
  inFlightSince_.store(nowMs == kNone ? 1 : nowMs);
  // Given up in between: this call is not made either.
  if (givenUp_.load()) {
    inFlightSince_.store(kNone);
    return false;
  }
  return true;
}

void CallWatch::End() {
  inFlightSince_.store(kNone);
  answered_.fetch_add(1);
  refusedSpentMs_.fetch_add(refusedInFlightMs_);
  refusedInFlightMs_ = 0;
}

std::optional<std::uint32_t> CallWatch::Refused(CallRefusal refusal, std::uint32_t refusedMs) {
  const RefusalAnswer answer = AnswerRefusal(refusal, refusedMs, refusedSpentMs_.load());
  // Refused until the next try, or until now when the call is cancelled.
  refusedInFlightMs_ = refusedMs + answer.retryAfterMs.value_or(0);
  refusals_.fetch_add(1);
  if (answer.giveUp) {
    refusedOut_.store(true);
    GiveUp();
  }
  return answer.retryAfterMs;
}

void CallWatch::Name(std::wstring_view call) {
  const LockGuard lock(naming_);
  name_.assign(call);
}

std::wstring CallWatch::name() const {
  const LockGuard lock(naming_);
  return name_;
}

bool CallWatch::Stalled(std::uint32_t nowMs) const {
  const std::uint32_t since = inFlightSince_.load();
  return since != kNone && ElapsedMs(nowMs, since) >= stall::kBoundMs;
}

bool CallWatch::GiveUpIfStalled(std::uint32_t nowMs) {
  if (!Stalled(nowMs)) return false;
  GiveUp();
  return true;
}

std::uint32_t CallWatch::CheckAfterMs(std::uint32_t nowMs) const {
  const std::uint32_t since = inFlightSince_.load();
  if (since == kNone) return stall::kBoundMs;
  const std::uint32_t waited = ElapsedMs(nowMs, since);
  return waited >= stall::kBoundMs ? 1 : stall::kBoundMs - waited;
}

}  // namespace corvix
