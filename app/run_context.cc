// Where a run cleans Office.
#include "app/run_context.h"

namespace corvix {

Placement DecidePlacement(const RunFacts& facts) {
  if (facts.self && facts.self->user == kLocalSystemSid) {
    return facts.activeSessions == 0 ? Placement::kRunNothing : Placement::kRunPerSession;
  }
  // A service's account, or a scheduled task's with no one logged on: Office would be driven where nobody can
  // answer it, as an account that is nobody's desktop user.
  if (facts.sessionZero || !facts.visibleStation) return Placement::kRunNothing;
  // A copy never starts further copies, whatever it finds: under a shell that runs with its parent's token it
  // would find the same as its parent and start another.
  if (facts.copy || !facts.self) return Placement::kRunHere;
  // An ordinary process of the desktop user, or a desktop without a shell.
  if (!facts.self->elevated || !facts.shellFound) return Placement::kRunHere;
  // A shell that cannot be opened is another user's: its own user is reached through it, never this one.
  if (!facts.shell) return Placement::kRunAsShellUser;
  // A shell running as LocalSystem is no user's: a copy in its context would start Office as LocalSystem.
  if (facts.shell->user == kLocalSystemSid) return Placement::kRunHere;
  if (facts.shell->user != facts.self->user || !facts.shell->elevated) return Placement::kRunAsShellUser;
  // The shell is as elevated as this process (UAC off): the user's Office is within reach here.
  return Placement::kRunHere;
}

std::wstring DesktopUser(const RunFacts& facts) { return facts.shell ? facts.shell->user : facts.sessionUser; }

Placement FallbackPlacement(Placement placement, const RunFacts& facts) {
  if (placement == Placement::kRunPerSession) return Placement::kRunNothing;
  if (placement != Placement::kRunAsShellUser) return placement;
  const bool sameUser = facts.self && !facts.self->user.empty() && facts.self->user == DesktopUser(facts);
  return sameUser ? Placement::kRunHere : Placement::kRunNothing;
}

std::wstring ChildCommandLine(std::wstring_view program, std::wstring_view arguments) {
  std::wstring line;
  line.reserve(program.size() + arguments.size() + 3);
  line += L'"';
  line += program;
  line += L'"';
  if (!arguments.empty()) {
    line += L' ';
    line += arguments;
  }
  return line;
}

bool CopyRan(CopyOutcome outcome) {
  return outcome == CopyOutcome::kEnded || outcome == CopyOutcome::kEndedUnsaid ||
         outcome == CopyOutcome::kStillRunning;
}

SessionSchedule::SessionSchedule(std::vector<std::uint32_t> sessions) : pending_(sessions.begin(), sessions.end()) {}

std::optional<std::uint32_t> SessionSchedule::Next(std::size_t running, std::uint32_t elapsedMs) {
  if (pending_.empty() || running >= copies::kCopiesAtOnce || elapsedMs >= copies::kSessionsWaitMs) {
    return std::nullopt;
  }
  const std::uint32_t session = pending_.front();
  pending_.pop_front();
  return session;
}

}  // namespace corvix
