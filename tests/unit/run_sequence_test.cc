// The run sequence: the silent switch, the clean-ups and the completion message.
#include <gtest/gtest.h>

#include <new>

#include "app/frm_main.h"
#include "tests/unit/test_support.h"

namespace corvix {
namespace {

// Records the messages shown, and how much of the run had happened when each was shown.
class RecordingShell : public Shell {
 public:
  RecordingShell(std::wstring arguments, const standin::Office& office)
      : arguments_(std::move(arguments)), office_(office) {}
  std::wstring CommandLineArguments() override { return arguments_; }
  void ShowMessage(std::wstring_view prompt, std::wstring_view title) override {
    messages.push_back(std::wstring(title) + L"|" + std::wstring(prompt));
    callsBeforeMessage = office_.Journal().size();
  }
  bool SomeoneCanAnswer() override { return canAnswer; }
  TraceSink* Trace() override { return nullptr; }
  std::uint32_t NowMs() override { return 0; }
  bool canAnswer = true;
  std::vector<std::wstring> messages;
  size_t callsBeforeMessage = 0;

 private:
  std::wstring arguments_;
  const standin::Office& office_;
};

TEST(RunSequence, OnlyTheExactSlashSIsSilent) {
  const struct {
    const wchar_t* arguments;
    bool silent;
  } cases[] = {{L"/s", true},    {L"/S", false},      {L"/s ", false}, {L" /s", false},    {L"-s", false},
               {L"/s x", false}, {L"/silent", false}, {L"", false},    {L"\"/s\"", false}, {L"/s\t", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(c.arguments)));
    auto office = testing::LoadScenario("");
    standin::MemoryAutomation automation(*office);
    RecordingShell shell(c.arguments, *office);
    testing::InlineRunner runner(automation.Access());
    frmMain form(shell, runner);
    form.Form_Load();
    EXPECT_EQ(c.silent, form.bSilent);
    if (c.silent) {
      EXPECT_TRUE(shell.messages.empty());
    } else {
      EXPECT_EQ(std::vector<std::wstring>{L"Merrowin Software|Done.  Toolbars removed."}, shell.messages);
    }
  }
}

TEST(RunSequence, TheMessageComesAfterTheWordCleanUp) {
  auto office = testing::LoadScenario("word running\n  bar \"Merrowin Software\"\n");
  standin::MemoryAutomation automation(*office);
  RecordingShell shell(L"", *office);
  testing::InlineRunner runner(automation.Access());
  frmMain form(shell, runner);
  form.Form_Load();
  ASSERT_EQ(1u, shell.messages.size());
  EXPECT_EQ(office->Journal().size(), shell.callsBeforeMessage);
  EXPECT_TRUE(testing::StateHas(*office, L"bar 'Merrowin Software' deleted"));
  EXPECT_EQ(0, office->HeldReferences()) << office->HeldText();
}

TEST(RunSequence, WordIsCleanedBeforeOutlookWhateverWordDid) {
  auto office = testing::LoadScenario(
      "word running\n  bar \"Merrowin Software\"\nfail CommandBars on \"Word\"\n"
      "outlook running window\n  explorer\n    bar \"Merrowin Software\"\n");
  standin::MemoryAutomation automation(*office);
  RecordingShell shell(L"/s", *office);
  testing::InlineRunner runner(automation.Access());
  frmMain form(shell, runner);
  form.Form_Load();
  std::vector<std::wstring> order;
  for (const auto& entry : office->Journal()) {
    const std::wstring app = entry.args.empty() ? L"" : entry.args[0];
    if (entry.member == L"GetActiveObject") order.push_back(app);
  }
  EXPECT_EQ((std::vector<std::wstring>{L"\"Word.Application\"", L"\"Outlook.Application\""}), order);
  EXPECT_TRUE(testing::StateHas(*office, L"explorer bar 'Merrowin Software' deleted"));
  EXPECT_TRUE(shell.messages.empty());
  EXPECT_EQ(0, office->HeldReferences()) << office->HeldText();
}

TEST(RunSequence, AGivenUpCleanUpCostsTheRunNothingElse) {
  const char* scenario =
      "word running\n  bar \"Merrowin Software\"\n"
      "outlook running window\n  explorer\n    bar \"Merrowin Software\"\n";
  for (const auto& giveUp : {std::vector<bool>{true, false}, std::vector<bool>{false, true}}) {
    SCOPED_TRACE(giveUp[0] ? "Word given up" : "Outlook given up");
    auto office = testing::LoadScenario(scenario);
    testing::GivingUpRunner runner(*office, giveUp, L"GetActiveObject Word.Application");
    RecordingShell shell(L"", *office);
    frmMain form(shell, runner);
    form.Form_Load();
    // Both clean-ups were handed over, in turn, and the message came once, after them.
    EXPECT_EQ(2u, runner.runs);
    EXPECT_EQ(std::vector<std::wstring>{L"Merrowin Software|Done.  Toolbars removed."}, shell.messages);
    EXPECT_EQ(office->Journal().size(), shell.callsBeforeMessage);
    // The clean-up that was not given up did its whole job.
    std::vector<std::wstring> deleted;
    for (const auto& entry : office->Journal()) {
      if (entry.member == L"Delete" && entry.status >= 0) deleted.push_back(entry.target);
    }
    EXPECT_EQ(std::vector<std::wstring>{giveUp[0] ? L"explorer bar 'Merrowin Software'" : L"bar 'Merrowin Software'"},
              deleted);
  }
}

TEST(RunSequence, WhereNoOneCanPressOkTheRunEndsAsASilentOne) {
  auto office = testing::LoadScenario("word running\n  bar \"Merrowin Software\"\n");
  standin::MemoryAutomation automation(*office);
  RecordingShell shell(L"", *office);
  shell.canAnswer = false;
  testing::InlineRunner runner(automation.Access());
  frmMain form(shell, runner);
  form.Form_Load();
  EXPECT_FALSE(form.bSilent);
  EXPECT_TRUE(shell.messages.empty());
  EXPECT_TRUE(testing::StateHas(*office, L"bar 'Merrowin Software' deleted"));
}

// The stand-in's automation, except that attaching to `thrower` takes the reference and then throws
// std::bad_alloc, as a clean-up that runs out of memory would.
class ThrowingAutomation : public Automation {
 public:
  ThrowingAutomation(standin::MemoryAutomation& inner, std::wstring thrower)
      : inner_(inner), thrower_(std::move(thrower)) {}
  Found<Object> Attach(std::wstring_view progId, const Interface& type) override {
    Found<Object> application = inner_.Attach(progId, type);
    if (progId == thrower_) throw std::bad_alloc();
    return application;
  }
  Found<Object> Start(std::wstring_view progId, const Interface& type) override { return inner_.Start(progId, type); }

