// Where a run cleans Office.
#include "app/run_context.h"

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

}  // namespace corvix
