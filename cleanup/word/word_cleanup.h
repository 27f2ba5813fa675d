// Removes the add-in's toolbars and marked Tools menu items from Word.
#pragma once

#include <string_view>

#include "office/automation.h"
#include "office/command_bars.h"

namespace corvix {

namespace word_types {
inline constexpr Interface kApplication{L"Word._Application"};
}

// Attaches to the running Word or starts one, empties and deletes the add-in's two toolbars, purges the
// add-in's items from the Tools menu, and quits a Word it started, saving the changes. Best-effort
// throughout; reports nothing.
void RemoveWordToolbars(Automation& automation);

// The menu with `caption` on Word's active menu bar; none when there is no such menu.
CommandBarPopup FindWordMenubar(const Object& wdApp, std::wstring_view caption);

// Deletes the menu's buttons that the add-in marked as its own.
void RemoveWordMenus(const CommandBarPopup& menu);

}  // namespace corvix
