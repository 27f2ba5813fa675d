// What a run tells the debugger channel: the lines of found, missing, failed and given-up steps, and the
// summary.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/frm_main.h"
#include "app/run_context.h"
#include "app/run_trace.h"
#include "app/version.h"
#include "cleanup/outlook/outlook_cleanup.h"
#include "cleanup/word/word_cleanup.h"
#include "office/trace.h"
#include "tests/unit/test_support.h"

namespace corvix {
namespace {

using testing::RecordingSink;

constexpr const char* kWord = R"(word running
  bar "Merrowin Software"
    button "Find"
    popup "More"
    button "Send"
  bar "Menu Bar" active
    popup "&Tools"
      button "Ours" parameter "Inspector Menu"
      button "Spelling"
)";

class TraceTest : public ::testing::Test {
 protected:
  void RunWord(const std::string& scenario) {
    office_ = testing::LoadScenario(scenario);
    standin::MemoryAutomation automation(*office_);
    RemoveWordToolbars(automation.Access(), word_);
  }
  void TearDown() override {
    if (office_) {
      EXPECT_EQ(0, office_->HeldReferences()) << office_->HeldText();
    }
  }
  RecordingSink sink_;
  CleanupTrace word_{L"Word", &sink_};
  std::unique_ptr<standin::Office> office_;
};

TEST_F(TraceTest, AnAttachedWordTellsEachLookupAndDeletion) {
  RunWord(kWord);
  EXPECT_EQ((std::vector<std::wstring>{
                L"Corvix: Word: attached to the running instance",
                L"Corvix: Word: bar \"Merrowin Software\": found",
                L"Corvix: Word: bar \"Merrowin Software\": control 3 deleted",
                L"Corvix: Word: bar \"Merrowin Software\": control 1 deleted",
                L"Corvix: Word: bar \"Merrowin Software\" deleted",
                L"Corvix: Word: bar \"Merrowin Software Toolbar\": not there",
                L"Corvix: Word: menu \"&Tools\": found",
                L"Corvix: Word: menu \"&Tools\": control 1 deleted",
                L"Corvix: Word: Normal template saved, so that the deletions are stored now",
            }),
            sink_.lines);
  EXPECT_EQ(L"Word attached, 4 deleted, 0 failed", Describe(word_.Figures()));
}

TEST_F(TraceTest, AFailedDeletionIsToldWithItsStatusAndCounted) {
  RunWord(std::string(kWord) + "fail Delete on \"bar 'Merrowin Software'\" nth 1\n");
  EXPECT_EQ(1, std::count(sink_.lines.begin(), sink_.lines.end(),
                          L"Corvix: Word: bar \"Merrowin Software\" not deleted: 0x80010105 (injected failure)"))
      << ::testing::PrintToString(sink_.lines);
  EXPECT_EQ(L"Word attached, 3 deleted, 1 failed", Describe(word_.Figures()));
}

TEST_F(TraceTest, ALookupThatFailsIsToldApartFromOneThatFindsNothing) {
  RunWord(std::string(kWord) + "fail Item on \"Word bars\" nth 1\n");
  ASSERT_GE(sink_.lines.size(), 3u);
  EXPECT_EQ(L"Corvix: Word: bar \"Merrowin Software\": lookup failed 0x80010105 (injected failure)", sink_.lines[1]);
  EXPECT_EQ(L"Corvix: Word: bar \"Merrowin Software Toolbar\": not there", sink_.lines[2]);
}

TEST_F(TraceTest, AStartedWordIsToldAsStartedAndQuit) {
  RunWord("word installed\n  bar \"Merrowin Software\"\n");
  ASSERT_GE(sink_.lines.size(), 2u);
  EXPECT_EQ(
      L"Corvix: Word: not running; whether its Normal template stores the add-in's bars cannot be told (no "
      L"registered version can be read): started, as ever",
      sink_.lines[0]);
  EXPECT_EQ(L"Corvix: Word: not running; started", sink_.lines[1]);
  EXPECT_EQ(L"Corvix: Word: quit", sink_.lines.back());
  EXPECT_EQ(L"Word started, 1 deleted, 0 failed, quit", Describe(word_.Figures()));
}

TEST_F(TraceTest, AStartedWordTheUserTookOverIsToldAsLeftRunning) {
  RunWord("word installed\n  document \"Letter\" after Delete\n  bar \"Merrowin Software\"\n");
  EXPECT_EQ(L"Corvix: Word: left running: it holds a document that the user opened in it; nothing saved",
            sink_.lines.back());
}

TEST_F(TraceTest, AWordNeitherAttachedNorStartedIsToldWithBothFailures) {
  RunWord("");
  EXPECT_EQ(L"Corvix: Word: not reached: attach 0x800401E3, start 0x80040154", sink_.lines.back());
  EXPECT_EQ(2u, sink_.lines.size());
  EXPECT_EQ(L"Word not reached, 0 deleted, 0 failed", Describe(word_.Figures()));
}

TEST_F(TraceTest, OutlookTellsBothWindowsAndAnItemThatIsNoMail) {
  office_ = testing::LoadScenario(R"(outlook running window
  explorer
    bar "Menu Bar" active
      popup "&Tools"
        button "Ours" parameter "Explorer Menu"
  inbox
    meeting "Review"
)");
  standin::MemoryAutomation automation(*office_);
  CleanupTrace outlook(L"Outlook", &sink_);
  RemoveOutlookToolbars(automation.Access(), outlook);
  EXPECT_EQ((std::vector<std::wstring>{
                L"Corvix: Outlook: attached to the running instance",
                L"Corvix: Outlook: main window: bar \"Merrowin Software\": not there",
                L"Corvix: Outlook: main window: menu \"&Tools\": found",
                L"Corvix: Outlook: main window: menu \"&Tools\": control 1 deleted",
                L"Corvix: Outlook: the Inbox's first item is not a mail item: no item window",
            }),
            sink_.lines);
}

TEST_F(TraceTest, AStartThatReachesTheUsersOutlookIsToldAsSuch) {
  office_ = testing::LoadScenario("outlook running window unlisted\n  explorer\n");
  standin::MemoryAutomation automation(*office_);
  CleanupTrace outlook(L"Outlook", &sink_);
  RemoveOutlookToolbars(automation.Access(), outlook);
  ASSERT_FALSE(sink_.lines.empty());
  EXPECT_EQ(
      L"Corvix: Outlook: the start reached the user's running instance: treated as attached (no new window, "
      L"not quit)",
      sink_.lines.front());
  EXPECT_EQ(L"Outlook attached through a start (the user's), 0 deleted, 0 failed", Describe(outlook.Figures()));
}

// The sample run in docs/diagnostics.md is what the program writes for this Office.
TEST(DiagnosticsDoc, TheSampleRunIsWhatTheProgramWrites) {
  std::ifstream doc(CORVIX_SOURCE_DIR "/docs/diagnostics.md");
  ASSERT_TRUE(doc) << "docs/diagnostics.md not found";
  std::vector<std::wstring> sample;
  for (std::string line; std::getline(doc, line);) {
    if (line.rfind("    Corvix: ", 0) == 0) sample.emplace_back(line.begin() + 4, line.end());  // ASCII
  }
  ASSERT_GE(sample.size(), 4u);

  const auto office = testing::LoadScenario(R"(word running
  bar "Merrowin Software"
    button "Find"
    popup "More"
    button "Send"
  bar "Merrowin Software Toolbar"
    button "Open"
    button "Save to Merrowin"
  bar "Menu Bar" active
    popup "&Tools"
      button "Merrowin Options" parameter "Inspector Menu"
      button "Spelling"
      button "Merrowin Search" parameter "Inspector Menu"
outlook running window
  explorer
    bar "Merrowin Software"
      button "Find"
      button "Send"
    bar "Menu Bar" active
      popup "&Tools"
        button "Rules"
        button "Merrowin Options" parameter "Explorer Menu"
  inbox
    mail "Hello"
      bar "Merrowin Software"
        button "Reply with Merrowin"
      bar "Menu Bar" active
        popup "&Actions"
          button "Forward"
          button "Merrowin Reply" parameter "Inspector Menu"
)");
  RecordingSink sink;
  Report(&sink, event::RunStarted{L"/s", true});
  // An ordinary process of the desktop user, as the Windows program finds it (app/win32/launch_context.cc).
  RunFacts facts;
  facts.self = TokenFacts{L"S-1-5-21-1", false};
  facts.shell = facts.self;
  facts.shellFound = true;
  Report(&sink, event::Placed{facts, DecidePlacement(facts)});
  CleanupTrace word(L"Word", &sink);
  CleanupTrace outlook(L"Outlook", &sink);
  {
    standin::MemoryAutomation automation(*office);
    RemoveWordToolbars(automation.Access(), word);
    RemoveOutlookToolbars(automation.Access(), outlook);
  }
  Report(&sink, event::RunDone{560, {word.Figures(), outlook.Figures()}});
  EXPECT_EQ(sink.lines, sample);
}

class SilentShell : public Shell {
 public:
  explicit SilentShell(TraceSink& sink) : sink_(sink) {}
  std::wstring CommandLineArguments() override { return L"/s"; }
  void ShowMessage(std::wstring_view, std::wstring_view) override {}
  bool SomeoneCanAnswer() override { return true; }
  TraceSink* Trace() override { return &sink_; }
  std::uint32_t NowMs() override { return now += 1250; }
  std::uint32_t now = 0xFFFFF000u;  // the clock wraps around during the run

