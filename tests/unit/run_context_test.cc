// Where a run cleans Office: the decision from the facts about tokens, shell and sessions, and its fallbacks.
#include "app/run_context.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

#include "app/command_line.h"
#include "app/run_trace.h"

namespace corvix {
namespace {

const TokenFacts kAdminElevated{L"S-1-5-21-1-2-3-1001", true};
const TokenFacts kAdminLimited{L"S-1-5-21-1-2-3-1001", false};
const TokenFacts kOtherUser{L"S-1-5-21-1-2-3-1002", false};
const TokenFacts kOtherUserElevated{L"S-1-5-21-1-2-3-1002", true};
const TokenFacts kSystem{L"S-1-5-18", true};

const char* Name(Placement placement) {
  switch (placement) {
    case Placement::kRunHere:
      return "run here";
    case Placement::kRunAsShellUser:
      return "run as the shell's user";
    case Placement::kRunPerSession:
      return "run per session";
    case Placement::kRunNothing:
      return "run nothing";
  }
  return "?";
}

// The facts of a process that is `self`, under a desktop shell `shell` (none: a shell it cannot open; and
// with `shellFound` false, no shell at all).
RunFacts Facts(std::optional<TokenFacts> self, std::optional<TokenFacts> shell, bool shellFound = true) {
  RunFacts facts;
  facts.self = std::move(self);
  facts.shell = std::move(shell);
  facts.shellFound = shellFound || facts.shell.has_value();
  return facts;
}

RunFacts System(std::size_t activeSessions) {
  RunFacts facts = Facts(kSystem, std::nullopt, false);
  facts.activeSessions = activeSessions;
  return facts;
}

RunFacts Copy(RunFacts facts) {
  facts.copy = true;
  return facts;
}

RunFacts InSessionZero(RunFacts facts) {
  facts.sessionZero = true;
  return facts;
}

RunFacts OnAnInvisibleStation(RunFacts facts) {
  facts.visibleStation = false;
  return facts;
}

TEST(RunContext, EveryRowOfTheDecision) {
  const struct {
    const char* context;
    RunFacts facts;
    Placement expected;
  } rows[] = {
      {"the desktop user's own unelevated process", Facts(kAdminLimited, kAdminLimited), Placement::kRunHere},
      {"a standard user, no shell", Facts(kOtherUser, std::nullopt, false), Placement::kRunHere},
      {"elevated, unelevated shell of the same user", Facts(kAdminElevated, kAdminLimited), Placement::kRunAsShellUser},
      {"elevated, shell of another user (over the shoulder)", Facts(kAdminElevated, kOtherUser),
       Placement::kRunAsShellUser},
      {"elevated, elevated shell of another user", Facts(kAdminElevated, kOtherUserElevated),
       Placement::kRunAsShellUser},
      // Another account's elevation opens no process of the desktop user's: the shell is still asked.
      {"elevated, a shell it cannot open", Facts(kAdminElevated, std::nullopt), Placement::kRunAsShellUser},
      {"elevated, shell as elevated as this (UAC off)", Facts(kAdminElevated, kAdminElevated), Placement::kRunHere},
      {"elevated, no shell at all", Facts(kAdminElevated, std::nullopt, false), Placement::kRunHere},
      {"elevated, a shell running as LocalSystem", Facts(kAdminElevated, kSystem), Placement::kRunHere},
      {"this process's token unreadable", Facts(std::nullopt, kAdminLimited), Placement::kRunHere},
      {"LocalSystem, two active sessions", System(2), Placement::kRunPerSession},
      {"LocalSystem, no active session", System(0), Placement::kRunNothing},
      // LocalSystem runs in session 0 on a service's window station: that is where its copies start from.
      {"LocalSystem in session 0", InSessionZero(OnAnInvisibleStation(System(1))), Placement::kRunPerSession},
      {"a copy whose token is its parent's (a shell as elevated as the parent)",
       Copy(Facts(kAdminElevated, kAdminLimited)), Placement::kRunHere},
      // A deployment tool's own account, a scheduled task run with nobody logged on: no user is there.
      {"a service account in session 0", InSessionZero(Facts(kOtherUser, std::nullopt, false)), Placement::kRunNothing},
      {"an elevated service account in session 0", InSessionZero(Facts(kAdminElevated, std::nullopt, false)),
       Placement::kRunNothing},
      {"an account on a window station that no user sees", OnAnInvisibleStation(Facts(kOtherUser, std::nullopt, false)),
       Placement::kRunNothing},
      {"an unreadable token in session 0", InSessionZero(Facts(std::nullopt, std::nullopt, false)),
       Placement::kRunNothing},
      {"a copy on a window station that no user sees", Copy(OnAnInvisibleStation(Facts(kOtherUser, kOtherUser))),
       Placement::kRunNothing},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.context);
    EXPECT_STREQ(Name(row.expected), Name(DecidePlacement(row.facts)));
  }
}

TEST(RunContext, WithoutItsCopyARunHappensHereOnlyForTheDesktopUsersOwnProfile) {
  RunFacts unreadableOfOther = Facts(kAdminElevated, std::nullopt);
  unreadableOfOther.sessionUser = kOtherUser.user;
  RunFacts unreadableOfSelf = Facts(kAdminElevated, std::nullopt);
  unreadableOfSelf.sessionUser = kAdminElevated.user;
  const struct {
    const char* context;
    RunFacts facts;
    Placement expected;
  } rows[] = {
      // UAC's split token: the elevated token and the shell's are the same user's, with one profile.
      {"elevated, the shell of its own user", Facts(kAdminElevated, kAdminLimited), Placement::kRunHere},
      // An administrator's password typed on a standard user's desktop; or Administrator protection's
      // separate account: this process's profile is not the desktop user's.
      {"elevated, the shell of another user", Facts(kAdminElevated, kOtherUser), Placement::kRunNothing},
      {"elevated, an elevated shell of another user", Facts(kAdminElevated, kOtherUserElevated),
       Placement::kRunNothing},
      // The shell's token cannot be read: the session's user says whose desktop it is.
      {"a shell it cannot open, of the session's other user", unreadableOfOther, Placement::kRunNothing},
      {"a shell it cannot open, whose session's user is its own", unreadableOfSelf, Placement::kRunHere},
      {"a shell it cannot open, and no session user found", Facts(kAdminElevated, std::nullopt),
       Placement::kRunNothing},
      // A token that could not be read is no one's: nothing is started as an unknown user.
      {"this process's user unknown", Facts(TokenFacts{L"", true}, kAdminLimited), Placement::kRunNothing},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.context);
    ASSERT_STREQ(Name(Placement::kRunAsShellUser), Name(DecidePlacement(row.facts)));
    EXPECT_STREQ(Name(row.expected), Name(FallbackPlacement(Placement::kRunAsShellUser, row.facts)));
  }
  // LocalSystem never starts Office itself: without a copy there is no run.
  EXPECT_STREQ(Name(Placement::kRunNothing), Name(FallbackPlacement(Placement::kRunPerSession, System(2))));
  EXPECT_STREQ(Name(Placement::kRunHere), Name(FallbackPlacement(Placement::kRunHere, System(2))));
}

