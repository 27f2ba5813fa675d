// The Word clean-up.
#include "cleanup/word/word_cleanup.h"

namespace corvix {

namespace {
constexpr std::wstring_view kProgId = L"Word.Application";
// The class of Word's main window (its frame; hidden in a Word that automation started). Microsoft's
// object model does not name it; it is the class that programs looking for a running Word pass to
// FindWindow, as read off with Spy++ (docs/sources.md, "Main-window classes").
constexpr std::wstring_view kMainWindowClass = L"OpusApp";
// Word's program file, as a process snapshot names it.
constexpr std::wstring_view kImageName = L"WINWORD.EXE";
// The add-in's marker in the Parameter of a menu item it added.
constexpr std::wstring_view kInspectorMenu = L"Inspector Menu";
// The add-in's two toolbars, and the menu that holds its items.
constexpr std::wstring_view kBarNames[] = {L"Merrowin Software", L"Merrowin Software Toolbar"};
constexpr Subject kToolsMenu{Subject::Window::kOnly, Subject::Kind::kMenu, L"&Tools"};

// The number of documents Word holds; empty when it cannot be read.
std::optional<std::int32_t> DocumentCount(const Object& wdApp) {
  return wdApp.GetObject(L"Documents", word_types::kDocuments).Get(L"Count").Int32();
}

// Whether Normal holds no unsaved changes; empty when that cannot be read.
std::optional<bool> NormalSaved(const Object& normal) { return normal.Get(L"Saved").Bool(); }

// Saves Normal once the clean-up alone has changed it, and reports why it did or did not.
void SaveNormalIfCleanedOnly(const Object& normal, std::optional<bool> savedBefore, CleanupEvents& events) {
  using Step = event::NormalTemplate::Step;
  const std::optional<bool> savedAfter = NormalSaved(normal);
  if (MaySaveNormalTemplate(savedBefore, savedAfter)) {
    Outcome saved = normal.Call(L"Save").outcome();
    const Step step = saved.ok() ? Step::kSaved : Step::kSaveFailed;
    events.Report(event::NormalTemplate{step, std::move(saved)});
  } else if (!savedBefore) {
    events.Report(event::NormalTemplate{Step::kUnreadable, {}});
  } else if (!*savedBefore) {
    events.Report(event::NormalTemplate{Step::kUsersChanges, {}});
  } else {
    events.Report(event::NormalTemplate{Step::kNothingUnsaved, {}});
  }
}

}  // namespace

bool MaySaveNormalTemplate(std::optional<bool> savedBefore, std::optional<bool> savedAfter) {
  return savedBefore == true && savedAfter == false;
}

void RemoveWordToolbars(Automation& automation, CleanupEvents& events) {
  bool bCreated = false;
  Found<Object> attach = automation.Attach(kProgId, word_types::kApplication);
  Object wdApp = std::move(attach.value);
  if (wdApp) events.Report(event::Attached{});
  if (!wdApp) {
    // Word runs but could not be attached to: it enters the running object table only a while after it
    // starts, and one in another session or at another integrity level is never seen there. Word's class
    // factory is single-use, so a start would make a second, hidden Word that shares the user's Normal
    // template (and saves it on Quit). Word is left alone. It shows itself by its main window, or, before
    // that opens or when another program runs it without one, by its process in this session.
    // ("Single-Use vs. Multi-Use Applications", docs/sources.md)
    if (automation.HasTopLevelWindow(kMainWindowClass)) {
      events.Report(event::LeftRunning{true, kImageName});
      return;
    }
    if (automation.HasProcessInSession(kImageName)) {
      events.Report(event::LeftRunning{false, kImageName});
      return;
    }
    Found<Object> start = automation.Start(kProgId, word_types::kApplication);
    wdApp = std::move(start.value);
    bCreated = true;
    if (wdApp) {
      events.Report(event::Started{});
    } else {
      events.Report(event::NotReached{attach.outcome, start.outcome});
    }
  }
  if (!wdApp) return;

  // A Word that was running: whether its Normal template had unsaved changes before the clean-up.
  Object normal;
  std::optional<bool> normalSavedBefore;
  if (!bCreated) {
    normal = wdApp.GetObject(L"NormalTemplate", word_types::kTemplate);
    normalSavedBefore = NormalSaved(normal);
  }

  const CommandBars bars(wdApp.GetObject(L"CommandBars", office_types::kCommandBars));
  for (const std::wstring_view name : kBarNames) {
    const Subject bar{Subject::Window::kOnly, Subject::Kind::kBar, name};
    if (const Found<CommandBar> found = Reported(events, bar, bars.Item(bar.name))) {
      RemoveCommandBar(found.value, bar, events);
    }
  }

  const Found<CommandBarPopup> menu = Reported(events, kToolsMenu, FindWordMenubar(wdApp, kToolsMenu, events));
  if (menu) RemoveWordMenus(menu.value, kToolsMenu, events);

  // Word keeps the deletions in its Normal template, in memory until the template is saved. A Word that was
  // running saves it here, once, after the last deletion (when nothing of the user's was unsaved in it).
  if (!bCreated) {
    SaveNormalIfCleanedOnly(normal, normalSavedBefore, events);
    return;
  }
  // Saving on the way out is what makes the deletions stick in a Word that was started here. The other two
  // arguments (OriginalFormat, RouteDocument) are left out. A hidden Word that was started here can be
  // handed a document the user opens meanwhile; holding one, it is the user's now: quitting would save and
  // close the user's documents, so it is left running. A count that cannot be read proves nothing: Word is quit.
  if (const std::optional<std::int32_t> documents = DocumentCount(wdApp); !documents || *documents <= 0) {
    events.Report(event::Quit{wdApp.Call(L"Quit", {true}).outcome()});
  } else {
    events.Report(event::LeftToTheUser{});
  }
}

Found<CommandBarPopup> FindWordMenubar(const Object& wdApp, const Subject& menu, CleanupEvents& events) {
  const CommandBars bars(wdApp.GetObject(L"CommandBars", office_types::kCommandBars));
  return FindMenuInAnyLanguage(bars.ActiveMenuBar(), menu, events);
}

void RemoveWordMenus(const CommandBarPopup& menu, const Subject& subject, CleanupEvents& events) {
  RemoveMarkedButtons(menu, {kInspectorMenu}, subject, events);
}

}  // namespace corvix
