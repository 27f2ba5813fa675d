// How an elevated Corvix hands its run to the copy that the desktop shell starts, and learns whether that
// copy came and when its run ended.
//
// The shell starts the copy with the shell's own token and environment, so nothing can be passed to it but
// its command line, which stays the argument text alone. The parent therefore offers the run in the session's
// namespace: a small block under a fixed name holding the argument text, and, under names of that offer's
// own that the block gives, an event the copy sets when it has taken the run and a mutex the copy holds
// while it runs (its release, or its abandonment when the copy dies, tells the parent that the run is over).
// Only the desktop user, the administrators and LocalSystem may open them, and only an offer that the
// administrators own is taken. A Corvix takes the run only when the block offers exactly its own argument
// text: taking it changes nothing of what that Corvix does but that it never starts copies itself.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/run_context.h"
#include "platform/win32/unique_handle.h"

namespace corvix::win32 {

// The parent's side: the offer, made before the shell is asked to start the copy.
class HandoverOffer {
 public:
  // Offers the run with `arguments` to the desktop user `shellUser`, this process's user being `self` (SIDs
  // as text). None when the offer cannot be made: another offer is open in this session, the objects cannot
  // be made, or this process cannot make the administrators their owner (it is not elevated).
  static std::optional<HandoverOffer> Make(std::wstring_view arguments, std::wstring_view self,
                                           std::wstring_view shellUser);

  // Waits for the copy to report in and for its run to end, at most copies::kReportInMs and then, from the
  // start of the offer, copies::kChildWaitMs. A copy that has not come by then never takes the run.
  CopyOutcome Await(std::uint32_t& reportedMs, std::uint32_t& endedMs);

 private:
  HandoverOffer() = default;
  // Takes the offer back, unless a copy took it meanwhile; true when it did.
  bool Withdraw();

  UniqueHandle block_;
  UniqueHandle reported_;
  UniqueHandle running_;
  UniqueView view_;
  std::uint32_t madeMs_ = 0;
};

// The copy's side: the run it took, held until its end.
class HandoverClaim {
 public:
  // Takes the run offered in this session, when the offer is for exactly `arguments` and is owned by the
  // administrators or LocalSystem. kNone: no offer for this Corvix; kLate: its parent had already taken the
  // offer back (this Corvix is a copy all the same, and never starts copies). LocalSystem never calls it.
  enum class Result { kNone, kTaken, kLate };
  Result Take(std::wstring_view arguments);

  // Tells the parent that the run has ended (also done when the claim goes).
  void End();

  ~HandoverClaim() { End(); }

 private:
  UniqueHandle running_;
};

}  // namespace corvix::win32
