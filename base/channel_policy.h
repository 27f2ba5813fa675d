// How the debugger channel's lines reach a listener without ever holding the run up.
//
// Portable: the lines that the run's threads hand over wait here for one writer (platform/win32's debug
// channel, whose thread writes them to the listener), and this decides when the listener is given up and how
// long the end of the run waits for the lines still waiting.
//
//   hand over  a thread that has a line pushes it and goes on at once: the queue's lock is held for the push
//              only, never while a line is written. Lines past kMostWaiting are dropped.
//   dead       a write that has not returned within kStallMs (a listener that never takes the line, a
//              channel that another process holds) gives the listener up for the rest of the run: that
//              write is abandoned, and every later line is dropped. A channel never comes back to life.
//   the end    the run waits for the lines still waiting to be written for at most kEndWaitMs, and not at
//              all once the channel is dead; then the process ends with whatever was not written.
//
// A listener that stalls so costs the run at most kStallMs at its end, once, and nothing while it runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/lock.h"

namespace corvix {

namespace channel {
// A listener takes a line in well under a millisecond; one that takes longer than this has stopped taking them.
inline constexpr std::uint32_t kStallMs = 500;
// The longest that the end of the run waits for a live listener to take the lines still waiting.
inline constexpr std::uint32_t kEndWaitMs = 2000;
// A run writes a few dozen lines; a queue this long means the writer has fallen far behind.
inline constexpr std::size_t kMostWaiting = 256;
// A write stuck at the end is given up before the end's wait runs out: a stalled listener costs the stall
// threshold, a slow but live one the end's wait.
static_assert(kStallMs < kEndWaitMs, "a stalled write is given up within the end's wait");
}  // namespace channel

// What became of a line handed over.
enum class Handed {
  kDropped,  // the channel is dead, or the queue full
  kQueued,
  kFirst,  // queued, and the first line ever: the writer is to be started
};

// The lines on their way to the listener. The times are readings of a millisecond clock that may wrap
// around (GetTickCount). Safe to use from any number of threads at once; no call waits for a write.
class ChannelQueue {
 public:
  ChannelQueue() : ring_(channel::kMostWaiting) {}
  ChannelQueue(const ChannelQueue&) = delete;
  ChannelQueue& operator=(const ChannelQueue&) = delete;

  // A producer hands `line` over. Dropped once the channel is dead (or found dead now) or when the queue is full.
  Handed Push(std::wstring line, std::uint32_t nowMs);

  // The writer takes the oldest line to write it; the write counts as in flight from `nowMs` until Written.
  // None when no line waits or the channel is dead.
  std::optional<std::wstring> Take(std::uint32_t nowMs);
  // The write of the line taken last has returned.
  void Written();

  // Whether the channel is dead; finds it so when the write in flight has not returned within kStallMs.
  bool Dead(std::uint32_t nowMs);
  // Gives the channel up at once (no writer could be started).
  void Kill();

  // How long the end of the run, which began waiting at `endBeganMs`, may still wait before it asks again;
  // 0: not at all, the process ends now (every line written, the channel dead, or the wait spent).
  std::uint32_t EndWaitMs(std::uint32_t nowMs, std::uint32_t endBeganMs);

  // How many lines were dropped (for figures and tests).
  std::size_t dropped() const;

 private:
  bool DeadLocked(std::uint32_t nowMs);

  mutable Lock lock_;
  // A ring of kMostWaiting lines, allocated once: a push under the lock moves a string, never allocates.
  std::vector<std::wstring> ring_;
  std::size_t first_ = 0;
  std::size_t waiting_ = 0;
  bool started_ = false;
  bool inFlight_ = false;
  std::uint32_t inFlightSinceMs_ = 0;
  bool dead_ = false;
  std::size_t dropped_ = 0;
};

}  // namespace corvix
