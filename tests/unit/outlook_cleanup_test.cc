// RemoveOutlookToolbars, FindOutlookMenubar and RemoveOutlookMenus against the stand-in Outlook.
#include <gtest/gtest.h>

#include "cleanup/outlook/outlook_cleanup.h"
#include "office/trace.h"
#include "tests/unit/test_support.h"

namespace corvix {
namespace {

using testing::Calls;
using testing::LoadScenario;
using testing::StateHas;

// The main window's bars and the Inbox, whose first item is a mail item with the add-in's bar and menu items.
constexpr const char* kOutlookWithAddIn = R"(
  explorer
    bar "Merrowin Software"
      button "Find"
      popup "More"
    bar "Menu Bar" active
      popup "&Tools"
        button "Ours" parameter "Inspector Menu"
        button "Rules"
        button "Lower" parameter "Explorer menu"
        button "Explorer item" parameter "Explorer Menu"
  inbox
    mail "Hello"
      bar "Merrowin Software"
        button "Reply with Merrowin"
      bar "Menu Bar" active
        popup "&Actions"
          button "Forward"
          button "Ours" parameter "Explorer Menu"
          button "Ours too" parameter "Inspector Menu"
    mail "Second"
      bar "Merrowin Software"
)";

class OutlookCleanupTest : public ::testing::Test {
 protected:
  void Run(const std::string& scenario) {
    office_ = LoadScenario(scenario);
    standin::MemoryAutomation automation(*office_);
    RemoveOutlookToolbars(automation.Access());
  }
  const standin::Application& Outlook() { return *office_->Applications().at(0); }
  void TearDown() override {
    if (office_) {
      EXPECT_EQ(0, office_->HeldReferences()) << office_->HeldText();
    }
  }
  std::unique_ptr<standin::Office> office_;
};

TEST_F(OutlookCleanupTest, RunningWithAMainWindowCleansBothWindowsAndKeepsRunning) {
  Run(std::string("outlook running window\n") + kOutlookWithAddIn);
  EXPECT_EQ(
      (std::vector<std::wstring>{
          L"button 'Find'.Delete()", L"explorer bar 'Merrowin Software'.Delete()", L"button 'Explorer item'.Delete()",
          L"button 'Ours'.Delete()", L"button 'Reply with Merrowin'.Delete()",
          L"inspector bar 'Merrowin Software'.Delete()", L"button 'Ours too'.Delete()", L"button 'Ours'.Delete()"}),
      Calls(*office_, L"Delete"));
  EXPECT_TRUE(Calls(*office_, L"Explorers").empty());
  EXPECT_TRUE(Calls(*office_, L"Display").empty());
  EXPECT_TRUE(Calls(*office_, L"Quit").empty());
  EXPECT_TRUE(StateHas(*office_, L"button 'Lower' parameter 'Explorer menu'"));
  EXPECT_TRUE(StateHas(*office_, L"mail 'Hello' (item window created, never displayed)"));
  EXPECT_TRUE(StateHas(*office_, L"mail 'Second' (no item window)"));
  // The first item is reached afresh through the default member with a 16-bit index.
  EXPECT_EQ(std::vector<std::wstring>{L"Inbox items.(default)(I2 1)"}, Calls(*office_, L"(default)"));
}

TEST_F(OutlookCleanupTest, StartedOutlookOpensTheInboxInAMainWindowAndQuits) {
  Run(std::string("outlook installed\n") + kOutlookWithAddIn);
  EXPECT_EQ(std::vector<std::wstring>{L"Explorers.Add(Inbox, I4 0)"}, Calls(*office_, L"Add"));
  EXPECT_EQ(std::vector<std::wstring>{L"explorer 1.Display()"}, Calls(*office_, L"Display"));
  EXPECT_EQ(std::vector<std::wstring>{L"Outlook.Quit()"}, Calls(*office_, L"Quit"));
  EXPECT_EQ(L"Quit", office_->Journal().back().member);
  EXPECT_EQ(8u, Calls(*office_, L"Delete").size());
  EXPECT_TRUE(StateHas(*office_, L"explorer 1 added on Inbox in mode 0\n  explorer 1 displayed\n"));
}

TEST_F(OutlookCleanupTest, RunningWithoutAMainWindowIsLeftAlone) {
  Run(std::string("outlook running\n") + kOutlookWithAddIn);
  EXPECT_EQ((std::vector<std::wstring>{L"ROT.GetActiveObject(\"Outlook.Application\")", L"Outlook.ActiveExplorer()"}),
            Calls(*office_));
}

TEST_F(OutlookCleanupTest, TheBarOnlyInTheItemWindowIsRemovedThere) {
  Run(R"(outlook running window
  inbox
    mail "Hello"
      bar "Merrowin Software"
        button "Reply with Merrowin"
)");
  EXPECT_EQ((std::vector<std::wstring>{L"button 'Reply with Merrowin'.Delete()",
                                       L"inspector bar 'Merrowin Software'.Delete()"}),
            Calls(*office_, L"Delete"));
}

TEST_F(OutlookCleanupTest, NoItemWindowWithoutAMailItemFirst) {
  // A mail item whose Class cannot be read counts as another kind of item.
  for (const char* inbox :
       {"  inbox\n    meeting \"Review\"\n    mail \"Hello\"\n", "  inbox\n    report \"Undeliverable\"\n", "  inbox\n",
        "  inbox\n    mail \"Hello\"\nfail Class\n"}) {
    SCOPED_TRACE(inbox);
    Run(std::string("outlook running window\n  explorer\n    bar \"Merrowin Software\"\n") + inbox);
    EXPECT_EQ(std::vector<std::wstring>{L"explorer bar 'Merrowin Software'.Delete()"}, Calls(*office_, L"Delete"));
    EXPECT_TRUE(Calls(*office_, L"GetInspector").empty());
    TearDown();
  }
}

TEST_F(OutlookCleanupTest, ParameterIsReadOncePerMarker) {
  Run(R"(outlook running window
  explorer
    bar "Menu Bar" active
      popup "&Tools"
        button "Ours" parameter "Inspector Menu"
)");
  EXPECT_EQ((std::vector<std::wstring>{L"button 'Ours'.Parameter()", L"button 'Ours'.Parameter()"}),
            Calls(*office_, L"Parameter"));
  EXPECT_EQ(std::vector<std::wstring>{L"button 'Ours'.Delete()"}, Calls(*office_, L"Delete"));
}

TEST_F(OutlookCleanupTest, NotInstalledEndsAfterTheStartAttempt) {
  Run("");
  EXPECT_EQ((std::vector<std::wstring>{L"ROT.GetActiveObject(\"Outlook.Application\")",
                                       L"COM.CoCreateInstance(\"Outlook.Application\")"}),
            Calls(*office_));
}

TEST(StartsOutlookOfVersion, OnlyVersionsThatKeptTheBarsOrAnUnknownOne) {
  for (const std::uint32_t kept : {9u, 10u, 11u, 12u}) EXPECT_TRUE(StartsOutlookOfVersion(kept)) << kept;
  for (const std::uint32_t later : {14u, 15u, 16u, 17u}) EXPECT_FALSE(StartsOutlookOfVersion(later)) << later;
  EXPECT_TRUE(StartsOutlookOfVersion(std::nullopt));
}

// Outlook's stored bars and a default profile it logs on to without asking.
constexpr const char* kLogsOn = " barsfile profile \"Outlook\"\n";

// Not running: the registered version decides whether Outlook is started; nothing running is ever asked.
TEST_F(OutlookCleanupTest, ANotRunningOutlookIsStartedOnlyInAVersionThatKeptTheBars) {
  struct Case {
    std::string outlook;
    bool started;
  };
  for (const Case& c :
       {Case{"outlook installed version 16\n", false}, Case{"outlook installed version 14\n", false},
        Case{"outlook installed fileversion 15\n", false},
        Case{std::string("outlook installed version 12") + kLogsOn, true},
        Case{"outlook installed version 11 fileversion 16\n", false},
        Case{std::string("outlook installed version 16 fileversion 12") + kLogsOn, true},
        Case{"outlook installed version 12 fileversion 16 otherview\n", false},
        Case{std::string("outlook installed fileversion 12") + kLogsOn, true}, Case{"outlook installed\n", true}}) {
    SCOPED_TRACE(c.outlook);
    Run(c.outlook + std::string(kOutlookWithAddIn));
    EXPECT_EQ(c.started, Outlook().started);
    EXPECT_EQ(c.started ? 1 : 0, Outlook().quitCount);
    EXPECT_EQ(c.started ? 8u : 0u, Calls(*office_, L"Delete").size());
    if (!c.started) {
      EXPECT_EQ(std::vector<std::wstring>{L"ROT.GetActiveObject(\"Outlook.Application\")"}, Calls(*office_));
    }
    TearDown();
  }
}

TEST(DecideOutlookStart, OnlyWithStoredBarsAndADefaultProfileAndNoPrompt) {
  using State = UserRegistryValue::State;
  using Verdict = OutlookStartVerdict;
  const UserRegistryValue absent{};
  const UserRegistryValue unreadable{State::kUnreadable, {}};
  auto read = [](const wchar_t* text) { return UserRegistryValue{State::kRead, text}; };
  const std::wstring file = L"C:\\A\\Microsoft\\Outlook\\outcmd.dat";
  struct Case {
    OutlookStartSettings settings;
    Verdict verdict;
  };
  const Case cases[] = {
      {{file, true, read(L"Outlook"), absent}, Verdict::kStart},
      {{file, true, read(L"Outlook"), read(L"0")}, Verdict::kStart},
      {{L"", false, read(L"Outlook"), absent}, Verdict::kNoAppDataFolder},
      {{file, false, read(L"Outlook"), absent}, Verdict::kNoStoredBars},
      {{file, true, absent, absent}, Verdict::kNoDefaultProfile},
      {{file, true, read(L""), absent}, Verdict::kNoDefaultProfile},
      {{file, true, read(L"Outlook"), read(L"1")}, Verdict::kPromptsForProfile},
      {{file, true, read(L"Outlook"), read(L"yes")}, Verdict::kPromptsForProfile},  // only "0" says no prompt
      {{file, true, unreadable, absent}, Verdict::kSettingUnreadable},
      {{file, true, read(L"Outlook"), unreadable}, Verdict::kSettingUnreadable},
      // The first reason is told: no stored bars outweighs the rest.
      {{file, false, absent, read(L"1")}, Verdict::kNoStoredBars},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.verdict, DecideOutlookStart(c.settings))
        << ::testing::PrintToString(c.settings.barsFile) << " " << c.settings.barsFileExists << " "
        << ::testing::PrintToString(c.settings.defaultProfile.text) << " "
        << ::testing::PrintToString(c.settings.pickLogonProfile.text);
  }
}

