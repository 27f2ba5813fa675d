// Removes the add-in's toolbar and marked menu items from Outlook's main window and item window.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "office/automation.h"
#include "office/command_bars.h"
#include "office/installation.h"

namespace corvix {

namespace outlook_types {
inline constexpr Interface kApplication{L"Outlook._Application"};
inline constexpr Interface kNameSpace{L"_NameSpace"};
inline constexpr Interface kExplorer{L"_Explorer"};
inline constexpr Interface kInspector{L"_Inspector"};
inline constexpr Interface kFolder{L"MAPIFolder"};
inline constexpr Interface kExplorers{L"_Explorers"};
inline constexpr Interface kInspectors{L"_Inspectors"};
inline constexpr Interface kItems{L"_Items"};
inline constexpr Interface kMailItem{L"_MailItem"};
// An item of a folder before its kind is known: a mail item, a meeting request, a report...
inline constexpr Interface kItem{L"Item"};
}  // namespace outlook_types

// Outlook 2010 (version 14) and later keep no add-in's command bars between sessions: they no longer store
// them (Outlook 2003 and 2007 did, in outcmd.dat), and they show such bars only on the Add-ins tab of the
// session whose add-in created them. A start of one of them finds nothing to remove.
inline constexpr std::uint32_t kFirstOutlookWithoutStoredBars = 14;

// Whether an Outlook that is not running is started for the clean-up, from the major version that a start
// would run: one that kept the bars (2007 and before), or one whose version cannot be read (empty).
bool StartsOutlookOfVersion(std::optional<std::uint32_t> version);

// Where an Outlook that keeps its bars keeps them and the mail profiles it logs on to, in the user's roaming
// application data folder and under HKEY_CURRENT_USER. Outlook 2013 and later keep their profiles elsewhere,
// but they keep no bars either (docs/sources.md, "Outlook's stored bars and mail profiles").
namespace outlook_settings {
inline constexpr std::wstring_view kBarsFile = L"\\Microsoft\\Outlook\\outcmd.dat";  // under the folder
inline constexpr std::wstring_view kProfilesKey =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";
inline constexpr std::wstring_view kDefaultProfile = L"DefaultProfile";
// "Prompt for a profile to be used" (Mail in Control Panel): "0", or no value, logs on to the default profile.
inline constexpr std::wstring_view kClientOptionsKey = L"Software\\Microsoft\\Exchange\\Client\\Options";
inline constexpr std::wstring_view kPickLogonProfile = L"PickLogonProfile";
}  // namespace outlook_settings

// Whether an Outlook of a version that keeps its bars, not running, is started: only where it stores bars
// (outcmd.dat is there) and would log on without asking anything (a default profile is set, and it is not
// set to prompt for a profile). A start that shows the profile wizard or chooser never answers the clean-up's
// logon, and one with no stored bars finds nothing; a setting that cannot be read is such a doubt too.
OutlookStartVerdict DecideOutlookStart(const OutlookStartSettings& settings);

// Whether an Outlook that the clean-up started is its own alone, from the numbers of its main windows and item
// windows: no more main windows than the clean-up opened (`ownMainWindows`, 0 or 1) and no item window. Asked
// right after the start (a start that reached the user's open Outlook is not the clean-up's), and again just
// before its Quit: Quit discards what is unsaved in the user's items, so an Outlook the user has taken up
// meanwhile is left running. A count that could not be read proves nothing.
bool MayQuitStartedOutlook(std::optional<std::int32_t> explorers, std::optional<std::int32_t> inspectors,
                           std::int32_t ownMainWindows);

// Attaches to the running Outlook or starts one (opening the Inbox in a new main window when it has none),
// removes the add-in's toolbar from the main window and from the first Inbox item's window, purges their
// Tools and Actions menus of the add-in's items, and quits an Outlook it started while it is still its own
// alone (MayQuitStartedOutlook). An Outlook that was not reached is not spoken of again. An Outlook that is not
// running is started only when it is of a version that kept the bars (StartsOutlookOfVersion) and, where that
// version is known, only when the user's settings allow it (DecideOutlookStart). A start that
// reaches an Outlook that was running (its main window is there, its process runs in this session, or it has
// windows open) counts as attaching.
// Best-effort throughout; reports each step to `events`.
void RemoveOutlookToolbars(OfficeAccess office, CleanupEvents& events = NoEvents());

// The menu `menu` names (its caption) on the active main window's menu bar; none when there is no such menu.
Found<CommandBarPopup> FindOutlookMenubar(const Object& olApp, const Subject& menu, CleanupEvents& events = NoEvents());

// Deletes the menu's buttons that the add-in marked as its own, by either of its two markers; each deletion is
// reported as one in `subject`.
void RemoveOutlookMenus(const CommandBarPopup& menu, const Subject& subject, CleanupEvents& events = NoEvents());

}  // namespace corvix