 private:
  standin::MemoryAutomation& inner_;
  std::wstring thrower_;
};

TEST(RunSequence, ACleanUpThatThrowsCostsTheRunNothingElse) {
  const char* scenario =
      "word running\n  bar \"Merrowin Software\"\n"
      "outlook running window\n  explorer\n    bar \"Merrowin Software\"\n";
  for (const wchar_t* thrower : {L"Word.Application", L"Outlook.Application"}) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(thrower)));
    auto office = testing::LoadScenario(scenario);
    standin::MemoryAutomation memory(*office);
    ThrowingAutomation automation(memory, thrower);
    RecordingShell shell(L"", *office);
    testing::InlineRunner runner({memory, automation});
    frmMain form(shell, runner);
    ASSERT_NO_THROW(form.Form_Load());
    EXPECT_EQ(std::vector<std::wstring>{L"Merrowin Software|Done.  Toolbars removed."}, shell.messages);
    // The other clean-up did its whole job; the throwing one stopped at once and let go of its application.
    const bool wordThrew = std::wstring(thrower) == L"Word.Application";
    EXPECT_EQ(!wordThrew, testing::StateHas(*office, L"\n  bar 'Merrowin Software' deleted"));
    EXPECT_EQ(wordThrew, testing::StateHas(*office, L"explorer bar 'Merrowin Software' deleted"));
    EXPECT_EQ(0, office->HeldReferences()) << office->HeldText();
  }
}

}  // namespace
}  // namespace corvix