// Outlook 2007 not running: started only where it stores bars and logs on without asking; otherwise nothing of
// it is started or called, and the channel says what was read and why.
TEST_F(OutlookCleanupTest, A2007NotRunningIsStartedOnlyWhereItStoresBarsAndLogsOnUnasked) {
  struct Case {
    const char* flags;
    bool started;
    const wchar_t* told;
  };
  const std::wstring file = L"C:\\Users\\user\\AppData\\Roaming\\Microsoft\\Outlook\\outcmd.dat";
  for (const Case& c : {
           Case{" barsfile profile \"Outlook\"", true,
                L" there, DefaultProfile \"Outlook\", PickLogonProfile not set: started"},
           Case{" barsfile profile \"Outlook\" pickprofile \"0\"", true, L"PickLogonProfile \"0\": started"},
           Case{" profile \"Outlook\"", false,
                L" not there, DefaultProfile \"Outlook\", PickLogonProfile not set: not "
                L"started: it stores no bars, so a start would find none"},
           Case{" barsfile", false,
                L"DefaultProfile not set, PickLogonProfile not set: not started: no default mail "
                L"profile, so a start would show its profile wizard"},
           Case{" barsfile profile \"Outlook\" pickprofile \"1\"", false,
                L"PickLogonProfile \"1\": not started: it prompts for a profile"},
       }) {
    SCOPED_TRACE(c.flags);
    testing::RecordedEvents events;
    office_ = LoadScenario(std::string("outlook installed version 12") + c.flags + "\n" + kOutlookWithAddIn);
    standin::MemoryAutomation automation(*office_);
    RemoveOutlookToolbars(automation.Access(), events);
    EXPECT_EQ(c.started, Outlook().started);
    EXPECT_EQ(c.started ? 8u : 0u, Calls(*office_, L"Delete").size());
    if (!c.started) {
      EXPECT_EQ(std::vector<std::wstring>{L"ROT.GetActiveObject(\"Outlook.Application\")"}, Calls(*office_));
      EXPECT_EQ(1u, events.lines.size());  // what was read is the last word
    }
    ASSERT_FALSE(events.lines.empty());
    const std::wstring& line = events.lines.front();
    EXPECT_EQ(0u, line.rfind(L"not running; version 12 (CurVer \"Outlook.Application.12\") is registered, one that "
                             L"kept the bars; read: " +
                                 file,
                             0))
        << ::testing::PrintToString(line);
    EXPECT_NE(std::wstring::npos, line.find(c.told)) << ::testing::PrintToString(line);
    TearDown();
  }
}