 private:
  TraceSink& sink_;
};

TEST(RunTrace, TheRunStartsWithItsArgumentsAndEndsWithItsSummary) {
  RecordingSink sink;
  SilentShell shell(sink);
  auto office = testing::LoadScenario("");
  testing::GivingUpRunner runner(*office, {true, true}, L"_CommandBars.Item", 3, 450);
  frmMain form(shell, runner);
  TellStart(shell);
  form.Form_Load();
  EXPECT_EQ((std::vector<std::wstring>{
                L"Corvix: version " CORVIX_VERSION_TEXT L", arguments \"/s\": silent",
                L"Corvix: Word: busy: Office turned calls away 3 times, 0.45 s in all, and they were tried again",
                L"Corvix: Word: given up at _CommandBars.Item: no answer for 60.00 s; the rest of this clean-up is "
                L"skipped and the application is left as it is",
                L"Corvix: Outlook: busy: Office turned calls away 3 times, 0.45 s in all, and they were tried again",
                L"Corvix: Outlook: given up at _CommandBars.Item: no answer for 60.00 s; the rest of this clean-up is "
                L"skipped and the application is left as it is",
                L"Corvix: done in 1.25 s: Word not reached, 0 deleted, 0 failed, given up; Outlook not reached, 0 "
                L"deleted, 0 failed, given up",
            }),
            sink.lines);
}

TEST(RunTrace, FailuresReadAsOneShortLine) {
  EXPECT_EQ(L"0x80070057", DescribeFailure(static_cast<std::int32_t>(0x80070057)));
  EXPECT_EQ(L"0x80004003 (an earlier step gave none)", DescribeFailure(kNoObject));
  EXPECT_EQ(L"0x80080005 (Server execution failed)",
            DescribeFailure(static_cast<std::int32_t>(0x80080005), L"Server execution failed.\r\n"));
  const std::wstring longText(500, L'x');
  const std::wstring described = DescribeFailure(1, longText);
  EXPECT_LT(described.size(), 240u);
  EXPECT_NE(std::wstring::npos, described.find(L"...)"));
}

// The lines whose words come from a number or an outcome rather than from the event's name.
TEST(RunTrace, LinesTellTheirNumbersAndOutcomes) {
  EXPECT_EQ(
      L"not running; not started: version 16 (file version of the server) is registered: Outlook 2010 and later "
      L"keep no add-in's bars, so a start would find none",
      Describe(event::NotStarted{16, L"file version of the server", kFirstOutlookWithoutStoredBars}));
  using Why = event::ShellNotAsked::Why;
  EXPECT_EQ(L"context: the desktop shell could not be asked to start a copy: 0x800706BA",
            Describe(event::ShellNotAsked{Why::kFailed, static_cast<std::int32_t>(0x800706BA)}));
  EXPECT_EQ(L"context: the desktop shell could not be asked to start a copy: no answer within 10.00 s",
            Describe(event::ShellNotAsked{Why::kNoAnswer}));
  EXPECT_EQ(L"context: the shell's copy reported in after 0.18 s and ended after 4.51 s",
            Describe(event::ShellCopy{CopyOutcome::kEnded, 180, 4510}));
  EXPECT_EQ(
      L"context: the shell's copy reported in after 0.18 s; still running at the bound, 240.00 s: left to finish; "
      L"this process ends",
      Describe(event::ShellCopy{CopyOutcome::kStillRunning, 180, 0}));
}

constexpr Subject kBar{Subject::Window::kOnly, Subject::Kind::kBar, L"Merrowin Software"};

TEST(RunTrace, LookupsAreToldByWhatOfficeAnswered) {
  const Subject menu{Subject::Window::kItem, Subject::Kind::kMenu, L"&Actions"};
  EXPECT_EQ(L"item window: menu \"&Actions\": found", Describe(event::Looked{menu, true, {}}));
  EXPECT_EQ(L"item window: menu \"&Actions\": not there", Describe(event::Looked{menu, false, {}}));
  EXPECT_EQ(L"item window: menu \"&Actions\": not there",
            Describe(event::Looked{menu, false, {static_cast<std::int32_t>(0x80070057), L"ignored"}}));
  EXPECT_EQ(L"item window: menu \"&Actions\": there, but not a menu",
            Describe(event::Looked{menu, false, {kWrongType, {}}}));
  EXPECT_EQ(L"item window: menu \"&Actions\": lookup failed 0x800706BA (RPC server unavailable)",
            Describe(event::Looked{menu, false, {static_cast<std::int32_t>(0x800706BA), L"RPC server unavailable."}}));
  EXPECT_EQ(L"item window: menu \"&Actions\": lookup failed 0x80004003 (an earlier step gave none)",
            Describe(event::Looked{menu, false, {kNoObject, {}}}));
}

TEST(RunTrace, NoSinkWritesNothingButStillCounts) {
  CleanupTrace trace(L"Word", nullptr);
  trace.Report(event::Deleted{kBar, 2, {}});
  trace.Report(event::Deleted{kBar, 1, {kNoObject, {}}});
  trace.Report(event::Quit{{kNoObject, {}}});
  EXPECT_EQ(1u, trace.deleted());
  EXPECT_EQ(2u, trace.failed());
  EXPECT_EQ(L"Word not reached, 1 deleted, 2 failed", Describe(trace.Figures()));
}

// A sink that a listener has stopped taking lines from, for the deletion lines only: their Write waits until
// the test lets it go. Every line that gets through is recorded.
class StuckSink : public TraceSink {
 public:
  void Write(std::wstring_view line) override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (line.find(L" deleted") != std::wstring_view::npos) {
      stuck_ = true;
      changed_.notify_all();
      changed_.wait(lock, [this] { return released_; });
    }
    lines_.emplace_back(line);
  }
  void WaitUntilStuck() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return stuck_; });
  }
  void Release() {
    const std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  std::vector<std::wstring> lines() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stuck_ = false;
  bool released_ = false;
  std::vector<std::wstring> lines_;
};

TEST(RunTrace, ALineStuckInTheSinkDoesNotHoldUpTheWatchersGiveUp) {
  StuckSink sink;
  CleanupTrace trace(L"Word", &sink);
  // The clean-up's thread writes a deletion, and the sink holds it there.
  std::thread cleanup([&trace] { trace.Report(event::Deleted{kBar, 3, {}}); });
  sink.WaitUntilStuck();
  // Meanwhile the watching thread gives the clean-up up, on the same account.
  auto watcher = std::async(std::launch::async, [&trace] {
    trace.Report(event::GivenUp{L"Delete", event::GivenUp::Why::kNoAnswer, 60000});
  });
  const bool returned = watcher.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  sink.Release();
  cleanup.join();
  watcher.get();
  EXPECT_TRUE(returned) << "the give-up waited for the line stuck in the sink";
  EXPECT_TRUE(trace.givenUp());
  EXPECT_EQ((std::vector<std::wstring>{L"Corvix: Word: given up at Delete: no answer for 60.00 s; the rest of this "
                                       L"clean-up is skipped and the application is left as it is",
                                       L"Corvix: Word: bar \"Merrowin Software\": control 3 deleted"}),
            sink.lines());
}

}  // namespace
}  // namespace corvix
