// Removes the add-in's toolbars and marked Tools menu items from Word.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "office/automation.h"
#include "office/command_bars.h"

namespace corvix {

namespace word_types {
inline constexpr Interface kApplication{L"Word._Application"};
inline constexpr Interface kDocuments{L"Word.Documents"};
inline constexpr Interface kTemplate{L"Word.Template"};
}  // namespace word_types

// Whether a Word that this run started may be quit, from the number of documents it holds: only when it
// holds none. A Word holding a document has become the user's (a document opened while it ran went to
// it). `documents` is empty when the count could not be read: that proves nothing, and Word is quit.
bool MayQuitStartedWord(std::optional<std::int32_t> documents);

// Whether a Word that was running is told to save its Normal template after the clean-up, from
// `NormalTemplate.Saved` read before the clean-up and after it: only when Normal had nothing unsaved before
// and the deletions left it unsaved. Until Normal is saved, the deletions live in that Word's memory only, and
// a crash or a "No" to Word's prompt to save Normal brings the bars back. Changes the user had not saved are
// the user's to save (or not): with them, or with a reading that failed (empty), nothing is saved.
bool MaySaveNormalTemplate(std::optional<bool> savedBefore, std::optional<bool> savedAfter);

// Attaches to the running Word or starts one, empties and deletes the add-in's two toolbars, purges the
// add-in's items from the Tools menu, and quits a Word it started, saving the changes, unless it holds a
// document by then. A Word that was running has its Normal template saved when the clean-up alone changed it
// (MaySaveNormalTemplate). A Word that runs but cannot be attached to (its main window is there, or its
// process runs in this session) is neither started a second time nor cleaned. Best-effort throughout; tells
// each step to `trace`.
void RemoveWordToolbars(Automation& automation, CleanupTrace& trace = CleanupTrace::Discard());

// The menu with `caption` on Word's active menu bar; none when there is no such menu.
CommandBarPopup FindWordMenubar(const Object& wdApp, std::wstring_view caption, const TraceTo& to = {});

// Deletes the menu's buttons that the add-in marked as its own.
void RemoveWordMenus(const CommandBarPopup& menu, const TraceTo& to = {});

}  // namespace corvix
