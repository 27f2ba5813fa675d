// Removes the add-in's toolbar and marked menu items from Outlook's main window and item window.
#pragma once

#include <string_view>

#include "office/automation.h"
#include "office/command_bars.h"

namespace corvix {

namespace outlook_types {
inline constexpr Interface kApplication{L"Outlook._Application", L"{00063001-0000-0000-C000-000000000046}"};
inline constexpr Interface kNameSpace{L"_NameSpace", L"{00063002-0000-0000-C000-000000000046}"};
inline constexpr Interface kExplorer{L"_Explorer", L"{00063003-0000-0000-C000-000000000046}"};
inline constexpr Interface kInspector{L"_Inspector", L"{00063005-0000-0000-C000-000000000046}"};
inline constexpr Interface kFolder{L"MAPIFolder", L"{00063006-0000-0000-C000-000000000046}"};
inline constexpr Interface kExplorers{L"_Explorers", L"{0006300A-0000-0000-C000-000000000046}"};
inline constexpr Interface kItems{L"_Items", L"{00063041-0000-0000-C000-000000000046}"};
inline constexpr Interface kMailItem{L"_MailItem", L"{00063034-0000-0000-C000-000000000046}"};
// An item of a folder before it is converted: a mail item, a meeting request, a report...
inline constexpr Interface kItem{L"Item", L""};
}  // namespace outlook_types

// Attaches to the running Outlook or starts one (opening the Inbox in a new main window when it has none),
// removes the add-in's toolbar from the main window and from the first Inbox item's window, purges their
// Tools and Actions menus of the add-in's items, and quits an Outlook it started. Best-effort throughout.
void RemoveOutlookToolbars(Automation& automation);

// The menu with `caption` on the active main window's menu bar; none when there is no such menu.
CommandBarPopup FindOutlookMenubar(const Object& olApp, std::wstring_view caption);

// Deletes the menu's buttons that the add-in marked as its own, by either of its two markers.
void RemoveOutlookMenus(const CommandBarPopup& menu);

}  // namespace corvix
