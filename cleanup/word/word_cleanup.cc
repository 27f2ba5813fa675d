// The Word clean-up.
#include "cleanup/word/word_cleanup.h"

namespace corvix {

namespace {
constexpr std::wstring_view kProgId = L"Word.Application";
// The class of Word's main window (its frame; hidden in a Word that automation started). Microsoft's
// object model does not name it; it is the class that programs looking for a running Word pass to
// FindWindow, as read off with Spy++ (for one: https://blog.csdn.net/chesi5792/article/details/100595205;
// and, beside Outlook's, in a table of the Office applications' main-window classes:
// https://officetutor.co.kr/board/faq_lib/frm_vba_content.asp?idx=436).
constexpr std::wstring_view kMainWindowClass = L"OpusApp";
// Word's program file, as a process snapshot names it.
constexpr std::wstring_view kImageName = L"WINWORD.EXE";
// The add-in's marker in the Parameter of a menu item it added.
constexpr std::wstring_view kInspectorMenu = L"Inspector Menu";
// The Tools menu as the trace names it.
constexpr std::wstring_view kToolsMenu = L"menu \"&Tools\"";

// The number of documents Word holds; empty when it cannot be read.
std::optional<std::int32_t> DocumentCount(const Object& wdApp) {
  return wdApp.GetObject(L"Documents", word_types::kDocuments).Get(L"Count").Int32();
}

// Whether Normal holds no unsaved changes; empty when that cannot be read.
std::optional<bool> NormalSaved(const Object& normal) { return normal.Get(L"Saved").Bool(); }

// Saves Normal once the clean-up alone has changed it, and tells why it did or did not.
void SaveNormalIfCleanedOnly(const Object& normal, std::optional<bool> savedBefore, CleanupTrace& trace) {
  const std::optional<bool> savedAfter = NormalSaved(normal);
  if (MaySaveNormalTemplate(savedBefore, savedAfter)) {
    const CallResult saved = normal.Call(L"Save");
    trace.Note(saved.ok() ? L"Normal template saved, so that the deletions are stored now"
                          : L"Normal template not saved: " + DescribeFailure(saved.status(), saved.description()));
  } else if (!savedBefore) {
    trace.Note(L"Normal template not saved: whether it had unsaved changes could not be read");
  } else if (!*savedBefore) {
    trace.Note(L"Normal template not saved: it had unsaved changes of the user's");
  } else {
    trace.Note(L"Normal template not saved: the clean-up left nothing unsaved in it");
  }
}

}  // namespace

bool MayQuitStartedWord(std::optional<std::int32_t> documents) { return !documents || *documents <= 0; }

bool MaySaveNormalTemplate(std::optional<bool> savedBefore, std::optional<bool> savedAfter) {
  return savedBefore == true && savedAfter == false;
}

void RemoveWordToolbars(Automation& automation, CleanupTrace& trace) {
  bool bCreated = false;
  Object wdApp = automation.Attach(kProgId, word_types::kApplication);
  if (wdApp) trace.Attached();
  if (!wdApp) {
    // Word runs but could not be attached to: it enters the running object table only a while after it
    // starts, and one in another session or at another integrity level is never seen there. Word's class
    // factory is single-use, so a start would make a second, hidden Word that shares the user's Normal
    // template (and saves it on Quit). Word is left alone. It shows itself by its main window, or, before
    // that opens or when another program runs it without one, by its process in this session.
    // ("Single-Use vs. Multi-Use Applications": https://learn.microsoft.com/en-us/previous-versions/aa690619(v=vs.71))
    if (automation.HasTopLevelWindow(kMainWindowClass)) {
      trace.LeftRunning(L"its main window is there");
      return;
    }
    if (automation.HasProcessInSession(kImageName)) {
      trace.LeftRunning(L"WINWORD.EXE runs in this session");
      return;
    }
    const Object attach = std::move(wdApp);
    wdApp = automation.Start(kProgId, word_types::kApplication);
    bCreated = true;
    if (wdApp) {
      trace.Started();
    } else {
      trace.NotReached(attach, wdApp);
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
  for (const std::wstring_view name : {L"Merrowin Software", L"Merrowin Software Toolbar"}) {
    const std::wstring what = BarTraceName(name);
    const TraceTo to{trace, what};
    if (const CommandBar bar = Traced(to, bars.Item(name))) RemoveCommandBar(bar, to);
  }

  const TraceTo toTools{trace, kToolsMenu};
  const CommandBarPopup menu = Traced(toTools, FindWordMenubar(wdApp, L"&Tools", toTools));
  if (menu) RemoveWordMenus(menu, toTools);

  // Word keeps the deletions in its Normal template, in memory until the template is saved. A Word that was
  // running saves it here, once, after the last deletion (when nothing of the user's was unsaved in it).
  if (!bCreated) {
    SaveNormalIfCleanedOnly(normal, normalSavedBefore, trace);
    return;
  }
  // Saving on the way out is what makes the deletions stick in a Word that was started here. The other two
  // arguments (OriginalFormat, RouteDocument) are left out. A hidden Word that was started here can be
  // handed a document the user opens meanwhile; holding one, it is the user's now: quitting would save and
  // close the user's documents, so it is left running.
  if (MayQuitStartedWord(DocumentCount(wdApp))) {
    trace.Quit(wdApp.Call(L"Quit", {true}));
  } else {
    trace.NotQuit(L"it holds a document that the user opened in it; nothing saved");
  }
}

CommandBarPopup FindWordMenubar(const Object& wdApp, std::wstring_view caption, const TraceTo& to) {
  const CommandBars bars(wdApp.GetObject(L"CommandBars", office_types::kCommandBars));
  return FindMenuInAnyLanguage(bars.ActiveMenuBar(), caption, to);
}

void RemoveWordMenus(const CommandBarPopup& menu, const TraceTo& to) {
  RemoveMarkedButtons(menu, {kInspectorMenu}, to);
}

}  // namespace corvix