// A running Outlook is cleaned whatever its version, and one that attaching misses but whose process runs
// in the session is reached by the start as the user's: never given a window, never quit.
TEST_F(OutlookCleanupTest, ARunningOutlookOfAnyVersionIsCleanedAndNeverQuit) {
  struct Case {
    const char* outlook;
    size_t deletes;
  };
  for (const Case& c :
       {Case{"outlook running window version 16\n", 8}, Case{"outlook running window version 11\n", 8},
        Case{"outlook running unlisted process version 16\n", 0}, Case{"outlook running unlisted process\n", 0},
        Case{"outlook running unlisted process window late version 16\n", 8}}) {
    SCOPED_TRACE(c.outlook);
    Run(c.outlook + std::string(kOutlookWithAddIn));
    EXPECT_EQ(c.deletes, Calls(*office_, L"Delete").size());
    for (const wchar_t* member : {L"Add", L"Display", L"Quit", L"Explorers", L"Inspectors"}) {
      EXPECT_TRUE(Calls(*office_, member).empty()) << member;
    }
    TearDown();
  }
}

// A started Outlook is asked for its windows right after the start (was it the user's?) and again right
// before its Quit (has the user taken it up since?).
TEST_F(OutlookCleanupTest, AStartedOutlookIsAskedForItsWindowsAfterTheStartAndBeforeTheQuit) {
  Run(std::string("outlook installed\n") + kOutlookWithAddIn);
  const auto calls = Calls(*office_);
  ASSERT_GE(calls.size(), 12u);
  const std::vector<std::wstring> windows{L"Outlook.Explorers()", L"Explorers.Count()", L"Outlook.Inspectors()",
                                          L"Inspectors.Count()"};
  EXPECT_EQ(L"COM.CoCreateInstance(\"Outlook.Application\")", calls[1]);
  EXPECT_EQ(windows, std::vector<std::wstring>(calls.begin() + 2, calls.begin() + 6));
  EXPECT_EQ(L"Outlook.ActiveExplorer()", calls[6]);
  EXPECT_EQ(windows, std::vector<std::wstring>(calls.end() - 5, calls.end() - 1));
  EXPECT_EQ(L"Outlook.Quit()", calls.back());
  EXPECT_EQ(1, Outlook().quitCount);
}

