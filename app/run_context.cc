// Where a run cleans Office.
#include "app/run_context.h"

#include "office/trace.h"

namespace corvix {

Placement DecidePlacement(const RunFacts& facts) {
  // A child never starts further children, whatever it finds: had its token not changed, it would find
  // the same as its parent and start another.
  if (facts.relaunched || !facts.self) return Placement::kRunHere;
  if (facts.self->user == kLocalSystemSid) {
    return facts.activeSessions == 0 ? Placement::kRunNothing : Placement::kRunPerSession;
  }
  // An ordinary process of the desktop user, or a shell that cannot be asked.
  if (!facts.self->elevated || !facts.shell) return Placement::kRunHere;
  // A shell running as LocalSystem is no user's: a child in its context would start Office as LocalSystem.
  if (facts.shell->user == kLocalSystemSid) return Placement::kRunHere;
  if (facts.shell->user != facts.self->user || !facts.shell->elevated) return Placement::kRunAsShellUser;
  // The shell is as elevated as this process (UAC off): the user's Office is within reach here.
  return Placement::kRunHere;
}

Placement FallbackPlacement(Placement placement) {
  switch (placement) {
    case Placement::kRunAsShellUser:
      return Placement::kRunHere;
    case Placement::kRunPerSession:
      return Placement::kRunNothing;
    default:
      return placement;
  }
}

bool ChildTookContext(const TokenFacts& meant, const TokenFacts& child) {
  return !child.user.empty() && child.user == meant.user && child.elevated == meant.elevated;
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

std::wstring DescribeDecision(const RunFacts& facts, Placement placement) {
  std::wstring found;
  if (facts.relaunched) {
    found = L"a copy started by Corvix in the user's context";
  } else if (!facts.self) {
    found = L"this process's token could not be read";
  } else if (facts.self->user == kLocalSystemSid) {
    found = L"LocalSystem, " + Decimal(facts.activeSessions) + L" active session(s) with a user";
  } else if (!facts.self->elevated) {
    found = L"an ordinary process of its user (not elevated)";
  } else if (!facts.shell) {
    found = L"elevated, and no desktop shell to be asked (none, or it cannot be opened)";
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
      return L"context: " + found + L": the run goes to a copy started in the desktop shell's context";
    case Placement::kRunPerSession:
      return L"context: " + found + L": the run goes to a copy in each active session, as its user";
    case Placement::kRunNothing:
      break;
  }
  return L"context: " + found + L": no user's Office can be reached; no Office is started, nothing runs";
}

std::wstring DescribeLaunch(Placement decided, std::size_t started) {
  if (decided != Placement::kRunAsShellUser && decided != Placement::kRunPerSession) return {};
  if (started > 0) {
    return L"context: " + Decimal(started) + L" cop" + (started == 1 ? L"y" : L"ies") +
           L" started; waiting for them at most " + Decimal(relaunch::kChildWaitMs / 1000) + L" s";
  }
  return decided == Placement::kRunAsShellUser
             ? L"context: no copy could be started: the run happens in this process instead"
             : L"context: no copy could be started in any session: no Office is started, nothing runs";
}

}  // namespace corvix
