// Removes the add-in's toolbars and marked Tools menu items from Word.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "office/automation.h"
#include "office/command_bars.h"
#include "office/installation.h"

namespace corvix {

namespace word_types {
inline constexpr Interface kApplication{L"Word._Application"};
inline constexpr Interface kDocuments{L"Word.Documents"};
inline constexpr Interface kTemplate{L"Word.Template"};
}  // namespace word_types

// Whether a Word that was running is told to save its Normal template after the clean-up, from
// `NormalTemplate.Saved` read before the clean-up and after it: only when Normal had nothing unsaved before
// and the deletions left it unsaved. Until Normal is saved, the deletions live in that Word's memory only, and
// a crash or a "No" to Word's prompt to save Normal brings the bars back. Changes the user had not saved are
// the user's to save (or not): with them, or with a reading that failed (empty), nothing is saved.
bool MaySaveNormalTemplate(std::optional<bool> savedBefore, std::optional<bool> savedAfter);

// Attaches to the running Word or starts one (and turns a started Word's alerts off first), sets its
// CustomizationContext to Normal, empties and deletes the add-in's two toolbars, purges the add-in's items from
// the Tools menu, gives the user's CustomizationContext back, and quits a Word it started, saving the changes,
// unless it holds a document by then. A Word that was running has its Normal template saved when the clean-up
// alone changed it (MaySaveNormalTemplate) and its file can be written, with its alerts off for the Save and
// the user's DisplayAlerts given back after it. A Word that runs but cannot be attached to (its main window is there,
// or its process runs in this session) is neither started a second time nor cleaned. Best-effort throughout; reports
// each step to `events`.
void RemoveWordToolbars(OfficeAccess office, CleanupEvents& events = NoEvents());

// The menu `menu` names (its caption) on Word's active menu bar; none when there is no such menu.
Found<CommandBarPopup> FindWordMenubar(const Object& wdApp, const Subject& menu, CleanupEvents& events = NoEvents());

// Deletes the menu's buttons that the add-in marked as its own; each deletion is reported as one in `subject`.
void RemoveWordMenus(const CommandBarPopup& menu, const Subject& subject, CleanupEvents& events = NoEvents());

}  // namespace corvix
