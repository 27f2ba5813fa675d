// Where a run cleans Office: the decision from the facts about tokens, shell and sessions, and its fallbacks.
#include "app/run_context.h"

#include <gtest/gtest.h>

#include <cwchar>

#include "app/command_line.h"

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

TEST(RunContext, EveryRowOfTheDecision) {
  const struct {
    const char* context;
    RunFacts facts;
    Placement expected;
  } rows[] = {
      {"the desktop user's own unelevated process", {false, kAdminLimited, kAdminLimited, 0}, Placement::kRunHere},
      {"a standard user, no shell", {false, kOtherUser, std::nullopt, 0}, Placement::kRunHere},
      {"elevated, unelevated shell of the same user",
       {false, kAdminElevated, kAdminLimited, 0},
       Placement::kRunAsShellUser},
      {"elevated, shell of another user (over the shoulder)",
       {false, kAdminElevated, kOtherUser, 0},
       Placement::kRunAsShellUser},
      {"elevated, elevated shell of another user",
       {false, kAdminElevated, kOtherUserElevated, 0},
       Placement::kRunAsShellUser},
      {"elevated, shell as elevated as this (UAC off)",
       {false, kAdminElevated, kAdminElevated, 0},
       Placement::kRunHere},
      {"elevated, no shell (or its token refused)", {false, kAdminElevated, std::nullopt, 0}, Placement::kRunHere},
      {"elevated, a shell running as LocalSystem", {false, kAdminElevated, kSystem, 0}, Placement::kRunHere},
      {"this process's token unreadable", {false, std::nullopt, kAdminLimited, 0}, Placement::kRunHere},
      {"LocalSystem, two active sessions", {false, kSystem, std::nullopt, 2}, Placement::kRunPerSession},
      {"LocalSystem, one active session and a shell", {false, kSystem, kAdminLimited, 1}, Placement::kRunPerSession},
      {"LocalSystem, no active session", {false, kSystem, std::nullopt, 0}, Placement::kRunNothing},
      {"a child whose token did not change", {true, kAdminElevated, kAdminLimited, 0}, Placement::kRunHere},
      {"a child that is, somehow, LocalSystem", {true, kSystem, std::nullopt, 3}, Placement::kRunHere},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.context);
    EXPECT_STREQ(Name(row.expected), Name(DecidePlacement(row.facts)));
  }
}

TEST(RunContext, ARelaunchThatCannotBeMadeRunsHereExceptAsLocalSystem) {
  EXPECT_STREQ(Name(Placement::kRunHere), Name(FallbackPlacement(Placement::kRunAsShellUser)));
  // LocalSystem never starts Office itself: without a child there is no run.
  EXPECT_STREQ(Name(Placement::kRunNothing), Name(FallbackPlacement(Placement::kRunPerSession)));
  EXPECT_STREQ(Name(Placement::kRunHere), Name(FallbackPlacement(Placement::kRunHere)));
  EXPECT_STREQ(Name(Placement::kRunNothing), Name(FallbackPlacement(Placement::kRunNothing)));
}

TEST(RunContext, AChildMustHaveTheUserAndElevationItWasStartedFor) {
  EXPECT_TRUE(ChildTookContext(kAdminLimited, kAdminLimited));
  EXPECT_TRUE(ChildTookContext(kOtherUser, kOtherUser));
  // The token change did not take: the child is as elevated as its parent.
  EXPECT_FALSE(ChildTookContext(kAdminLimited, kAdminElevated));
  EXPECT_FALSE(ChildTookContext(kOtherUser, kAdminLimited));
  EXPECT_FALSE(ChildTookContext(kOtherUser, kSystem));
  // A child whose token cannot be read is not trusted with the run.
  EXPECT_FALSE(ChildTookContext(TokenFacts{}, TokenFacts{}));
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
  RunFacts elevated;
  elevated.self = kAdminElevated;
  elevated.shell = kAdminLimited;
  EXPECT_EQ(
      L"context: elevated, under the desktop shell of its user, which is not elevated: the run goes to a copy "
      L"started in the desktop shell's context",
      DescribeDecision(elevated, DecidePlacement(elevated)));
  RunFacts system;
  system.self = kSystem;
  EXPECT_EQ(
      L"context: LocalSystem, 0 active session(s) with a user: no user's Office can be reached; no Office is "
      L"started, nothing runs",
      DescribeDecision(system, DecidePlacement(system)));
  // No user's own identifier goes out on the channel.
  EXPECT_EQ(std::wstring::npos, DescribeDecision(elevated, Placement::kRunAsShellUser).find(kAdminLimited.user));
}

TEST(RunContext, TheDiagnosticsSayWhatTheLaunchCameTo) {
  EXPECT_EQ(L"context: 1 copy started; waiting for them at most 240 s", DescribeLaunch(Placement::kRunAsShellUser, 1));
  EXPECT_EQ(L"context: 2 copies started; waiting for them at most 240 s", DescribeLaunch(Placement::kRunPerSession, 2));
  EXPECT_EQ(L"context: no copy could be started: the run happens in this process instead",
            DescribeLaunch(Placement::kRunAsShellUser, 0));
  EXPECT_EQ(L"context: no copy could be started in any session: no Office is started, nothing runs",
            DescribeLaunch(Placement::kRunPerSession, 0));
  EXPECT_EQ(L"", DescribeLaunch(Placement::kRunHere, 0));
}

}  // namespace
}  // namespace corvix
