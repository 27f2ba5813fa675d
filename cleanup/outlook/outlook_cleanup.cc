// The Outlook clean-up.
#include "cleanup/outlook/outlook_cleanup.h"

#include <algorithm>

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
// The add-in's toolbar in both windows, and the menus that hold its items.
constexpr std::wstring_view kBarName = L"Merrowin Software";
constexpr Subject kMainWindowBar{Subject::Window::kMain, Subject::Kind::kBar, kBarName};
constexpr Subject kToolsMenu{Subject::Window::kMain, Subject::Kind::kMenu, L"&Tools"};
constexpr Subject kItemWindowBar{Subject::Window::kItem, Subject::Kind::kBar, kBarName};
constexpr Subject kActionsMenu{Subject::Window::kItem, Subject::Kind::kMenu, L"&Actions"};
// Outlook's OlObjectClass for a mail item.
constexpr std::int32_t kClassMail = 43;  // olMail
// The class of Outlook's main window. Microsoft's object model does not name it; it is the class that
// programs looking for a running Outlook pass to FindWindow, as read off with Spy++, and the one by which
// Outlook itself decides whether it is already running (docs/sources.md, "Main-window classes").
constexpr std::wstring_view kMainWindowClass = L"rctrl_renwnd32";
// Outlook's program file, as a process snapshot names it.
constexpr std::wstring_view kImageName = L"OUTLOOK.EXE";

// True only when Outlook answered that it has no main window; a call that failed proves nothing.
bool HasNoMainWindow(const Object& olApp) {
  CallResult active = olApp.Call(L"ActiveExplorer");
  return active.ok() && !active.TakeObject(kExplorer);
}

// The windows Outlook has open: its main windows (`Explorers.Count`) and its item windows (`Inspectors.Count`),
// read in that order; a count that cannot be read is empty. (`Application.Inspectors`: "the Inspector objects
// representing all open inspectors"; docs/sources.md.)
struct OpenWindows {
  std::optional<std::int32_t> main;
  std::optional<std::int32_t> item;
};

OpenWindows CountWindows(const Object& olApp) {
  OpenWindows open;
  open.main = olApp.GetObject(L"Explorers", kExplorers).Get(L"Count").Int32();
  open.item = olApp.GetObject(L"Inspectors", kInspectors).Get(L"Count").Int32();
  return open;
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
  if (item.Get(L"Class").Int32() != kClassMail) return {};
  return std::move(item).UsedAs(kMailItem);
}

// What a start would meet, read from the user's settings; nothing is asked of any application.
OutlookStartSettings ReadStartSettings(Installation& installation) {
  using namespace outlook_settings;
  OutlookStartSettings settings;
  if (const std::wstring folder = installation.RoamingAppDataFolder(); !folder.empty()) {
    settings.barsFile = folder + std::wstring(kBarsFile);
    settings.barsFileExists = installation.IsExistingFile(settings.barsFile);
  }
  settings.defaultProfile = installation.ReadUserRegistryValue(kProfilesKey, kDefaultProfile);
  settings.pickLogonProfile = installation.ReadUserRegistryValue(kClientOptionsKey, kPickLogonProfile);
  return settings;
}

// Purges the item window of the Inbox's first item, when that item is a mail item.
void CleanFirstInboxItemWindow(const Object& olApp, CleanupEvents& events) {
  const Object items = Inbox(MapiNameSpace(olApp)).GetObject(L"Items", kItems);
  // Item 1 through the collection's default member, with a 16-bit index; empty when the Inbox is.
  Object first = items.CallDefault({std::int16_t{1}}).TakeObject(kItem);
  const bool hasItem = static_cast<bool>(first);
  const Object mail = AsMailItem(std::move(first));
  if (!mail) {  // empty Inbox, or a meeting request or report first
    events.Report(event::NoItemWindow{hasItem});
    return;
  }

  // The item's window object, created without being displayed; it is released, not closed.
  const Object inspector = mail.GetObject(L"GetInspector", kInspector);
  const CommandBars bars(inspector.GetObject(L"CommandBars", office_types::kCommandBars));
  if (const Found<CommandBar> bar = Reported(events, kItemWindowBar, bars.Item(kItemWindowBar.name))) {
    RemoveCommandBar(bar.value, kItemWindowBar, events);
  }
  if (const Found<CommandBar> menuBar = bars.ActiveMenuBar()) {
    const Found<CommandBarPopup> menu = Reported(events, kActionsMenu, FindMenu(menuBar, kActionsMenu.name));
    RemoveOutlookMenus(menu.value, kActionsMenu, events);
  }
}

