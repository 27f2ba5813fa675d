// Where a run cleans Office: in this process, or in the desktop user's own context when this process is not
// in it (an elevated uninstaller, a deployment running as LocalSystem).
//
// Portable: the facts about the tokens, the desktop shell and the sessions are read by app/win32's
// launch_context, which also starts the children that this decides on.
//
// COM keeps processes of different integrity levels, logon sessions and users apart: an elevated process does
// not see the user's running Word or Outlook (it would start a second, elevated Word, and fail to start
// Outlook while the user's runs), and LocalSystem sees no user's Office at all. So the clean-up runs where the
// user's Office is: in a child process of this program, in the context of the user whose desktop it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "office/refusal_policy.h"
#include "office/stall_policy.h"

namespace corvix {

// A process's token, as far as where to run depends on it.
struct TokenFacts {
  // The user's security identifier as text ("S-1-5-21-..."); "S-1-5-18" for LocalSystem.
  std::wstring user;
  // A full administrator token: elevated, or an administrator's with UAC turned off.
  bool elevated = false;
};

inline constexpr std::wstring_view kLocalSystemSid = L"S-1-5-18";

struct RunFacts {
  // This process was started by a Corvix parent to do the run: it never starts further children.
  bool relaunched = false;
  // This process's token; none when it cannot be read.
  std::optional<TokenFacts> self;
  // The token of the desktop shell (the process that owns the shell window of this process's desktop); none
  // when there is no shell window or its process or token cannot be opened.
  std::optional<TokenFacts> shell;
  // Sessions that are active with a user logged on at them. Read only for LocalSystem.
  std::size_t activeSessions = 0;
};

enum class Placement {
  kRunHere,         // the whole run in this process, as an ordinary run
  kRunAsShellUser,  // the run in one child started in the desktop shell's context; this process waits for it
  kRunPerSession,   // the run in a child per active session, as that session's user; this process waits
  kRunNothing,      // no run at all: no Office is started, no message is shown
};

// Where the run goes, from the facts.
Placement DecidePlacement(const RunFacts& facts);

// Where the run goes when the children `placement` asked for cannot be started (no child at all): in this
// process, except as LocalSystem, which never starts Office itself.
Placement FallbackPlacement(Placement placement);

// Whether a child (still suspended) took the context it was started for: the same user and the same elevation
// as the token it was meant to have. A child that did not is ended before it runs, and counts as not started:
// it would be no better placed than its parent.
bool ChildTookContext(const TokenFacts& meant, const TokenFacts& child);

// The command line of a child: the program's path, quoted, and the parent's argument text verbatim, so that
// the child reads the same argument text (ArgumentsFromCommandLine) and "/s" still means silent.
std::wstring ChildCommandLine(std::wstring_view program, std::wstring_view arguments);

// The diagnostics' line for what was found and where the run goes ("context: ..."), without the "Corvix: "
// prefix. Only the user of a token that is LocalSystem's is named: no user's own identifier goes out.
std::wstring DescribeDecision(const RunFacts& facts, Placement placement);

// The line for the launch that `decided` asked for: how many copies were started, or what happens instead.
// None (empty) when no launch was asked for.
std::wstring DescribeLaunch(Placement decided, std::size_t started);

// The environment variable by which a parent marks its children (see RunFacts::relaunched).
inline constexpr std::wstring_view kRelaunchMarker = L"CORVIX_RELAUNCHED";

namespace relaunch {
// How long a parent waits for its children before it ends regardless. A child's run with both clean-ups given
// up takes, for each clean-up, the refusal budget and the stall bound, plus what its answered calls took; the
// margin covers those calls and the child's start. (A message that the user leaves on screen may outlast it:
// the parent ends, the child stays until it is dismissed.)
inline constexpr std::uint32_t kCleanupWorstMs = stall::kBoundMs + refusal::kBudgetMs;
inline constexpr std::uint32_t kChildWaitMs = 2 * kCleanupWorstMs + 60000;
static_assert(kChildWaitMs > 2 * kCleanupWorstMs, "the parent must outwait a child whose clean-ups are both given up");
}  // namespace relaunch

}  // namespace corvix
