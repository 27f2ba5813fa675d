// How long a call that a busy application turned away is tried again.
//
// Portable and pure: the COM message filter (platform/win32/message_filter.h) asks it, from the time since
// the call was first made and the kind of refusal, whether to try again and after how long.
//
//   retry later  the application is busy (starting up, a dialog open, a long operation): the call is tried
//                again after 100 ms, then after as long as has already passed (so the waits double), at most
//                1 s apart, until 30 s have passed since the call was first made; then it is given up.
//   rejected     the application refuses the call outright. It may still come round (Office answers this way
//                while it starts), so it gets the same back-off, but only for 3 s.
//
// A call given up fails, and the clean-up step it belongs to is skipped as any failing step is. Within a
// clean-up, all its refusals together also have one budget (office/refusal_policy.h), which may end the
// tries sooner and give the whole clean-up up.
#pragma once

#include <cstdint>
#include <optional>

namespace corvix {

enum class CallRefusal { kRetryLater, kRejected };

namespace retry {
inline constexpr std::uint32_t kFirstDelayMs = 100;  // COM treats a delay under 100 ms as "at once"
inline constexpr std::uint32_t kLongestDelayMs = 1000;
inline constexpr std::uint32_t kRetryLaterLimitMs = 30000;
inline constexpr std::uint32_t kRejectedLimitMs = 3000;
}  // namespace retry

// The wait before the refused call is tried again, in milliseconds, or none to give the call up.
// `elapsedMs` is the time since the call was first made.
std::optional<std::uint32_t> RetryDelay(CallRefusal refusal, std::uint32_t elapsedMs);

}  // namespace corvix
