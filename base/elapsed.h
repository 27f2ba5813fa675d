// How long has passed between two readings of a millisecond clock that wraps around (GetTickCount).
#pragma once

#include <cstdint>

namespace corvix {

// The time from `sinceMs` to `nowMs`, right across the clock's wrap-around. A reading taken before `sinceMs`
// (a thread that read the clock, then waited for a lock that another thread took with a later reading) is
// no time at all, never four billion milliseconds.
inline std::uint32_t ElapsedMs(std::uint32_t nowMs, std::uint32_t sinceMs) {
  const std::uint32_t elapsed = nowMs - sinceMs;
  return elapsed > 0x80000000u ? 0 : elapsed;
}

}  // namespace corvix
