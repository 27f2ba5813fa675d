// The Outlook clean-up.
#include "cleanup/outlook/outlook_cleanup.h"

#include "office/registered_version.h"

namespace corvix {

using namespace outlook_types;

namespace {

constexpr std::wstring_view kProgId = L"Outlook.Application";
constexpr std::int32_t kFolderInbox = 6;    // olFolderInbox
constexpr std::int32_t kDisplayNormal = 0;  // olFolderDisplayNormal
// The add-in marks the menu items it adds with one of these Parameters; the first is read first.
constexpr std::wstring_view kExplorerMenu = L"Explorer Menu";
constexpr std::wstring_view kInspectorMenu = L"Inspector Menu";
constexpr std::wstring_view kBarName = L"Merrowin Software";
// What the trace calls the bars and menus of the two windows.
constexpr std::wstring_view kMainWindowBar = L"main window: bar \"Merrowin Software\"";
constexpr std::wstring_view kToolsMenu = L"main window: menu \"&Tools\"";
constexpr std::wstring_view kItemWindowBar = L"item window: bar \"Merrowin Software\"";
constexpr std::wstring_view kActionsMenu = L"item window: menu \"&Actions\"";
// The class of Outlook's main window. Microsoft's object model does not name it; it is the class that
// programs looking for a running Outlook pass to FindWindow, as read off with Spy++ (Outlook itself decides
// with FindWindow whether it is already running:
// http://www.woodmann.com/forum/archive/index.php/t-10608.html; and for Outlook 97 to XP, beside
// Word's, in a table of the Office applications' main-window classes:
// https://officetutor.co.kr/board/faq_lib/frm_vba_content.asp?idx=436).
constexpr std::wstring_view kMainWindowClass = L"rctrl_renwnd32";
// Outlook's program file, as a process snapshot names it.
constexpr std::wstring_view kImageName = L"OUTLOOK.EXE";

// True only when Outlook answered that it has no main window; a call that failed proves nothing.
bool HasNoMainWindow(const Object& olApp) {
  CallResult active = olApp.Call(L"ActiveExplorer");
  return active.ok() && !active.TakeObject(kExplorer);
}

// The number of windows in one of Outlook's window collections ("Explorers", "Inspectors"); empty when it
// cannot be read.
std::optional<std::int32_t> WindowCount(const Object& olApp, std::wstring_view collection, const Interface& type) {
  return olApp.GetObject(collection, type).Get(L"Count").Int32();
}

// The Inbox of the user's mail store, reached afresh from the application.
Object Inbox(const Object& nameSpace) {
  return nameSpace.Call(L"GetDefaultFolder", {kFolderInbox}).TakeObject(kFolder);
}

Object MapiNameSpace(const Object& olApp) {
  return olApp.Call(L"GetNamespace", {std::wstring(L"MAPI")}).TakeObject(kNameSpace);
}

// Test and conversion, one `Class` read: the item, moved, as a mail item; or none when it is another kind
// of item (or its Class cannot be read), and the item is released here.
Object AsMailItem(Object item) {
  if (!IsMailItemClass(item.Get(L"Class").Int32())) return {};
  return std::move(item).UsedAs(kMailItem);
}

// Purges the item window of the Inbox's first item, when that item is a mail item.
void CleanFirstInboxItemWindow(const Object& olApp, CleanupTrace& trace) {
  const Object items = Inbox(MapiNameSpace(olApp)).GetObject(L"Items", kItems);
  // Item 1 through the collection's default member, with a 16-bit index; empty when the Inbox is.
  Object first = items.CallDefault({std::int16_t{1}}).TakeObject(kItem);
  const bool hasItem = static_cast<bool>(first);
  const Object mail = AsMailItem(std::move(first));
  if (!mail) {  // empty Inbox, or a meeting request or report first
    trace.Note(hasItem ? L"the Inbox's first item is not a mail item: no item window"
                       : L"no first Inbox item: no item window");
    return;
  }

  // The item's window object, created without being displayed; it is released, not closed.
  const Object inspector = mail.GetObject(L"GetInspector", kInspector);
  const CommandBars bars(inspector.GetObject(L"CommandBars", office_types::kCommandBars));
  const TraceTo toBar{trace, kItemWindowBar};
  if (const CommandBar bar = Traced(toBar, bars.Item(kBarName))) RemoveCommandBar(bar, toBar);
  if (const CommandBar menuBar = bars.ActiveMenuBar()) {
    const TraceTo toActions{trace, kActionsMenu};
    RemoveOutlookMenus(Traced(toActions, FindMenu(menuBar, L"&Actions")), toActions);
  }
}

}  // namespace

bool IsMailItemClass(std::optional<std::int32_t> itemClass) { return itemClass == kClassMail; }

bool OutlookWasAlreadyOpen(std::optional<std::int32_t> explorers, std::optional<std::int32_t> inspectors) {
  return explorers.value_or(0) > 0 || inspectors.value_or(0) > 0;
}

bool StartsOutlookOfVersion(std::optional<std::uint32_t> version) {
  return !version || *version < kFirstOutlookWithoutStoredBars;
}

void RemoveOutlookToolbars(Automation& automation, CleanupTrace& trace) {
  bool bCreated = false;
  Object olApp = automation.Attach(kProgId, kApplication);
  if (olApp) trace.Attached();
  // The Inbox main window opened here, with what it was opened on; held until the end.
  Object nameSpace;
  Object inbox;
  Object explorer;
  if (!olApp) {
    // Outlook's class factory is multiple-use: while Outlook runs, a start returns the running Outlook.
    // Attaching can miss one that runs (it enters the running object table only a while after it starts),
    // so a start that reaches the user's Outlook is told apart from a new one: by its main window or its
    // process, looked for first, or by the windows the Outlook it reached has open (one that automation just
    // started has none). The user's Outlook is treated as an attached one: no new window, never quit.
    // ("Single-Use vs. Multi-Use Applications": https://learn.microsoft.com/en-us/previous-versions/aa690619(v=vs.71))
    // An Outlook whose process runs in this session is one too: still starting, or run without a window by
    // another program.
    const bool mainWindowOpen = automation.HasTopLevelWindow(kMainWindowClass);
    const bool processRuns = automation.HasProcessInSession(kImageName);
    if (!mainWindowOpen && !processRuns) {
      // Nothing runs: a start would run the registered version, which is worth starting only if it kept the
      // bars. Starting one that did not costs seconds and shows a main window (or the profile chooser, or
      // the first-run wizard) for nothing.
      const RegisteredVersion version = FindRegisteredVersion(automation, kProgId);
      if (!StartsOutlookOfVersion(version.major)) {
        trace.NotStarted(L"version " + Decimal(*version.major) + L" (" + version.source +
                         L") is registered: Outlook 2010 and later keep no add-in's bars, so a start would find none");
        return;
      }
      trace.Note(version.major ? L"not running; version " + Decimal(*version.major) + L" (" + version.source +
                                     L") is registered, one that kept the bars: started"
                               : std::wstring(L"not running; no registered version can be read: started, as ever"));
    }
    const Object attach = std::move(olApp);
    olApp = automation.Start(kProgId, kApplication);
    bCreated = !mainWindowOpen && !processRuns;
    if (bCreated) {
      // Main windows first, then item windows: two statements, so that the calls come in this order.
      const std::optional<std::int32_t> explorers = WindowCount(olApp, L"Explorers", kExplorers);
      const std::optional<std::int32_t> inspectors = WindowCount(olApp, L"Inspectors", kInspectors);
      bCreated = !OutlookWasAlreadyOpen(explorers, inspectors);
    }
    if (!olApp) {
      trace.NotReached(attach, olApp);
    } else if (bCreated) {
      trace.Started();
    } else {
      trace.StartReachedUsers();
    }
  }
  if (bCreated) {
    // A running Outlook that was attached to is never given a new window.
    if (HasNoMainWindow(olApp)) {
      nameSpace = MapiNameSpace(olApp);
      inbox = Inbox(nameSpace);
      explorer = olApp.GetObject(L"Explorers", kExplorers)
                     .Call(L"Add", {static_cast<const Object*>(&inbox), kDisplayNormal})
                     .TakeObject(kExplorer);
      const CallResult shown = explorer.Call(L"Display");
      trace.Note(shown.ok() ? L"no main window: the Inbox opened in a new one"
                            : L"no main window, and none could be opened: " +
                                  DescribeFailure(shown.status(), shown.description()));
    }
  }

  if (!HasNoMainWindow(olApp)) {
    const CommandBars bars(
        olApp.Call(L"ActiveExplorer").TakeObject(kExplorer).GetObject(L"CommandBars", office_types::kCommandBars));
    const TraceTo toBar{trace, kMainWindowBar};
    if (const CommandBar bar = Traced(toBar, bars.Item(kBarName))) RemoveCommandBar(bar, toBar);

    const TraceTo toTools{trace, kToolsMenu};
    if (const CommandBarPopup menu = Traced(toTools, FindOutlookMenubar(olApp, L"&Tools", toTools))) {
      RemoveOutlookMenus(menu, toTools);
    }

    CleanFirstInboxItemWindow(olApp, trace);
  } else if (olApp) {
    trace.Note(L"no main window: nothing to clean");
  }

  if (bCreated) {
    // Attempted whenever a start was (on none it fails at once, without a call).
    const CallResult quit = olApp.Call(L"Quit");
    if (olApp) trace.Quit(quit);
  }
}

CommandBarPopup FindOutlookMenubar(const Object& olApp, std::wstring_view caption, const TraceTo& to) {
  const CommandBars bars(
      olApp.Call(L"ActiveExplorer").TakeObject(kExplorer).GetObject(L"CommandBars", office_types::kCommandBars));
  return FindMenuInAnyLanguage(bars.ActiveMenuBar(), caption, to);
}

void RemoveOutlookMenus(const CommandBarPopup& menu, const TraceTo& to) {
  RemoveMarkedButtons(menu, {kExplorerMenu, kInspectorMenu}, to);
}

}  // namespace corvix