TEST(MayQuitStartedOutlook, OnlyWithItsOwnMainWindowAndNoItemWindow) {
  struct Case {
    std::optional<std::int32_t> explorers;
    std::optional<std::int32_t> inspectors;
    std::int32_t own;
    bool quit;
  };
  for (const Case& c : {
           Case{1, 0, 1, true},
           Case{0, 0, 0, true},
           Case{0, 0, 1, true},  // Corvix's window, or none
           Case{2, 0, 1, false},
           Case{1, 0, 0, false},  // a main window of the user's
           Case{1, 1, 1, false},
           Case{0, 1, 0, false},  // an item window
           Case{std::nullopt, 0, 1, true},
           Case{1, std::nullopt, 1, true},  // unreadable: proves nothing
           Case{std::nullopt, 1, 1, false},
           Case{2, std::nullopt, 1, false},
       }) {
    EXPECT_EQ(c.quit, MayQuitStartedOutlook(c.explorers, c.inspectors, c.own))
        << c.explorers.value_or(-1) << " " << c.inspectors.value_or(-1) << " " << c.own;
  }
}

// An Outlook that was neither attached to nor started: the channel's last word on it is that.
TEST_F(OutlookCleanupTest, NotReachedIsTheLastThingSaid) {
  testing::RecordedEvents events;
  office_ = LoadScenario("");
  standin::MemoryAutomation automation(*office_);
  RemoveOutlookToolbars(automation.Access(), events);
  ASSERT_FALSE(events.lines.empty());
  EXPECT_EQ(0u, events.lines.back().rfind(L"not reached: ", 0)) << events.lines.back();
  EXPECT_EQ(2u, events.lines.size());  // the version read, then that
}

