// The stand-in model itself: scenarios, strictness, faults and reference counts.
#include <gtest/gtest.h>

#include <tuple>

#include "standin/model/command_bar_model.h"
#include "standin/model/word_model.h"
#include "tests/unit/test_support.h"

namespace standin {
namespace {

TEST(Scenario, RejectsMalformedLines) {
  for (const char* bad :
       {"bar \"X\"\n", "word running\n  bar X\n", "word running\n  button \"A\"\n", "word running\n  bar \"X\n",
        "frobnicate\n", "fail call 0\n", "busy 0 rejected\n", "busy 2\n", "busy 2 later\n", "slow\n", "slow 0\n",
        "word installed unlisted\n", "document \"D\"\n", "outlook installed\n  document \"D\"\n",
        "word installed\n  document D\n", "word installed\n  document \"D\" after call 0\n",
        "word running\n  bar \"B\"\n    popup \"P\" id 0\n"}) {
    std::string error;
    EXPECT_EQ(nullptr, Office::FromScenario(bad, &error)) << bad;
    EXPECT_NE(std::string::npos, error.find("line")) << bad;
  }
}

TEST(Scenario, NestsControlsByIndentationAndKeepsNonAsciiText) {
  auto office = corvix::testing::LoadScenario(
      "word running\n  bar \"B\" active\n    popup \"P\"\n      button \"In \\\"q\\\"\"\n    button "
      "\"\xC3\xA9t\xC3\xA9\" parameter \"x\"\n");
  EXPECT_EQ(
      L"word: running yes, started no, quit 0, saved no, visible no\n"
      L"  bar 'B' (active menu bar)\n    popup 'P'\n      button 'In \"q\"'\n"
      L"    button '\u00E9t\u00E9' parameter 'x'\n"
      L"references held: 0\n",
      office->StateText());
}

// The user's Office running outside the running object table: attaching fails, a start reaches it, and its
// main window shows it.
TEST(Scenario, AnUnlistedApplicationIsReachedOnlyByAStartAndShowsItsWindow) {
  auto office = corvix::testing::LoadScenario("word running unlisted\noutlook running unlisted window itemwindow\n");
  EXPECT_FALSE(office->Attach(L"Word.Application"));
  EXPECT_FALSE(office->Attach(L"Outlook.Application"));
  EXPECT_TRUE(office->HasTopLevelWindow(L"OpusApp"));
  EXPECT_TRUE(office->HasTopLevelWindow(L"rctrl_renwnd32"));
  const NodeRef outlook = office->Start(L"Outlook.Application");
  ASSERT_TRUE(outlook);
  const NodeRef inspectors = std::get<NodeRef>(office->Invoke(*outlook, L"Inspectors", kGet, {}).value);
  EXPECT_EQ(L"I4 1", Describe(office->Invoke(*inspectors, L"Count", kGet, {}).value));
  const NodeRef explorers = std::get<NodeRef>(office->Invoke(*outlook, L"Explorers", kGet, {}).value);
  EXPECT_EQ(L"I4 1", Describe(office->Invoke(*explorers, L"Count", kGet, {}).value));
  // Once started, it is in the table, as an Office that has started registers itself.
  EXPECT_TRUE(office->Attach(L"Outlook.Application"));
  EXPECT_NE(std::wstring::npos, office->StateText().find(L"outlook: running yes (not in the running object table)"));

  // Without its window flag an Outlook shows no main window; an installed Word none either.
  auto quiet = corvix::testing::LoadScenario("word installed\noutlook running\n");
  EXPECT_FALSE(quiet->HasTopLevelWindow(L"OpusApp"));
  EXPECT_FALSE(quiet->HasTopLevelWindow(L"rctrl_renwnd32"));
  EXPECT_TRUE(corvix::testing::LoadScenario("word running\n")->HasTopLevelWindow(L"OpusApp"));
}

TEST(Scenario, ADocumentArrivesAfterItsCall) {
  auto office = corvix::testing::LoadScenario(
      "word installed\n  document \"Open\"\n  document \"Later\" after call 4\n  document \"Last\" after Name\n");
  const NodeRef word = office->Start(L"Word.Application");                                           // call 1
  const NodeRef documents = std::get<NodeRef>(office->Invoke(*word, L"Documents", kGet, {}).value);  // 2
  auto count = [&] { return Describe(office->Invoke(*documents, L"Count", kGet, {}).value); };
  EXPECT_EQ(L"I4 1", count());  // 3
  EXPECT_EQ(L"I4 1", count());  // 4: the second arrives once it has been answered
  EXPECT_EQ(L"I4 2", count());
  office->Invoke(*word, L"Name", kGet, {});
  EXPECT_EQ(L"I4 3", count());
  EXPECT_EQ(status::kUnknownName, office->Invoke(*documents, L"Item", kGet, {std::int32_t{1}}).status);
  EXPECT_NE(std::wstring::npos, office->StateText().find(L"document 'Later' open"));
}

TEST(Scenario, FindControlMatchesTypeAndIdOnTheBarOrItsMenus) {
  auto office = corvix::testing::LoadScenario(
      "word running\n  bar \"Menu Bar\" active\n    button \"Go\" id 30007\n    popup \"E&xtras\" id 30007\n"
      "      popup \"Inner\" id 555\n    popup \"Custom\"\n");
  const NodeRef word = office->Attach(L"Word.Application");
  const NodeRef bars = std::get<NodeRef>(office->Invoke(*word, L"CommandBars", kGet, {}).value);
  const NodeRef bar = std::get<NodeRef>(office->Invoke(*bars, L"ActiveMenuBar", kGet, {}).value);
  auto find = [&](std::vector<Value> args) {
    const Reply reply = office->Invoke(*bar, L"FindControl", kMethod, std::move(args));
    const auto* node = std::get_if<NodeRef>(&reply.value);
    return reply.ok() ? (node && *node ? (*node)->Label() : L"Nothing") : L"failed";
  };
  EXPECT_EQ(L"button 'Go'", find({Missing{}, std::int32_t{30007}}));
  EXPECT_EQ(L"popup 'E&xtras'", find({std::int32_t{10}, std::int32_t{30007}}));
  EXPECT_EQ(L"Nothing", find({Missing{}, std::int32_t{555}}));
  EXPECT_EQ(L"popup 'Inner'", find({Missing{}, std::int32_t{555}, Missing{}, Missing{}, true}));
  EXPECT_EQ(L"popup 'Custom'", find({Missing{}, std::int32_t{1}}));  // every custom control's ID is 1
  EXPECT_EQ(L"failed", find({Missing{}, std::wstring(L"30007")}));
  EXPECT_EQ(L"failed", find({Missing{}, std::int32_t{30007}, std::wstring(L"tag")}));
  EXPECT_EQ(status::kMemberNotFound, office->Invoke(*bar, L"FindControl", kGet, {}).status);
}

TEST(Scenario, BusyRefusesTheFirstCallsThenHandlesTheRest) {
  for (const auto& [line, refusal, status] :
       {std::tuple{"busy 2 rejected\n", Admission::kRejected, status::kCallRejected},
        std::tuple{"busy 2 retrylater\n", Admission::kRetryLater, status::kRetryLater}}) {
    auto office = corvix::testing::LoadScenario(std::string("word running\n") + line);
    EXPECT_EQ(refusal, office->AdmitCall(L"Word", L"IDispatch::GetIDsOfNames")) << line;
    EXPECT_EQ(refusal, office->AdmitCall(L"Word", L"IDispatch::Invoke")) << line;
    EXPECT_EQ(Admission::kHandled, office->AdmitCall(L"Word", L"IDispatch::Invoke")) << line;
    // Each refusal is journaled with its code; the handled call is journaled by whatever answers it.
    ASSERT_EQ(2u, office->Journal().size()) << line;
    EXPECT_EQ(status, office->Journal()[1].status) << line;
    EXPECT_EQ(L"Word.IDispatch::Invoke()", office->Journal()[1].ToString().substr(0, 24)) << line;
  }
  // Without the line, Office is never busy.
  auto idle = corvix::testing::LoadScenario("word running\n");
  EXPECT_EQ(Admission::kHandled, idle->AdmitCall(L"Word", L"IDispatch::Invoke"));
  EXPECT_TRUE(idle->Journal().empty());
}

class StrictModel : public ::testing::Test {
 protected:
  void SetUp() override {
    office_ = corvix::testing::LoadScenario("word running\n  bar \"B\"\n    button \"A\" parameter \"p\"\n");
    bars_ = std::get<NodeRef>(office_->Invoke(*office_->Attach(L"Word.Application"), L"CommandBars", kGet, {}).value);
  }
  std::unique_ptr<Office> office_;
  NodeRef bars_;
};

TEST_F(StrictModel, RejectsWhatOfficeWouldReject) {
  EXPECT_EQ(status::kUnknownName, office_->Invoke(*bars_, L"Itm", kGet, {std::wstring(L"B")}).status);
  EXPECT_EQ(status::kBadParamCount, office_->Invoke(*bars_, L"Item", kGet, {}).status);
  EXPECT_EQ(status::kTypeMismatch, office_->Invoke(*bars_, L"Item", kGet, {true}).status);
  EXPECT_EQ(status::kInvalidArg, office_->Invoke(*bars_, L"Item", kGet, {std::wstring(L"b")}).status);
  auto bar = std::get<NodeRef>(office_->Invoke(*bars_, L"Item", kGet, {std::wstring(L"B")}).value);
  EXPECT_EQ(status::kMemberNotFound, office_->Invoke(*bar, L"Delete", kGet, {}).status);
  EXPECT_EQ(status::kBadParamCount, office_->Invoke(*bar, L"Delete", kMethod, {false}).status);
  auto controls = std::get<NodeRef>(office_->Invoke(*bar, L"Controls", kGet, {}).value);
  EXPECT_EQ(status::kInvalidArg, office_->Invoke(*controls, L"Item", kGet, {std::int32_t{0}}).status);
  EXPECT_EQ(status::kInvalidArg, office_->Invoke(*controls, L"Item", kGet, {std::int32_t{2}}).status);
  EXPECT_TRUE(office_->Invoke(*controls, L"Item", kGet, {std::int32_t{1}}).ok());
  EXPECT_TRUE(office_->Invoke(*bar, L"Delete", kMethod, {}).ok());
  EXPECT_FALSE(office_->Invoke(*controls, L"Count", kGet, {}).ok());
  EXPECT_EQ(status::kInvalidArg, office_->Invoke(*bars_, L"Item", kGet, {std::wstring(L"B")}).status);
}

// Word's Save of a template whose file it cannot write waits on its message, unless its alerts are off; the
// bars' changes go to the template CustomizationContext names.
TEST(StandinWord, SavingAnUnwritableTemplateWaitsOnAMessageUnlessAlertsAreOff) {
  auto office = corvix::testing::LoadScenario("word running normal unsaved\n  normal \"N.dotm\" readonly\n");
  auto& word = static_cast<WordApplicationNode&>(*office->Applications().at(0)->object);
  EXPECT_EQ(status::kHung, office->Invoke(word.normal(), L"Save", kMethod, {}).status);
  EXPECT_TRUE(office->TakeHang());
  EXPECT_TRUE(office->Invoke(word, L"DisplayAlerts", kPut, {std::int32_t{0}}).ok());
  EXPECT_EQ(status::kWordCommandFailed, office->Invoke(word.normal(), L"Save", kMethod, {}).status);
  EXPECT_FALSE(word.normal().saved());
  EXPECT_EQ(status::kMemberNotFound, office->Invoke(word, L"Visible", kPut, {true}).status);
  EXPECT_NE(std::wstring::npos, office->StateText().find(L"display alerts left at 0 (was -1)"));
}

TEST(StandinWord, TheBarsChangesGoToTheCustomizationContext) {
  auto office = corvix::testing::LoadScenario("word running\n  template \"A.dotm\" context\n  bar \"B\"\n");
  auto& word = static_cast<WordApplicationNode&>(*office->Applications().at(0)->object);
  auto bar = std::get<NodeRef>(office->Invoke(word.bars(), L"Item", kGet, {std::wstring(L"B")}).value);
  EXPECT_TRUE(office->Invoke(*bar, L"Delete", kMethod, {}).ok());
  EXPECT_TRUE(word.normal().saved());
  EXPECT_FALSE(word.context().saved());
  EXPECT_TRUE(office->IsWritableFile(L"A.dotm"));
  EXPECT_FALSE(office->IsWritableFile(L"Normal.dotm.bak"));
}

TEST_F(StrictModel, FaultsFailOnlyTheChosenCall) {
  office_->AddFault({L"Item", L"Word bars", 2, 0});
  const std::vector<Value> name{std::wstring(L"B")};
  EXPECT_TRUE(office_->Invoke(*bars_, L"Item", kGet, name).ok());
  EXPECT_EQ(status::kInjected, office_->Invoke(*bars_, L"Item", kGet, name).status);
  EXPECT_TRUE(office_->Invoke(*bars_, L"Item", kGet, name).ok());
  EXPECT_NE(std::wstring::npos, office_->JournalText().find(L"Word bars.Item(BSTR \"B\") -> failed 0x80010105"));
}

TEST(StandinScenario, AHungCallIsJournaledAndHasNoEffect) {
  std::string error;
  auto office = Office::FromScenario(
      "word running\n  bar \"Merrowin Software\"\nhang Delete on \"bar\" nth 1\nhang GetActiveObject nth 2\n"
      "hang start outlook\noutlook installed\n",
      &error);
  ASSERT_TRUE(office) << error;
  NodeRef word = office->Attach(L"Word.Application");
  ASSERT_TRUE(word);
  EXPECT_FALSE(office->TakeHang());
  const Reply bars = office->Invoke(*word, L"CommandBars", kGet, {});
  const auto* barsNode = std::get_if<NodeRef>(&bars.value);
  ASSERT_TRUE(barsNode && *barsNode);
  const Reply bar = office->Invoke(**barsNode, L"Item", kGet, {std::wstring(L"Merrowin Software")});
  const auto* barNode = std::get_if<NodeRef>(&bar.value);
  ASSERT_TRUE(barNode && *barNode);
  // The first Delete gets no answer: journaled as hung, asked for once, and the bar is still there.
  EXPECT_EQ(status::kHung, office->Invoke(**barNode, L"Delete", kMethod, {}).status);
  EXPECT_TRUE(office->TakeHang());
  EXPECT_FALSE(office->TakeHang());
  EXPECT_EQ(std::wstring::npos, office->StateText().find(L"deleted"));
  EXPECT_NE(std::wstring::npos, office->JournalText().find(L"bar 'Merrowin Software'.Delete() -> hung\n"));
  // The second attach hangs; the start hang names its application.
  EXPECT_FALSE(office->Attach(L"Word.Application"));
  EXPECT_TRUE(office->TakeHang());
  EXPECT_NE(std::wstring::npos, office->JournalText().find(L"ROT.GetActiveObject(\"Word.Application\") -> hung\n"));
  EXPECT_TRUE(office->HangsOnStart(*office->Find(L"Outlook.Application")));
  EXPECT_FALSE(office->HangsOnStart(*office->Find(L"Word.Application")));
  EXPECT_FALSE(Office::FromScenario("hang start excel\n", &error));
}

TEST_F(StrictModel, CountsHeldReferencesPerObject) {
  office_->Retain(bars_);
  office_->Retain(bars_);
  EXPECT_EQ(2, office_->HeldReferences());
  EXPECT_EQ(L"Word bars x2\n", office_->HeldText());
  office_->Release(*bars_);
  office_->Release(*bars_);
  EXPECT_EQ(0, office_->HeldReferences());
}

}  // namespace
}  // namespace standin