// What reaching Outlook came to: the application (none when it was not reached) and whether this clean-up
// started it.
struct Reached {
  Object olApp;
  bool bCreated = false;
};

// Attaches to the running Outlook, or starts one, and reports how it was reached or why not. None when
// Outlook was not reached, or not started because the registered version keeps no add-in's bars.
Reached ReachOutlook(OfficeAccess office, CleanupEvents& events) {
  Found<Object> attach = office.automation.Attach(kProgId, kApplication);
  if (attach) {
    events.Report(event::Attached{});
    return {std::move(attach.value), false};
  }
  // Outlook's class factory is multiple-use: while Outlook runs, a start returns the running Outlook.
  // Attaching can miss one that runs (it enters the running object table only a while after it starts),
  // so a start that reaches the user's Outlook is told apart from a new one: by its main window or its
  // process, looked for first, or by the windows the Outlook it reached has open (one that automation just
  // started has none). The user's Outlook is treated as an attached one: no new window, never quit.
  // ("Single-Use vs. Multi-Use Applications", docs/sources.md)
  // An Outlook whose process runs in this session is one too: still starting, or run without a window by
  // another program.
  const bool mainWindowOpen = office.installation.HasTopLevelWindow(kMainWindowClass);
  const bool processRuns = office.installation.HasProcessInSession(kImageName);
  if (!mainWindowOpen && !processRuns) {
    // Nothing runs: a start would run the registered version, which is worth starting only if it kept the
    // bars. Starting one that did not costs seconds and shows a main window (or the profile chooser, or
    // the first-run wizard) for nothing.
    const RegisteredVersion version = FindRegisteredVersion(office.installation, kProgId);
    if (!StartsOutlookOfVersion(version.major)) {
      events.Report(event::NotStarted{*version.major, version.source, kFirstOutlookWithoutStoredBars});
      return {};
    }
    if (version.major) {
      OutlookStartSettings settings = ReadStartSettings(office.installation);
      const OutlookStartVerdict verdict = DecideOutlookStart(settings);
      events.Report(event::StartSettingsRead{*version.major, version.source, std::move(settings), verdict});
      if (verdict != OutlookStartVerdict::kStart) return {};
    } else {
      events.Report(event::StartedForVersion{version.major, version.source});
    }
  }
  Found<Object> start = office.automation.Start(kProgId, kApplication);
  if (!start) {
    events.Report(event::NotReached{attach.outcome, start.outcome});
    return {};
  }
  Reached reached{std::move(start.value), !mainWindowOpen && !processRuns};
  if (reached.bCreated) {
    // An Outlook that automation has just started has no window yet; one the user has open has at least one.
    const OpenWindows open = CountWindows(reached.olApp);
    reached.bCreated = MayQuitStartedOutlook(open.main, open.item, 0);
  }
  if (reached.bCreated) {
    events.Report(event::Started{});
  } else {
    events.Report(event::StartReachedUsers{});
  }
  return reached;
}

// The Inbox main window opened in a started Outlook, with what it was opened on; held until the end.
struct InboxWindow {
  Object nameSpace;
  Object inbox;
  Object explorer;
};

// In an Outlook started here that has no main window: opens the Inbox in a new one and shows it.
InboxWindow OpenInboxWindowIfNone(const Object& olApp, CleanupEvents& events) {
  InboxWindow window;
  if (!HasNoMainWindow(olApp)) return window;
  window.nameSpace = MapiNameSpace(olApp);
  window.inbox = Inbox(window.nameSpace);
  window.explorer = olApp.GetObject(L"Explorers", kExplorers)
                        .Call(L"Add", {static_cast<const Object*>(&window.inbox), kDisplayNormal})
                        .TakeObject(kExplorer);
  events.Report(event::InboxOpened{window.explorer.Call(L"Display").outcome()});
  return window;
}

