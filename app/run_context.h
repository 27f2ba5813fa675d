// Where a run cleans Office: in this process, or in the desktop user's own context when this process is not
// in it (an elevated uninstaller, a deployment running as LocalSystem).
//
// Portable: the facts about the tokens, the desktop shell and the sessions are read by app/win32's
// launch_context, which also starts the copies that this decides on and waits for them.
//
// COM keeps processes of different integrity levels, logon sessions and users apart, so the clean-up runs where
// the user's Office is (docs/behaviour.md#where-the-clean-up-runs).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/sids.h"
#include "office/give_up_policy.h"

namespace corvix {

// A process's token, as far as where to run depends on it.
struct TokenFacts {
  // The user's security identifier as text ("S-1-5-21-..."); "S-1-5-18" for LocalSystem.
  std::wstring user;
  // A full administrator token: elevated, or an administrator's with UAC turned off.
  bool elevated = false;
};

struct RunFacts {
  // This process is a copy to which a Corvix parent handed the run: it never starts further copies.
  bool copy = false;
  // This process's token; none when it cannot be read.
  std::optional<TokenFacts> self;
  // Where this process sits: a service's session 0, or a window station that no user sees (not the interactive
  // one), has no user whose Office could be driven there.
  bool sessionZero = false;
  bool visibleStation = true;
  // Whether this process's desktop has a shell window, owned by another process.
  bool shellFound = false;
  // The desktop shell's token (the process that owns the shell window); none when there is no shell or its
  // process or token cannot be opened: then it is another user's (an elevation to another account opens no
  // process of the desktop user's).
  std::optional<TokenFacts> shell;
  // The user logged on at this process's session, as a SID in text; read only when the shell's token cannot
  // be, and empty when it cannot be found either.
  std::wstring sessionUser;
  // Sessions that are active with a user logged on at them. Read only for LocalSystem.
  std::size_t activeSessions = 0;
};

enum class Placement {
  kRunHere,         // the whole run in this process, as an ordinary run
  kRunAsShellUser,  // the run in one copy that the desktop shell starts; this process waits for it
  kRunPerSession,   // the run in a copy per active session, as that session's user; this process waits
  kRunNothing,      // no clean-up: no Office is started or cleaned here; the completion message as ever
};

// Where the run goes, from the facts.
Placement DecidePlacement(const RunFacts& facts);

// The desktop user, as a SID in text: the shell's token's user, or where that cannot be read, the session's
// user. Empty when neither is known.
std::wstring DesktopUser(const RunFacts& facts);

// Where the run goes when the copy or copies that `placement` asked for never ran: in this process only when
// its user is the desktop user (the same profile: UAC's split token), so that no Office is ever started or
// cleaned as another user; never as LocalSystem.
Placement FallbackPlacement(Placement placement, const RunFacts& facts);

// The command line of a copy: the program's path, quoted, and the parent's argument text verbatim, so that
// the copy reads the same argument text (ArgumentsFromCommandLine) and "/s" still means silent.
std::wstring ChildCommandLine(std::wstring_view program, std::wstring_view arguments);

// What became of the copy that the desktop shell was asked to start.
enum class CopyOutcome {
  kNotAsked,      // the shell could not be asked (no shell view, its automation failed, the hand-over not made)
  kNeverCame,     // asked, but no copy reported in within the limit: blocked, refused, or never started
  kEnded,         // it reported in and said that its run ended
  kEndedUnsaid,   // it reported in, then ended without saying so (it crashed, or was ended)
  kStillRunning,  // it reported in and was still running at the bound: left to finish
};

// Whether the copy ran: the parent's run is then done, whatever the copy found.
bool CopyRan(CopyOutcome outcome);

// The copies of a LocalSystem run, one per active session, a few at a time: the next session's copy starts
// when one ends, and none starts once the bound has passed.
class SessionSchedule {
 public:
  explicit SessionSchedule(std::vector<std::uint32_t> sessions);
  // The session whose copy starts next, with `running` copies running `elapsedMs` into the wait; none when
  // it must wait for one to end, when every session has had its copy, or when the bound has passed.
  std::optional<std::uint32_t> Next(std::size_t running, std::uint32_t elapsedMs);
  // The sessions whose copy was never started.
  const std::deque<std::uint32_t>& Unreached() const { return pending_; }

 private:
  std::deque<std::uint32_t> pending_;
};

// Why no copy could be started in a session.
enum class SessionFailure {
  kNoUserToken,    // its user's token could not be had
  kNoEnvironment,  // its user's environment block could not be made (a copy never takes LocalSystem's)
  kNotStarted,     // the process could not be created
};

struct FailedSession {
  std::uint32_t session = 0;
  SessionFailure why = SessionFailure::kNotStarted;
};

namespace copies {
// How long a parent waits for its copies before it ends regardless: a copy's run with both clean-ups given up
// (docs/robustness.md), and a margin for its answered calls and its start. (A message that the user leaves on
// screen may outlast it: the parent ends, the copy stays until it is dismissed.)
inline constexpr std::uint32_t kCopyMarginMs = 60000;
inline constexpr std::uint32_t kChildWaitMs = 2 * giveup::kCleanupWorstMs + kCopyMarginMs;
// How long the shell's copy has to report in. A copy that Windows starts is running within a second or two;
// past this it is taken to be blocked, and this process decides without it.
inline constexpr std::uint32_t kReportInMs = 30000;
// Reporting in is part of the copy's start, within the margin that the wait leaves for it; so the parent's
// whole wait stays kChildWaitMs, and after a copy that never came, its own run still fits in it.
static_assert(kReportInMs + 2 * giveup::kCleanupWorstMs <= kChildWaitMs,
              "a parent whose copy never came must still end within the wait for a copy");
// How long the desktop shell has to answer the request for a copy (its automation's calls, all together); past
// this it is taken to be hung, and the shell could not be asked. A shell that answers does so in well under a
// second.
inline constexpr std::uint32_t kShellAnswerMs = 10000;
static_assert(2 * kShellAnswerMs <= kReportInMs, "asking the shell is a small part of a copy's start");
static_assert(kShellAnswerMs + 2 * giveup::kCleanupWorstMs <= kChildWaitMs,
              "after a shell that does not answer, this process's own run must still end within the wait");
static_assert(kShellAnswerMs + kReportInMs + 2 * giveup::kCleanupWorstMs <= kChildWaitMs,
              "after a shell that answers late and a copy that never came, this process's own run must still end "
              "within the wait");
// A copy that took the run just as this process was taking it back (at kReportInMs) is given this long to
// report in; it comes out of the margin too.
inline constexpr std::uint32_t kLateReportMs = 5000;
static_assert(kShellAnswerMs + kReportInMs + kLateReportMs <= kCopyMarginMs,
              "asking the shell and waiting for a late copy fit in the margin that the wait leaves for a start");
// As LocalSystem: how many sessions' copies run at once (each starts a Word and an Outlook of its own), and
// the whole wait, for all of them together.
inline constexpr std::size_t kCopiesAtOnce = 4;
inline constexpr std::uint32_t kSessionsWaitMs = kChildWaitMs;
}  // namespace copies

}  // namespace corvix
