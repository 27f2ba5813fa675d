// RemoveCommandBar and the shared menu purge against the stand-in model.
#include <gtest/gtest.h>

#include "office/command_bars.h"
#include "tests/unit/test_support.h"

namespace corvix {
namespace {

using testing::Calls;
using testing::LoadScenario;
using testing::StateHas;

// Fetches a bar of the stand-in Word through the automation surface, as a clean-up would.
class CommandBarTest : public ::testing::Test {
 protected:
  void Load(const std::string& scenario) {
    office_ = LoadScenario(scenario);
    automation_ = std::make_unique<standin::MemoryAutomation>(*office_);
  }
  CommandBars Bars() {
    app_ = automation_->Attach(L"Word.Application", kApp).value;
    return CommandBars(app_.GetObject(L"CommandBars", office_types::kCommandBars));
  }
  void TearDown() override {
    app_.Reset();
    if (office_) {
      EXPECT_EQ(0, office_->HeldReferences()) << office_->HeldText();
    }
  }

  static constexpr Interface kApp{L"Word._Application"};
  static constexpr Subject kBar{Subject::Window::kOnly, Subject::Kind::kBar, L"Merrowin Software"};
  static constexpr Subject kTools{Subject::Window::kOnly, Subject::Kind::kMenu, L"&Tools"};
  static constexpr Subject kActions{Subject::Window::kOnly, Subject::Kind::kMenu, L"&Actions"};
  std::unique_ptr<standin::Office> office_;
  std::unique_ptr<standin::MemoryAutomation> automation_;
  Object app_;
};

TEST_F(CommandBarTest, EmptyBarIsOnlyDeleted) {
  Load("word running\n  bar \"Merrowin Software\"\n");
  RemoveCommandBar(Bars().Item(L"Merrowin Software").value, kBar);
  EXPECT_EQ(std::vector<std::wstring>{L"bar 'Merrowin Software'.Delete()"}, Calls(*office_, L"Delete"));
  EXPECT_TRUE(Calls(*office_, L"Item").size() == 1);  // the bar lookup, no control visited
}

TEST_F(CommandBarTest, ButtonsGoLastFirstAndAPopupGoesWithTheBar) {
  Load(R"(word running
  bar "Merrowin Software"
    button "One"
    popup "More"
      button "Inner"
    button "Three"
)");
  RemoveCommandBar(Bars().Item(L"Merrowin Software").value, kBar);
  const auto items = Calls(*office_, L"Item");
  EXPECT_EQ((std::vector<std::wstring>{
                L"Word bars.Item(BSTR \"Merrowin Software\")", L"controls of 'Merrowin Software'.Item(I4 3)",
                L"controls of 'Merrowin Software'.Item(I4 2)", L"controls of 'Merrowin Software'.Item(I4 1)"}),
            items);
  EXPECT_EQ((std::vector<std::wstring>{L"button 'Three'.Delete()", L"button 'One'.Delete()",
                                       L"bar 'Merrowin Software'.Delete()"}),
            Calls(*office_, L"Delete"));
  // The popup was not deleted on its own: it is still on the (deleted) bar, with its own button.
  EXPECT_TRUE(StateHas(*office_, L"bar 'Merrowin Software' deleted\n    popup 'More'\n      button 'Inner'\n"))
      << office_->StateText();
}

TEST_F(CommandBarTest, ButtonsGoEvenWhenTheBarCannotBeDeleted) {
  Load("word running\n  bar \"Merrowin Software\" builtin\n    button \"One\"\n    button \"Two\"\n");
  RemoveCommandBar(Bars().Item(L"Merrowin Software").value, kBar);
  EXPECT_EQ(3u, Calls(*office_, L"Delete").size());
  EXPECT_TRUE(StateHas(*office_, L"  bar 'Merrowin Software'\n")) << office_->StateText();
  EXPECT_FALSE(StateHas(*office_, L"button 'One'"));
  EXPECT_FALSE(StateHas(*office_, L"button 'Two'"));
}

TEST_F(CommandBarTest, FailedStepsSkipOnlyThemselves) {
  struct Case {
    const char* fault;
    std::vector<std::wstring> deletes;
  } cases[] = {
      // A count that cannot be read visits no control; the bar deletion is still tried.
      {"fail Count", {L"bar 'Merrowin Software'.Delete()"}},
      // A failed lookup or conversion skips that control only.
      {"fail Item on \"controls\" nth 1", {L"button 'One'.Delete()", L"bar 'Merrowin Software'.Delete()"}},
      {"fail Type nth 2", {L"button 'Two'.Delete()", L"bar 'Merrowin Software'.Delete()"}},
      // A failed button deletion leaves that button and goes on.
      {"fail Delete nth 1", {L"button 'Two'.Delete()", L"button 'One'.Delete()", L"bar 'Merrowin Software'.Delete()"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    Load(std::string("word running\n  bar \"Merrowin Software\"\n    button \"One\"\n    button \"Two\"\n") + c.fault +
         "\n");
    RemoveCommandBar(Bars().Item(L"Merrowin Software").value, kBar);
    EXPECT_EQ(c.deletes, Calls(*office_, L"Delete"));
    TearDown();
  }
}

TEST_F(CommandBarTest, PurgeDeletesOnlyExactMarkersVisitingEveryPosition) {
  Load(R"(word running
  bar "Menu Bar" active
    popup "&Tools"
      button "Ours" parameter "Inspector Menu"
      button "Built-in"
      popup "Submenu"
        button "Nested" parameter "Inspector Menu"
      button "Lower" parameter "inspector menu"
      button "Explorer" parameter "Explorer Menu"
      combobox "Zoom"
      button "Spaced" parameter "Inspector Menu "
      button "Ours too" parameter "Inspector Menu"
)");
  RemoveMarkedButtons(FindMenu(Bars().ActiveMenuBar(), L"&Tools").value, {L"Inspector Menu"}, kTools);
  std::vector<std::wstring> visited;
  for (const auto& call : Calls(*office_, L"Item")) {
    if (call.rfind(L"controls of '&Tools'", 0) == 0) visited.push_back(call.substr(call.find(L'(')));
  }
  EXPECT_EQ((std::vector<std::wstring>{L"(I4 8)", L"(I4 7)", L"(I4 6)", L"(I4 5)", L"(I4 4)", L"(I4 3)", L"(I4 2)",
                                       L"(I4 1)"}),
            visited);
  EXPECT_EQ((std::vector<std::wstring>{L"button 'Ours too'.Delete()", L"button 'Ours'.Delete()"}),
            Calls(*office_, L"Delete"));
  for (const wchar_t* kept : {L"Built-in", L"Submenu", L"Nested", L"Lower", L"Explorer", L"Zoom", L"Spaced"}) {
    EXPECT_TRUE(StateHas(*office_, std::wstring(L"'") + kept + L"'")) << kept;
  }
}

TEST_F(CommandBarTest, PurgeReadsParameterOncePerMarkerAndKeepsAButtonWhoseReadFails) {
  Load(R"(word running
  bar "Menu Bar" active
    popup "&Tools"
      button "A" parameter "Inspector Menu"
      button "B" parameter "Explorer Menu"
fail Parameter on "button 'B'"
)");
  RemoveMarkedButtons(FindMenu(Bars().ActiveMenuBar(), L"&Tools").value, {L"Explorer Menu", L"Inspector Menu"}, kTools);
  EXPECT_EQ(
      (std::vector<std::wstring>{L"button 'B'.Parameter()", L"button 'A'.Parameter()", L"button 'A'.Parameter()"}),
      Calls(*office_, L"Parameter"));
  EXPECT_EQ(std::vector<std::wstring>{L"button 'A'.Delete()"}, Calls(*office_, L"Delete"));
}

// None tells why: another kind of control, no such control, or the menu bar's own lookup that failed.
TEST_F(CommandBarTest, FindMenuYieldsNoneForAMissingOrNonMenuControl) {
  Load(R"(word running
  bar "Menu Bar" active
    button "&Tools"
    popup "&Help"
)");
  const Found<CommandBar> menuBar = Bars().ActiveMenuBar();
  const Found<CommandBarPopup> button = FindMenu(menuBar, L"&Tools");
  EXPECT_FALSE(button);
  EXPECT_EQ(kWrongType, button.outcome.status);
  const Found<CommandBarPopup> missing = FindMenu(menuBar, L"&Actions");
  EXPECT_FALSE(missing);
  EXPECT_NE(kWrongType, missing.outcome.status);
  EXPECT_TRUE(FindMenu(menuBar, L"&Help"));
  const Found<CommandBarPopup> noBar = FindMenu({{}, {static_cast<std::int32_t>(0x800706BA), L"gone"}}, L"&Help");
  EXPECT_FALSE(noBar);
  EXPECT_EQ(static_cast<std::int32_t>(0x800706BA), noBar.outcome.status);
  EXPECT_EQ(L"gone", noBar.outcome.description);
}

TEST_F(CommandBarTest, TheBuiltInIdIsTriedOnlyForToolsAndOnlyWhenTheCaptionFindsNoMenu) {
  Load(R"(word running
  bar "Menu Bar" active
    button "Werkzeug" id 30007
    popup "&Aktionen" id 30131
    popup "E&xtras" id 30007
)");
  const Found<CommandBar> menuBar = Bars().ActiveMenuBar();
  // The first control with the ID is a button: FindControl finds it, and it is no menu.
  EXPECT_FALSE(FindMenuInAnyLanguage(menuBar, kTools));
  EXPECT_EQ(std::vector<std::wstring>{L"bar 'Menu Bar'.FindControl(missing, I4 30007)"},
            Calls(*office_, L"FindControl"));
  // No ID is known for Actions; a failed caption look-up ends there.
  EXPECT_FALSE(FindMenuInAnyLanguage(menuBar, kActions));
  EXPECT_EQ(1u, Calls(*office_, L"FindControl").size());
  EXPECT_FALSE(FindMenuInAnyLanguage(Found<CommandBar>{}, kTools));
}

TEST_F(CommandBarTest, AFailingFindControlYieldsNone) {
  Load("word running\n  bar \"Menu Bar\" active\n    popup \"E&xtras\" id 30007\nfail FindControl\n");
  const Found<CommandBarPopup> menu = FindMenuInAnyLanguage(Bars().ActiveMenuBar(), kTools);
  EXPECT_FALSE(menu);
  EXPECT_EQ(static_cast<std::int32_t>(0x80010105), menu.outcome.status);
}

}  // namespace
}  // namespace corvix