TEST(RunContext, TheOfferGoesToTheShellsUserOrElseTheSessionsUser) {
  RunFacts unreadable = Facts(kAdminElevated, std::nullopt);
  unreadable.sessionUser = kOtherUser.user;
  EXPECT_EQ(kOtherUser.user, DesktopUser(unreadable));
  RunFacts readable = Facts(kAdminElevated, kAdminLimited);
  readable.sessionUser = kOtherUser.user;
  EXPECT_EQ(kAdminLimited.user, DesktopUser(readable));
}

TEST(RunContext, AChildReadsExactlyTheParentsArgumentText) {
  const wchar_t* program = L"C:\\Program Files (x86)\\Merrowin Soft\\Corvix.exe";
  for (const wchar_t* arguments : {L"/s", L"", L"/S", L"/s ", L"/s\t", L"\"/s\"", L"/s \"a b\" c"}) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(arguments)));
    const std::wstring line = ChildCommandLine(program, arguments);
    EXPECT_EQ(std::wstring(L"\"") + program + L"\"", line.substr(0, wcslen(program) + 2));
    EXPECT_EQ(std::wstring(arguments), ArgumentsFromCommandLine(line));
  }
}

TEST(RunContext, TheDiagnosticsSayWhatWasFoundAndWhereTheRunGoes) {
  const RunFacts elevated = Facts(kAdminElevated, kAdminLimited);
  EXPECT_EQ(
      L"context: elevated, under the desktop shell of its user, which is not elevated: the desktop shell is asked "
      L"to start a copy, which does the run",
      Describe(event::Placed{elevated, DecidePlacement(elevated)}));
  const RunFacts system = System(0);
  EXPECT_EQ(
      L"context: LocalSystem, 0 active session(s) with a user: no user's Office can be reached; no Office is "
      L"started, nothing runs",
      Describe(event::Placed{system, DecidePlacement(system)}));
  const RunFacts service = InSessionZero(Facts(kOtherUser, std::nullopt, false));
  EXPECT_EQ(
      L"context: in session 0, a service's, where no user is: no user's Office can be reached; no Office is "
      L"started, nothing runs",
      Describe(event::Placed{service, DecidePlacement(service)}));
  const RunFacts locked = Facts(kAdminElevated, std::nullopt);
  EXPECT_EQ(
      L"context: elevated, under a desktop shell it cannot open (another user's): the desktop shell is asked to "
      L"start a copy, which does the run",
      Describe(event::Placed{locked, DecidePlacement(locked)}));
  // No user's own identifier goes out on the channel.
  EXPECT_EQ(std::wstring::npos, Describe(event::Placed{elevated, Placement::kRunAsShellUser}).find(kAdminLimited.user));
}

