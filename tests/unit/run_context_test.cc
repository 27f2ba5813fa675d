// Where a run cleans Office: the decision from the facts about tokens, shell and sessions, and its fallbacks.
#include "app/run_context.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <deque>
#include <optional>
#include <vector>

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
      {"a copy whose token is its parent's (a shell as elevated as the parent)",
       {true, kAdminElevated, kAdminLimited, 0},
       Placement::kRunHere},
      {"a copy that is, somehow, LocalSystem", {true, kSystem, std::nullopt, 3}, Placement::kRunHere},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.context);
    EXPECT_STREQ(Name(row.expected), Name(DecidePlacement(row.facts)));
  }
}

TEST(RunContext, WithoutItsCopyARunHappensHereOnlyForTheDesktopUsersOwnProfile) {
  const struct {
    const char* context;
    RunFacts facts;
    Placement expected;
  } rows[] = {
      // UAC's split token: the elevated token and the shell's are the same user's, with one profile.
      {"elevated, the shell of its own user", {false, kAdminElevated, kAdminLimited, 0}, Placement::kRunHere},
      // An administrator's password typed on a standard user's desktop; or Administrator protection's
      // separate account: this process's profile is not the desktop user's.
      {"elevated, the shell of another user", {false, kAdminElevated, kOtherUser, 0}, Placement::kRunNothing},
      {"elevated, an elevated shell of another user",
       {false, kAdminElevated, kOtherUserElevated, 0},
       Placement::kRunNothing},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.context);
    ASSERT_STREQ(Name(Placement::kRunAsShellUser), Name(DecidePlacement(row.facts)));
    EXPECT_STREQ(Name(row.expected), Name(FallbackPlacement(Placement::kRunAsShellUser, row.facts)));
  }
  // A token that could not be read is no one's: nothing is started as an unknown user.
  RunFacts unknown{false, TokenFacts{}, kAdminLimited, 0};
  EXPECT_STREQ(Name(Placement::kRunNothing), Name(FallbackPlacement(Placement::kRunAsShellUser, unknown)));
  // LocalSystem never starts Office itself: without a copy there is no run.
  const RunFacts system{false, kSystem, std::nullopt, 2};
  EXPECT_STREQ(Name(Placement::kRunNothing), Name(FallbackPlacement(Placement::kRunPerSession, system)));
  EXPECT_STREQ(Name(Placement::kRunHere), Name(FallbackPlacement(Placement::kRunHere, system)));
}

TEST(RunContext, OnlyACopyThatReportedInCountsAsHavingRun) {
  EXPECT_FALSE(CopyRan(CopyOutcome::kNotAsked));
  EXPECT_FALSE(CopyRan(CopyOutcome::kNeverCame));
  EXPECT_TRUE(CopyRan(CopyOutcome::kEnded));
  // A copy that crashed after it took the run may have cleaned part of it: the run is not done twice.
  EXPECT_TRUE(CopyRan(CopyOutcome::kEndedUnsaid));
  EXPECT_TRUE(CopyRan(CopyOutcome::kStillRunning));
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
      L"context: elevated, under the desktop shell of its user, which is not elevated: the desktop shell is asked "
      L"to start a copy, which does the run",
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

TEST(RunContext, TheDiagnosticsTellACopyThatNeverCameFromOneThatRan) {
  EXPECT_EQ(L"context: the shell's copy reported in after 0.11 s and ended after 4.50 s",
            DescribeCopy(CopyOutcome::kEnded, 110, 4500));
  EXPECT_EQ(
      L"context: the shell's copy reported in after 0.11 s and ended after 4.50 s without saying so (it crashed, "
      L"or was ended)",
      DescribeCopy(CopyOutcome::kEndedUnsaid, 110, 4500));
  EXPECT_EQ(
      L"context: no copy reported in within 30.00 s of the shell's start of it: it was blocked, refused or never "
      L"started",
      DescribeCopy(CopyOutcome::kNeverCame, 0, 0));
  EXPECT_EQ(L"context: the desktop shell could not be asked to start a copy: 0x80004005",
            DescribeCopy(CopyOutcome::kNotAsked, 0, 0, L"0x80004005"));
  EXPECT_EQ(
      L"context: the shell's copy reported in after 0.11 s; still running at the bound, 240.00 s: left to finish; "
      L"this process ends",
      DescribeCopy(CopyOutcome::kStillRunning, 110, 240000));
  EXPECT_NE(DescribeFallback(Placement::kRunHere), DescribeFallback(Placement::kRunNothing));
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
  EXPECT_EQ(std::nullopt, schedule.Next(0, relaunch::kSessionsWaitMs));
  EXPECT_EQ((std::deque<std::uint32_t>{7, 8}), schedule.Unreached());
  EXPECT_EQ(std::optional<std::uint32_t>(7), schedule.Next(0, relaunch::kSessionsWaitMs - 1));
}

TEST(SessionSchedule, TheLineNamesTheSessionsNotReached) {
  EXPECT_EQ(
      L"context: 4 copies started, 3 ended within 240.00 s; those still running are left to finish; no copy "
      L"could be started in: session 2; not reached within the wait: sessions 9, 12",
      DescribeSessions(4, 3, {2}, {9, 12}));
  EXPECT_EQ(L"context: 1 copy started, 1 ended within 240.00 s", DescribeSessions(1, 1, {}, {}));
}

}  // namespace
}  // namespace corvix