// The user's Outlook runs outside the running object table; the start reaches it (its class factory is
// multiple-use). Found by its main window, or by the windows it has open, it is cleaned as an attached one.
TEST_F(OutlookCleanupTest, AStartThatReachesTheUsersOutlookNeitherOpensNorQuits) {
  struct Case {
    const char* outlook;
    size_t deletes;
    bool countsRead;
  };
  for (const Case& c :
       {Case{"outlook running unlisted window\n", 8, false}, Case{"outlook running unlisted itemwindow\n", 0, true}}) {
    SCOPED_TRACE(c.outlook);
    Run(c.outlook + std::string(kOutlookWithAddIn));
    EXPECT_TRUE(Outlook().started);  // the start was made, and reached the running Outlook
    EXPECT_TRUE(Calls(*office_, L"Add").empty());
    EXPECT_TRUE(Calls(*office_, L"Display").empty());
    EXPECT_TRUE(Calls(*office_, L"Quit").empty());
    EXPECT_EQ(c.deletes, Calls(*office_, L"Delete").size());
    EXPECT_EQ(c.countsRead, !Calls(*office_, L"Inspectors").empty());
    TearDown();
  }
}

// With its main window there, the run is the attached run's, the start in place of the attach.
TEST_F(OutlookCleanupTest, ReachedThroughItsMainWindowTheRunIsTheAttachedOne) {
  Run(std::string("outlook running window\n") + kOutlookWithAddIn);
  auto attached = Calls(*office_);
  Run(std::string("outlook running unlisted window\n") + kOutlookWithAddIn);
  auto reached = Calls(*office_);
  ASSERT_FALSE(attached.empty());
  ASSERT_GE(reached.size(), 2u);
  EXPECT_EQ(L"COM.CoCreateInstance(\"Outlook.Application\")", reached[1]);
  attached.erase(attached.begin());
  reached.erase(reached.begin(), reached.begin() + 2);
  EXPECT_EQ(attached, reached);
}

TEST_F(OutlookCleanupTest, AToolsMenuInAnotherLanguageIsFoundByItsBuiltInId) {
  Run(R"(outlook running window
  explorer
    bar "Menu Bar" active
      popup "E&xtras" id 30007
        button "Regeln"
        button "Ours" parameter "Explorer Menu"
  inbox
    mail "Hallo"
      bar "Menu Bar" active
        popup "&Aktionen"
          button "Ours" parameter "Inspector Menu"
)");
  EXPECT_EQ(std::vector<std::wstring>{L"explorer bar 'Menu Bar'.FindControl(missing, I4 30007)"},
            Calls(*office_, L"FindControl"));
  // The item window's Actions menu has no built-in ID to fall back on: its items stay.
  EXPECT_EQ(std::vector<std::wstring>{L"button 'Ours'.Delete()"}, Calls(*office_, L"Delete"));
  EXPECT_TRUE(StateHas(*office_, L"button 'Ours' parameter 'Inspector Menu'"));
}

// Every call of a run against a started Outlook fails in turn: every reference is still released, and
// Outlook is still quit unless the failing call was the Quit itself.
TEST_F(OutlookCleanupTest, EveryFailingCallStillQuitsAStartedOutlookAndReleasesAll) {
  const std::string scenario = std::string("outlook installed\n") + kOutlookWithAddIn;
  Run(scenario);
  const size_t calls = office_->Journal().size();
  ASSERT_GT(calls, 30u);
  for (size_t n = 3; n <= calls; ++n) {
    SCOPED_TRACE("failing call " + std::to_string(n));
    Run(scenario + "fail call " + std::to_string(n) + "\n");
    const bool quitFailed = office_->Journal().at(n - 1).member == L"Quit";
    EXPECT_EQ(quitFailed ? 0 : 1, Outlook().quitCount);
    TearDown();
  }
}

// An attached Outlook is never quit, whatever fails.
TEST_F(OutlookCleanupTest, EveryFailingCallLeavesAnAttachedOutlookRunning) {
  const std::string scenario = std::string("outlook running window\n") + kOutlookWithAddIn;
  Run(scenario);
  const size_t calls = office_->Journal().size();
  for (size_t n = 2; n <= calls; ++n) {
    SCOPED_TRACE("failing call " + std::to_string(n));
    Run(scenario + "fail call " + std::to_string(n) + "\n");
    EXPECT_EQ(0, Outlook().quitCount);
    EXPECT_TRUE(Calls(*office_, L"Add").empty());
    TearDown();
  }
}

}  // namespace
}  // namespace corvix