// Purges the active main window's bar and Tools menu; false when Outlook answered that it has none.
bool CleanMainWindow(const Object& olApp, CleanupEvents& events) {
  if (HasNoMainWindow(olApp)) {
    events.Report(event::NoMainWindow{});
    return false;
  }
  const CommandBars bars(
      olApp.Call(L"ActiveExplorer").TakeObject(kExplorer).GetObject(L"CommandBars", office_types::kCommandBars));
  if (const Found<CommandBar> bar = Reported(events, kMainWindowBar, bars.Item(kMainWindowBar.name))) {
    RemoveCommandBar(bar.value, kMainWindowBar, events);
  }
  if (const Found<CommandBarPopup> menu = Reported(events, kToolsMenu, FindOutlookMenubar(olApp, kToolsMenu, events))) {
    RemoveOutlookMenus(menu.value, kToolsMenu, events);
  }
  return true;
}

// Quits an Outlook started here, unless the user has taken it up meanwhile: its windows are counted again
// just before, since Quit discards what is unsaved in the items the user has open.
void QuitIfStillOurs(const Object& olApp, std::int32_t ownMainWindows, CleanupEvents& events) {
  const OpenWindows open = CountWindows(olApp);
  if (!MayQuitStartedOutlook(open.main, open.item, ownMainWindows)) {
    events.Report(event::TakenUpByUser{std::max(0, open.main.value_or(0)), std::max(0, open.item.value_or(0))});
    return;
  }
  events.Report(event::Quit{olApp.Call(L"Quit").outcome()});
}

}  // namespace

bool StartsOutlookOfVersion(std::optional<std::uint32_t> version) {
  return !version || *version < kFirstOutlookWithoutStoredBars;
}

OutlookStartVerdict DecideOutlookStart(const OutlookStartSettings& settings) {
  using State = UserRegistryValue::State;
  if (settings.barsFile.empty()) return OutlookStartVerdict::kNoAppDataFolder;
  if (!settings.barsFileExists) return OutlookStartVerdict::kNoStoredBars;
  if (settings.defaultProfile.state == State::kUnreadable || settings.pickLogonProfile.state == State::kUnreadable)
    return OutlookStartVerdict::kSettingUnreadable;
  if (settings.defaultProfile.state == State::kAbsent || settings.defaultProfile.text.empty())
    return OutlookStartVerdict::kNoDefaultProfile;
  if (settings.pickLogonProfile.state == State::kRead && settings.pickLogonProfile.text != L"0")
    return OutlookStartVerdict::kPromptsForProfile;
  return OutlookStartVerdict::kStart;
}

bool MayQuitStartedOutlook(std::optional<std::int32_t> explorers, std::optional<std::int32_t> inspectors,
                           std::int32_t ownMainWindows) {
  return explorers.value_or(0) <= ownMainWindows && inspectors.value_or(0) <= 0;
}

void RemoveOutlookToolbars(OfficeAccess office, CleanupEvents& events) {
  const Reached reached = ReachOutlook(office, events);
  if (!reached.olApp) return;
  const Object& olApp = reached.olApp;
  // A running Outlook that was attached to is never given a new window.
  const InboxWindow window = reached.bCreated ? OpenInboxWindowIfNone(olApp, events) : InboxWindow{};
  if (CleanMainWindow(olApp, events)) CleanFirstInboxItemWindow(olApp, events);
  if (reached.bCreated) QuitIfStillOurs(olApp, window.explorer ? 1 : 0, events);
}

Found<CommandBarPopup> FindOutlookMenubar(const Object& olApp, const Subject& menu, CleanupEvents& events) {
  const CommandBars bars(
      olApp.Call(L"ActiveExplorer").TakeObject(kExplorer).GetObject(L"CommandBars", office_types::kCommandBars));
  return FindMenuInAnyLanguage(bars.ActiveMenuBar(), menu, events);
}

void RemoveOutlookMenus(const CommandBarPopup& menu, const Subject& subject, CleanupEvents& events) {
  RemoveMarkedButtons(menu, {kExplorerMenu, kInspectorMenu}, subject, events);
}

}  // namespace corvix
