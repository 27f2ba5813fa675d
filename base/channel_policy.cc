// The debugger channel's queue and when its listener is given up.
#include "base/channel_policy.h"

#include <algorithm>
#include <utility>

#include "base/elapsed.h"

namespace corvix {

Handed ChannelQueue::Push(std::wstring line, std::uint32_t nowMs) {
  const LockGuard guard(lock_);
  if (DeadLocked(nowMs) || waiting_ == ring_.size()) {
    ++dropped_;
    return Handed::kDropped;
  }
  ring_[(first_ + waiting_) % ring_.size()] = std::move(line);
  ++waiting_;
  const bool first = !started_;
  started_ = true;
  return first ? Handed::kFirst : Handed::kQueued;
}

std::optional<std::wstring> ChannelQueue::Take(std::uint32_t nowMs) {
  const LockGuard guard(lock_);
  if (dead_ || waiting_ == 0) return std::nullopt;
  std::wstring line = std::move(ring_[first_]);
  first_ = (first_ + 1) % ring_.size();
  --waiting_;
  inFlight_ = true;
  inFlightSinceMs_ = nowMs;
  return line;
}

void ChannelQueue::Written() {
  const LockGuard guard(lock_);
  inFlight_ = false;
}

bool ChannelQueue::Dead(std::uint32_t nowMs) {
  const LockGuard guard(lock_);
  return DeadLocked(nowMs);
}

void ChannelQueue::Kill() {
  const LockGuard guard(lock_);
  dead_ = true;
}

bool ChannelQueue::DeadLocked(std::uint32_t nowMs) {
  if (!dead_ && inFlight_ && ElapsedMs(nowMs, inFlightSinceMs_) >= channel::kStallMs) dead_ = true;
  if (dead_ && waiting_ > 0) {
    // The lines still waiting will never be written.
    dropped_ += waiting_;
    waiting_ = 0;
  }
  return dead_;
}

std::uint32_t ChannelQueue::EndWaitMs(std::uint32_t nowMs, std::uint32_t endBeganMs) {
  const LockGuard guard(lock_);
  if (DeadLocked(nowMs) || (waiting_ == 0 && !inFlight_)) return 0;
  const std::uint32_t waited = ElapsedMs(nowMs, endBeganMs);
  if (waited >= channel::kEndWaitMs) return 0;
  std::uint32_t left = channel::kEndWaitMs - waited;
  // A write in flight is asked about again when it would count as stalled.
  if (inFlight_) left = std::min(left, channel::kStallMs - ElapsedMs(nowMs, inFlightSinceMs_));
  return left;
}

std::size_t ChannelQueue::dropped() const {
  const LockGuard guard(lock_);
  return dropped_;
}

}  // namespace corvix
