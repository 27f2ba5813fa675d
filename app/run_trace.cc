// The run's own lines on the debugger channel.
#include "app/run_trace.h"

#include <string_view>

#include "app/sids.h"
#include "app/version.h"

namespace corvix {
namespace {

// What was found about where this process runs, as the context line tells it.
std::wstring Found(const RunFacts& facts) {
  if (facts.self && facts.self->user == kLocalSystemSid) {
    return L"LocalSystem, " + Decimal(facts.activeSessions) + L" active session(s) with a user";
  }
  if (facts.sessionZero) return L"in session 0, a service's, where no user is";
  if (!facts.visibleStation) return L"on a window station that no user sees";
  if (facts.copy) return L"a copy that its parent handed the run to";
  if (!facts.self) return L"this process's token could not be read";
  if (!facts.self->elevated) return L"an ordinary process of its user (not elevated)";
  if (!facts.shellFound) return L"elevated, and no desktop shell to be asked";
  if (!facts.shell) return L"elevated, under a desktop shell it cannot open (another user's)";
  if (facts.shell->user == kLocalSystemSid) return L"elevated, under a desktop shell that runs as LocalSystem";
  if (facts.shell->user != facts.self->user) return L"elevated, under the desktop shell of another user";
  return facts.shell->elevated ? L"elevated, under a desktop shell as elevated (UAC off)"
                               : L"elevated, under the desktop shell of its user, which is not elevated";
}

std::wstring Text(const event::RunStarted& e) {
  return L"version " CORVIX_VERSION_TEXT L", arguments \"" + e.arguments + L"\"" +
         (e.silent ? L": silent" : L": not silent, the completion message follows the clean-ups");
}

std::wstring Text(const event::Placed& e) {
  const std::wstring found = L"context: " + Found(e.facts);
  switch (e.placement) {
    case Placement::kRunHere:
      return found + L": the run happens in this process";
    case Placement::kRunAsShellUser:
      return found + L": the desktop shell is asked to start a copy, which does the run";
    case Placement::kRunPerSession:
      return found + L": the run goes to a copy in each active session, as its user";
    case Placement::kRunNothing:
      break;
  }
  return found + L": no user's Office can be reached; no Office is started, nothing runs";
}

std::wstring Text(const event::CopiesStartFrom& e) {
  std::wstring why;
  switch (e.finding) {
    case SourceFinding::kSafe:
      return L"context: the copies start from Corvix's own file: only the administrators, SYSTEM and "
             L"TrustedInstaller can change it and its folders, and every user can read and run it";
    case SourceFinding::kUnreadable:
      why = L"the security of its file or folders could not be read";
      break;
    case SourceFinding::kNotLocal:
      why = L"it is not on a local drive";
      break;
    case SourceFinding::kFileChangeable:
      why = L"its file can be changed by users";
      break;
    case SourceFinding::kFolderChangeable:
      why = L"its folder can be changed by users";
      break;
    case SourceFinding::kAboveChangeable:
      why = L"a folder above it can be changed by users";
      break;
    case SourceFinding::kUsersCannotRun:
      why = L"users cannot read and run its file (a deployment tool's cache)";
      break;
  }
  if (e.failure != 0) {
    return L"context: no protected copy of Corvix could be made (" + DescribeFailure(e.failure, e.step) +
           L"): no copy is started; it was needed: " + why;
  }
  return L"context: the copies start from a protected copy of Corvix's running file: " + why;
}

constexpr std::wstring_view kNotAsked = L"context: the desktop shell could not be asked to start a copy";

std::wstring Text(const event::ShellNotAsked& e) {
  using Why = event::ShellNotAsked::Why;
  switch (e.why) {
    case Why::kNoHandover:
      return std::wstring(kNotAsked) + L": the hand-over could not be offered";
    case Why::kFailed:
      return std::wstring(kNotAsked) + L": " + DescribeFailure(e.status);
    case Why::kNoAnswer:
      break;
  }
  return std::wstring(kNotAsked) + L": no answer within " + Seconds(copies::kShellAnswerMs);
}

std::wstring Text(const event::ShellAsked&) {
  return L"context: the desktop shell was asked to start a copy; waiting at most " + Seconds(copies::kReportInMs) +
         L" for it to report in, and " + Seconds(copies::kChildWaitMs) + L" in all";
}

std::wstring Text(const event::ShellCopy& e) {
  const std::wstring reported = L"context: the shell's copy reported in after " + Seconds(e.reportedMs);
  switch (e.outcome) {
    case CopyOutcome::kNotAsked:
      return std::wstring(kNotAsked);
    case CopyOutcome::kNeverCame:
      return L"context: no copy reported in within " + Seconds(copies::kReportInMs) +
             L" of the shell's start of it: it was blocked, refused or never started";
    case CopyOutcome::kEnded:
      return reported + L" and ended after " + Seconds(e.endedMs);
    case CopyOutcome::kEndedUnsaid:
      return reported + L" and ended after " + Seconds(e.endedMs) + L" without saying so (it crashed, or was ended)";
    case CopyOutcome::kStillRunning:
      break;
  }
  return reported + L"; still running at the bound, " + Seconds(copies::kChildWaitMs) +
         L": left to finish; this process ends";
}

std::wstring Text(const event::FellBack& e) {
  if (e.fallback == Placement::kRunHere) {
    return L"context: this process's user is the desktop user: the run happens in this process instead";
  }
  return L"context: the desktop user is not this process's user: no Office is started or cleaned as this "
         L"process's user";
}

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
template <typename Sessions, typename DescribeSession>
std::wstring SessionList(std::wstring_view what, const Sessions& sessions, DescribeSession describe) {
  if (sessions.empty()) return {};
  std::wstring list = L"; " + std::wstring(what) + L": session" + (sessions.size() > 1 ? L"s" : L"");
  bool first = true;
  for (const auto& session : sessions) {
    list += (first ? L" " : L", ") + describe(session);
    first = false;
  }
  return list;
}

std::wstring Text(const event::SessionsEnded& e) {
  std::wstring line = L"context: " + Decimal(e.started) + L" cop" + (e.started == 1 ? L"y" : L"ies") + L" started, " +
                      Decimal(e.ended) + L" ended within " + Seconds(copies::kSessionsWaitMs);
  if (e.started > e.ended) line += L"; those still running are left to finish";
  line += SessionList(L"no copy could be started in", e.failed, [](const FailedSession& failure) {
    return Decimal(failure.session) + L" (" + Why(failure.why) + L")";
  });
  line +=
      SessionList(L"not reached within the wait", e.unreached, [](std::uint32_t session) { return Decimal(session); });
  return line;
}

std::wstring Text(const event::RunDone& e) {
  std::wstring text = L"done in " + Seconds(e.elapsedMs) + L":";
  const wchar_t* separator = L" ";
  for (const CleanupFigures& cleanup : e.cleanups) {
    text += separator + Describe(cleanup);
    separator = L"; ";
  }
  return text;
}

std::wstring Text(const event::NoOneToAnswer&) {
  return L"no one can answer a message here (the window station is not interactive): none is shown";
}

}  // namespace

std::wstring Describe(const RunEvent& event) {
  return std::visit([](const auto& e) { return Text(e); }, event);
}

void Report(TraceSink* sink, const RunEvent& event) {
  if (sink != nullptr) TraceLine(sink, Describe(event));
}

}  // namespace corvix
