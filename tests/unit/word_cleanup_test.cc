// RemoveWordToolbars, FindWordMenubar and RemoveWordMenus against the stand-in Word.
#include <gtest/gtest.h>

#include "cleanup/word/word_cleanup.h"
#include "tests/unit/test_support.h"

namespace corvix {
namespace {

using testing::Calls;
using testing::LoadScenario;
using testing::StateHas;

// Word with both of the add-in's bars and a Tools menu holding its items among others.
constexpr const char* kWordWithAddIn = R"(
  bar "Merrowin Software"
    button "Find"
    popup "More"
    button "Send"
  bar "Merrowin Software Toolbar"
    button "Open"
  bar "Standard" builtin
    button "Save"
  bar "Menu Bar" active
    popup "&File"
    popup "&Tools"
      button "Ours" parameter "Inspector Menu"
      button "Spelling"
      popup "Macro"
      button "Ours too" parameter "Inspector Menu"
      button "Lower" parameter "inspector menu"
      button "Outlook's" parameter "Explorer Menu"
)";

class WordCleanupTest : public ::testing::Test {
 protected:
  void Run(const std::string& scenario) {
    office_ = LoadScenario(scenario);
    standin::MemoryAutomation automation(*office_);
    RemoveWordToolbars(automation.Access());
  }
  const standin::Application& Word() { return *office_->Applications().at(0); }
  void TearDown() override {
    if (office_) {
      EXPECT_EQ(0, office_->HeldReferences()) << office_->HeldText();
    }
  }
  std::unique_ptr<standin::Office> office_;
};

TEST_F(WordCleanupTest, RunningWordLosesTheBarsAndMarkedItemsAndKeepsRunning) {
  Run(std::string("word running\n") + kWordWithAddIn);
  EXPECT_EQ((std::vector<std::wstring>{L"button 'Send'.Delete()", L"button 'Find'.Delete()",
                                       L"bar 'Merrowin Software'.Delete()", L"button 'Open'.Delete()",
                                       L"bar 'Merrowin Software Toolbar'.Delete()", L"button 'Ours too'.Delete()",
                                       L"button 'Ours'.Delete()"}),
            Calls(*office_, L"Delete"));
  EXPECT_TRUE(Calls(*office_, L"Quit").empty());
  EXPECT_TRUE(Calls(*office_, L"CoCreateInstance").empty());
  EXPECT_FALSE(Word().visible);
  EXPECT_TRUE(StateHas(*office_, L"button 'Spelling'"));
  EXPECT_TRUE(StateHas(*office_, L"popup 'Macro'"));
  EXPECT_TRUE(StateHas(*office_, L"button 'Lower' parameter 'inspector menu'"));
  EXPECT_TRUE(StateHas(*office_, L"button 'Outlook\'s' parameter 'Explorer Menu'"));
}

TEST_F(WordCleanupTest, WordNotRunningIsStartedCleanedAndQuitOnceSaving) {
  Run(std::string("word installed\n") + kWordWithAddIn);
  EXPECT_EQ(std::vector<std::wstring>{L"COM.CoCreateInstance(\"Word.Application\")"},
            Calls(*office_, L"CoCreateInstance"));
  EXPECT_EQ(std::vector<std::wstring>{L"Word.Quit(BOOL true)"}, Calls(*office_, L"Quit"));
  EXPECT_EQ(office_->Journal().back().member, L"Quit");  // after all the cleaning
  EXPECT_EQ(7u, Calls(*office_, L"Delete").size());
  EXPECT_FALSE(Word().visible);
}

TEST_F(WordCleanupTest, WordNotInstalledEndsAfterTheStartAttempt) {
  Run("");
  EXPECT_EQ((std::vector<std::wstring>{L"ROT.GetActiveObject(\"Word.Application\")",
                                       L"COM.CoCreateInstance(\"Word.Application\")"}),
            Calls(*office_));
}

TEST_F(WordCleanupTest, OnlyTheSecondBarExists) {
  Run(R"(word running
  bar "Merrowin Software Toolbar"
    button "Open"
  bar "Menu Bar" active
    popup "&Tools"
      button "Ours" parameter "Inspector Menu"
)");
  EXPECT_EQ((std::vector<std::wstring>{L"button 'Open'.Delete()", L"bar 'Merrowin Software Toolbar'.Delete()",
                                       L"button 'Ours'.Delete()"}),
            Calls(*office_, L"Delete"));
}

TEST_F(WordCleanupTest, NoUsableToolsMenuLeavesTheRestDone) {
  for (const char* menuBar :
       {"", "  bar \"Menu Bar\" active\n    button \"&Tools\"\n", "  bar \"Menu Bar\" active\n    popup \"&Help\"\n"}) {
    SCOPED_TRACE(menuBar);
    Run(std::string("word installed\n  bar \"Merrowin Software\"\n    button \"Find\"\n") + menuBar);
    EXPECT_EQ((std::vector<std::wstring>{L"button 'Find'.Delete()", L"bar 'Merrowin Software'.Delete()"}),
              Calls(*office_, L"Delete"));
    EXPECT_EQ(1u, Calls(*office_, L"Quit").size());
    TearDown();
  }
}

TEST_F(WordCleanupTest, FindWordMenubarFindsOnlyAMenu) {
  office_ = LoadScenario(std::string("word running\n") + kWordWithAddIn);
  standin::MemoryAutomation automation(*office_);
  const Found<Object> wdApp = automation.Attach(L"Word.Application", word_types::kApplication);
  const auto menu = [](std::wstring_view caption) {
    return Subject{Subject::Window::kOnly, Subject::Kind::kMenu, caption};
  };
  EXPECT_TRUE(FindWordMenubar(wdApp.value, menu(L"&Tools")));
  EXPECT_FALSE(FindWordMenubar(wdApp.value, menu(L"&Help")));
  EXPECT_FALSE(FindWordMenubar(Object(), menu(L"&Tools")));
}

TEST(MaySaveNormalTemplate, OnlyWhenTheCleanUpAloneChangedIt) {
  EXPECT_TRUE(MaySaveNormalTemplate(true, false));
  EXPECT_FALSE(MaySaveNormalTemplate(true, true));    // nothing was deleted
  EXPECT_FALSE(MaySaveNormalTemplate(false, false));  // the user's unsaved changes
  EXPECT_FALSE(MaySaveNormalTemplate(std::nullopt, false));
  EXPECT_FALSE(MaySaveNormalTemplate(true, std::nullopt));
}

// An attached Word whose Normal had nothing unsaved saves it once, after the last deletion, with its alerts
// off for the Save alone; its CustomizationContext is Normal for the clean-up and the user's again after it.
TEST_F(WordCleanupTest, AnAttachedWordSavesACleanNormalOnceAfterTheLastDeletion) {
  Run(std::string("word running alerts -2\n") + kWordWithAddIn);
  const auto calls = Calls(*office_);
  ASSERT_GE(calls.size(), 12u);
  EXPECT_EQ((std::vector<std::wstring>{L"Word.NormalTemplate()", L"Word.CustomizationContext()",
                                       L"Word.CustomizationContext = Normal", L"Normal.Saved()"}),
            std::vector<std::wstring>(calls.begin() + 1, calls.begin() + 5));
  EXPECT_EQ((std::vector<std::wstring>{L"button 'Ours'.Delete()", L"Word.CustomizationContext = Normal",
                                       L"Normal.Saved()", L"Normal.FullName()", L"Word.DisplayAlerts()",
                                       L"Word.DisplayAlerts = I4 0", L"Normal.Save()", L"Word.DisplayAlerts = I4 -2"}),
            std::vector<std::wstring>(calls.end() - 8, calls.end()));
  EXPECT_TRUE(StateHas(*office_, L"normal template: saved yes, Save called 1 times"));
  EXPECT_FALSE(StateHas(*office_, L"left at"));  // DisplayAlerts and CustomizationContext as the user had them
}

// A macro made another template the CustomizationContext: the deletions still land in Normal, which is saved,
// and the user's context is given back.
TEST_F(WordCleanupTest, TheDeletionsLandInNormalWhateverTheContextNamed) {
  Run(std::string("word running\n  template \"Merrowin.dotm\" context\n") + kWordWithAddIn);
  EXPECT_EQ(L"Word.CustomizationContext = template 'Merrowin.dotm'", Calls(*office_, L"CustomizationContext").back());
  EXPECT_TRUE(StateHas(*office_, L"normal template: saved yes, Save called 1 times"));
  EXPECT_FALSE(StateHas(*office_, L"template 'Merrowin.dotm': saved"));
  EXPECT_FALSE(StateHas(*office_, L"left at"));
}

// When the context cannot be set, the deletions go where it names: that template's Saved is what is read.
TEST_F(WordCleanupTest, AContextThatCannotBeSetIsTheTemplateWhoseSavedIsRead) {
  Run(std::string("word running\n  template \"Merrowin.dotm\" context\nfail CustomizationContext nth 2\n") +
      kWordWithAddIn);
  EXPECT_EQ(2u, Calls(*office_, L"CustomizationContext").size());  // read and the failed set; nothing to give back
  EXPECT_TRUE(Calls(*office_, L"Saved").size() == 2 &&
              Calls(*office_, L"Saved")[0] == L"template 'Merrowin.dotm'.Saved()");
  EXPECT_TRUE(StateHas(*office_, L"template 'Merrowin.dotm': saved yes, Save called 1 times"));
  EXPECT_FALSE(StateHas(*office_, L"normal template"));
}

// Normal's file is read-only or gone: a Save would meet a message or Save As. Nothing is saved, and Word's
// alerts are not touched.
TEST_F(WordCleanupTest, ANormalWhoseFileCannotBeWrittenIsNotSaved) {
  for (const char* normal : {"  normal \"Normal.dotm\" readonly\n", "  normal \"Normal.dotm\" missing\n"}) {
    SCOPED_TRACE(normal);
    Run(std::string("word running\n") + normal + kWordWithAddIn);
    EXPECT_EQ(7u, Calls(*office_, L"Delete").size());
    EXPECT_EQ(std::vector<std::wstring>{L"Normal.FullName()"}, Calls(*office_, L"FullName"));
    EXPECT_TRUE(Calls(*office_, L"Save").empty());
    EXPECT_TRUE(Calls(*office_, L"DisplayAlerts").empty());
    TearDown();
  }
}

// Alerts that cannot be read or turned off: no Save, since it could show a message. A Save that fails still
// gives the user's alerts back.
TEST_F(WordCleanupTest, TheSaveHappensOnlyWithAlertsOffAndTheyAreAlwaysGivenBack) {
  for (const char* fault : {"fail DisplayAlerts nth 1\n", "fail DisplayAlerts nth 2\n"}) {
    SCOPED_TRACE(fault);
    Run(std::string("word running\n") + fault + kWordWithAddIn);
    EXPECT_TRUE(Calls(*office_, L"Save").empty());
    TearDown();
  }
  Run(std::string("word running alerts -2\nfail Save\n") + kWordWithAddIn);
  EXPECT_EQ(L"Word.DisplayAlerts = I4 -2", Calls(*office_).back());
}

TEST_F(WordCleanupTest, AnAttachedWordIsNotToldToSaveWhenNormalWasNotCleanOrUnknown) {
  for (const char* word :
       {"word running normal unsaved\n", "word running\nfail Saved nth 1\n", "word running\nfail Saved nth 2\n"}) {
    SCOPED_TRACE(word);
    Run(word + std::string(kWordWithAddIn));
    EXPECT_EQ(7u, Calls(*office_, L"Delete").size());
    EXPECT_TRUE(Calls(*office_, L"Save").empty());
    TearDown();
  }
  // Nothing deleted: nothing to save.
  Run("word running\n");
  EXPECT_TRUE(Calls(*office_, L"Save").empty());
}

// A started Word shows nobody its messages: its alerts go off before anything else, and its Normal is saved
// by the Quit alone.
TEST_F(WordCleanupTest, AStartedWordTurnsItsAlertsOffFirstAndLeavesNormalToTheQuit) {
  Run(std::string("word installed\n") + kWordWithAddIn);
  const auto calls = Calls(*office_);
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(L"Word.DisplayAlerts = I4 0", calls[2]);  // after the attach and the start
  EXPECT_EQ(1u, Calls(*office_, L"DisplayAlerts").size());
  EXPECT_TRUE(Calls(*office_, L"Save").empty());
  EXPECT_TRUE(Calls(*office_, L"Saved").empty());
  EXPECT_EQ(std::vector<std::wstring>{L"Word.Quit(BOOL true)"}, Calls(*office_, L"Quit"));
}

// A Word whose process runs in the session without any window, out of reach of attaching: not started.
TEST_F(WordCleanupTest, AWordProcessOutOfReachWithoutAWindowIsNotStartedASecondTime) {
  Run(std::string("word running unlisted process nowindow\n") + kWordWithAddIn);
  EXPECT_EQ(std::vector<std::wstring>{L"ROT.GetActiveObject(\"Word.Application\")"}, Calls(*office_));
  // Without its process in the session, the same Word is reached by the start, as ever.
  Run(std::string("word running unlisted nowindow\n") + kWordWithAddIn);
  EXPECT_FALSE(Calls(*office_, L"CoCreateInstance").empty());
}

TEST_F(WordCleanupTest, AStartedWordIsAskedForItsDocumentsJustBeforeTheQuit) {
  Run(std::string("word installed\n") + kWordWithAddIn);
  const auto calls = Calls(*office_);
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ((std::vector<std::wstring>{L"Word.Documents()", L"Documents.Count()", L"Word.Quit(BOOL true)"}),
            std::vector<std::wstring>(calls.end() - 3, calls.end()));
  EXPECT_EQ(1u, Calls(*office_, L"Documents").size());
}

TEST_F(WordCleanupTest, AnAttachedWordIsNeverAskedForItsDocuments) {
  Run(std::string("word running\n  document \"Letter\"\n") + kWordWithAddIn);
  EXPECT_TRUE(Calls(*office_, L"Documents").empty());
  EXPECT_TRUE(Calls(*office_, L"Quit").empty());
}

// The user opened a document in the hidden Word that was started here, while it was being cleaned.
TEST_F(WordCleanupTest, AStartedWordThatTheUserTookOverIsLeftRunningUnsaved) {
  for (const char* arrival : {"  document \"Letter\" after Delete\n", "  document \"Letter\" after call 3\n"}) {
    SCOPED_TRACE(arrival);
    Run(std::string("word installed\n") + arrival + kWordWithAddIn);
    EXPECT_TRUE(Calls(*office_, L"Quit").empty());
    EXPECT_EQ(0, Word().quitCount);
    EXPECT_FALSE(Word().savedOnQuit.has_value());
    const auto calls = Calls(*office_);
    EXPECT_EQ((std::vector<std::wstring>{L"Documents.Count()", L"Word.DisplayAlerts = I4 -1"}),
              std::vector<std::wstring>(calls.end() - 2, calls.end()));
    EXPECT_FALSE(StateHas(*office_, L"display alerts left at"));  // what a Word starts with
    // The cleaning itself was done.
    EXPECT_EQ(7u, Calls(*office_, L"Delete").size());
    TearDown();
  }
}

// Word runs but is not in the running object table: a start would make a second, hidden Word.
TEST_F(WordCleanupTest, ARunningWordOutOfReachIsNeitherStartedNorTouched) {
  Run(std::string("word running unlisted\n") + kWordWithAddIn);
  EXPECT_EQ(std::vector<std::wstring>{L"ROT.GetActiveObject(\"Word.Application\")"}, Calls(*office_));
  EXPECT_FALSE(Word().started);
  EXPECT_TRUE(StateHas(*office_, L"bar 'Merrowin Software'\n"));
}

// German Word: the Tools menu is "E&xtras"; its built-in ID finds it.
TEST_F(WordCleanupTest, AToolsMenuInAnotherLanguageIsFoundByItsBuiltInId) {
  Run(R"(word running
  bar "Menu Bar" active
    popup "&Datei" id 30002
    popup "E&xtras" id 30007
      button "Rechtschreibung"
      button "Ours" parameter "Inspector Menu"
)");
  EXPECT_EQ(std::vector<std::wstring>{L"bar 'Menu Bar'.FindControl(missing, I4 30007)"},
            Calls(*office_, L"FindControl"));
  EXPECT_EQ(std::vector<std::wstring>{L"button 'Ours'.Delete()"}, Calls(*office_, L"Delete"));
  EXPECT_TRUE(StateHas(*office_, L"button 'Rechtschreibung'"));
}

TEST_F(WordCleanupTest, AnEnglishToolsMenuIsFoundByItsCaptionAlone) {
  Run(std::string("word running\n") + kWordWithAddIn);
  EXPECT_TRUE(Calls(*office_, L"FindControl").empty());
  EXPECT_TRUE(Calls(*office_, L"Id").empty());
}

// Every call of a run against a started Word fails in turn: the run still ends with every reference
// released, and Word is still quit unless the failing call was the Quit itself or the start.
TEST_F(WordCleanupTest, EveryFailingCallStillQuitsAStartedWordAndReleasesAll) {
  const std::string scenario = std::string("word installed\n") + kWordWithAddIn;
  office_ = LoadScenario(scenario);
  {
    standin::MemoryAutomation automation(*office_);
    RemoveWordToolbars(automation.Access());
  }
  const size_t calls = office_->Journal().size();
  ASSERT_GT(calls, 20u);
  for (size_t n = 3; n <= calls; ++n) {  // 1 and 2 are the attach and the start, not calls into Word
    SCOPED_TRACE("failing call " + std::to_string(n));
    Run(scenario + "fail call " + std::to_string(n) + "\n");
    const bool quitFailed = office_->Journal().at(n - 1).member == L"Quit";
    EXPECT_EQ(quitFailed ? 0 : 1, Word().quitCount);
    EXPECT_EQ(1u, Calls(*office_, L"Quit").size());
    TearDown();
  }
}

}  // namespace
}  // namespace corvix
