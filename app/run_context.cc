// Where a run cleans Office.
#include "app/run_context.h"

#include "office/trace.h"

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

std::wstring DescribeDecision(const RunFacts& facts, Placement placement) {
  std::wstring found;
  if (facts.self && facts.self->user == kLocalSystemSid) {
    found = L"LocalSystem, " + Decimal(facts.activeSessions) + L" active session(s) with a user";
  } else if (facts.sessionZero) {
    found = L"in session 0, a service's, where no user is";
  } else if (!facts.visibleStation) {
    found = L"on a window station that no user sees";
  } else if (facts.copy) {
    found = L"a copy that its parent handed the run to";
  } else if (!facts.self) {
    found = L"this process's token could not be read";
  } else if (!facts.self->elevated) {
    found = L"an ordinary process of its user (not elevated)";
  } else if (!facts.shellFound) {
    found = L"elevated, and no desktop shell to be asked";
  } else if (!facts.shell) {
    found = L"elevated, under a desktop shell it cannot open (another user's)";
  } else if (facts.shell->user == kLocalSystemSid) {
    found = L"elevated, under a desktop shell that runs as LocalSystem";
  } else if (facts.shell->user != facts.self->user) {
    found = L"elevated, under the desktop shell of another user";
  } else {
    found = facts.shell->elevated ? L"elevated, under a desktop shell as elevated (UAC off)"
                                  : L"elevated, under the desktop shell of its user, which is not elevated";
  }
  switch (placement) {
    case Placement::kRunHere:
      return L"context: " + found + L": the run happens in this process";
    case Placement::kRunAsShellUser:
      return L"context: " + found + L": the desktop shell is asked to start a copy, which does the run";
    case Placement::kRunPerSession:
      return L"context: " + found + L": the run goes to a copy in each active session, as its user";
    case Placement::kRunNothing:
      break;
  }
  return L"context: " + found + L": no user's Office can be reached; no Office is started, nothing runs";
}

std::wstring DescribeCopy(CopyOutcome outcome, std::uint32_t reportedMs, std::uint32_t endedMs,
                          std::wstring_view status) {
  const std::wstring reported = L"context: the shell's copy reported in after " + Seconds(reportedMs);
  switch (outcome) {
    case CopyOutcome::kNotAsked:
      return L"context: the desktop shell could not be asked to start a copy" +
             (status.empty() ? std::wstring() : L": " + std::wstring(status));
    case CopyOutcome::kNeverCame:
      return L"context: no copy reported in within " + Seconds(copies::kReportInMs) +
             L" of the shell's start of it: it was blocked, refused or never started";
    case CopyOutcome::kEnded:
      return reported + L" and ended after " + Seconds(endedMs);
    case CopyOutcome::kEndedUnsaid:
      return reported + L" and ended after " + Seconds(endedMs) + L" without saying so (it crashed, or was ended)";
    case CopyOutcome::kStillRunning:
      break;
  }
  return reported + L"; still running at the bound, " + Seconds(copies::kChildWaitMs) +
         L": left to finish; this process ends";
}

std::wstring DescribeFallback(Placement fallback) {
  if (fallback == Placement::kRunHere) {
    return L"context: this process's user is the desktop user: the run happens in this process instead";
  }
  return L"context: the desktop user is not this process's user: no Office is started or cleaned as this "
         L"process's user";
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

namespace {

std::wstring Why(SessionFailure why) {
  switch (why) {
    case SessionFailure::kNoUserToken:
      return L"no token of its user";
    case SessionFailure::kNoEnvironment:
      return L"its user's environment could not be made";
    case SessionFailure::kNotStarted:
      break;
  }
  return L"the process could not be created";
}

// "; <what>: session 3" or "; <what>: sessions 3 (why), 5 (why)", `describe` giving each session's text.
template <typename Sessions, typename Describe>
std::wstring SessionList(std::wstring_view what, const Sessions& sessions, Describe describe) {
  if (sessions.empty()) return {};
  std::wstring list = L"; " + std::wstring(what) + L": session" + (sessions.size() > 1 ? L"s" : L"");
  bool first = true;
  for (const auto& session : sessions) {
    list += (first ? L" " : L", ") + describe(session);
    first = false;
  }
  return list;
}

}  // namespace

std::wstring DescribeSessions(std::size_t started, std::size_t ended, const std::vector<FailedSession>& failed,
                              const std::deque<std::uint32_t>& unreached) {
  std::wstring line = L"context: " + Decimal(started) + L" cop" + (started == 1 ? L"y" : L"ies") + L" started, " +
                      Decimal(ended) + L" ended within " + Seconds(copies::kSessionsWaitMs);
  if (started > ended) line += L"; those still running are left to finish";
  line += SessionList(L"no copy could be started in", failed, [](const FailedSession& failure) {
    return Decimal(failure.session) + L" (" + Why(failure.why) + L")";
  });
  line +=
      SessionList(L"not reached within the wait", unreached, [](std::uint32_t session) { return Decimal(session); });
  return line;
}

}  // namespace corvix