TEST(SessionSchedule, AFewCopiesAtATimeTheNextWhenOneEnds) {
  SessionSchedule schedule({1, 2, 3, 4, 5, 6});
  std::vector<std::uint32_t> started;
  std::size_t running = 0;
  while (const auto session = schedule.Next(running, 0)) {
    started.push_back(*session);
    ++running;
  }
  EXPECT_EQ((std::vector<std::uint32_t>{1, 2, 3, 4}), started);
  // One ends: the next session's copy starts, and only one.
  --running;
  EXPECT_EQ(std::optional<std::uint32_t>(5), schedule.Next(running, 1000));
  EXPECT_EQ(std::nullopt, schedule.Next(running + 1, 1000));
  EXPECT_EQ((std::deque<std::uint32_t>{6}), schedule.Unreached());
}

TEST(SessionSchedule, NoCopyStartsOnceTheWaitIsOver) {
  SessionSchedule schedule({7, 8});
  EXPECT_EQ(std::nullopt, schedule.Next(0, copies::kSessionsWaitMs));
  EXPECT_EQ((std::deque<std::uint32_t>{7, 8}), schedule.Unreached());
  EXPECT_EQ(std::optional<std::uint32_t>(7), schedule.Next(0, copies::kSessionsWaitMs - 1));
}

TEST(SessionSchedule, TheLineNamesTheSessionsNotReached) {
  EXPECT_EQ(
      L"context: 4 copies started, 3 ended within 240.00 s; those still running are left to finish; no copy "
      L"could be started in: sessions 2 (its user's environment could not be made), 5 (no token of its user); "
      L"not reached within the wait: sessions 9, 12",
      Describe(event::SessionsEnded{
          4, 3, {{2, SessionFailure::kNoEnvironment}, {5, SessionFailure::kNoUserToken}}, {9, 12}}));
  EXPECT_EQ(L"context: 1 copy started, 1 ended within 240.00 s", Describe(event::SessionsEnded{1, 1, {}, {}}));
}

}  // namespace
}  // namespace corvix
