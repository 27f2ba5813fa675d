// The Office command-bar objects as the clean-ups use them, and RemoveCommandBar.
//
// Thin typed wrappers over Object: each holds one reference, is empty for "none", and offers exactly the
// operations the clean-ups make. A failed operation yields none (or nothing); a lookup whose outcome the
// clean-ups report keeps it beside the empty value (Found).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "office/automation.h"
#include "office/cleanup_events.h"

namespace corvix {

// Office's command-bar interfaces, as the static types references are used as.
namespace office_types {
inline constexpr Interface kCommandBars{L"_CommandBars"};
inline constexpr Interface kCommandBar{L"CommandBar"};
inline constexpr Interface kCommandBarControls{L"CommandBarControls"};
inline constexpr Interface kCommandBarControl{L"CommandBarControl"};
inline constexpr Interface kCommandBarPopup{L"CommandBarPopup"};
inline constexpr Interface kCommandBarButton{L"_CommandBarButton"};
}  // namespace office_types

// Holds one reference; the wrappers below differ only in the operations they offer.
class Wrapped {
 public:
  Wrapped() = default;
  explicit Wrapped(Object object) : object_(std::move(object)) {}
  explicit operator bool() const { return static_cast<bool>(object_); }
  const Object& object() const { return object_; }

 protected:
  Object object_;
};

class CommandBarButton;
class CommandBarPopup;

class CommandBarControl : public Wrapped {
 public:
  using Wrapped::Wrapped;
  // The string the control's creator stored in it; empty when it cannot be read.
  std::optional<std::wstring> Parameter() const;
  // Removes the control for good (`Temporary` omitted); the call's outcome.
  CallResult Delete() const;
  // Test and conversion, one `Type` read: this reference, moved, as a button; or none when the control
  // is not a button (or its Type cannot be read), and the control goes with its owner as usual.
  CommandBarButton AsButton() &&;
  // The same for a menu (one of the pop-up kinds).
  CommandBarPopup AsPopup() &&;

 private:
  // The control's MsoControlType; empty when it cannot be read or is not an integer.
  std::optional<std::int32_t> Type() const;
};

class CommandBarButton : public CommandBarControl {
 public:
  using CommandBarControl::CommandBarControl;
};

class CommandBarControls : public Wrapped {
 public:
  using Wrapped::Wrapped;
  // Number of controls; empty when it cannot be read.
  std::optional<std::int32_t> Count() const;
  // The control at a 1-based position; none when out of range.
  CommandBarControl Item(std::int32_t position) const;
  // The control with this caption, "&" accelerator mark included; none when there is none.
  Found<CommandBarControl> Item(std::wstring_view caption) const;
};

class CommandBar : public Wrapped {
 public:
  using Wrapped::Wrapped;
  CommandBarControls Controls() const;
  // The first control on this bar itself (its menus are not searched) whose built-in ID is `id`, of any
  // type; none when there is none.
  Found<CommandBarControl> FindControl(std::int32_t id) const;
  // Removes the bar for good; the call's outcome.
  CallResult Delete() const;
};

class CommandBarPopup : public CommandBarControl {
 public:
  using CommandBarControl::CommandBarControl;
  // The menu's controls (used for their count).
  CommandBarControls Controls() const;
  // The bar the menu opens (its controls are the same, used for indexing).
  corvix::CommandBar CommandBar() const;
};

class CommandBars : public Wrapped {
 public:
  using Wrapped::Wrapped;
  // The bar with this name; none when no bar has it.
  Found<CommandBar> Item(std::wstring_view name) const;
  // The menu bar the window is using; none when there is none.
  Found<CommandBar> ActiveMenuBar() const;
};

// Clears a found bar of its buttons, last position first, and deletes it. Controls that are not buttons
// go with the bar. Every step is best-effort: a failure skips only that step. Each deletion is reported as one
// in `bar`.
void RemoveCommandBar(const CommandBar& bar, const Subject& subject, CleanupEvents& events = NoEvents());

// The menu purge both clean-ups make: for each control of `menu` from the last position to the first,
// a button is deleted when one of its Parameter readings equals its marker. `Parameter` is read once per
// marker, in order, and a reading that fails leaves the button in place. Each deletion is reported as one in
// `subject`.
void RemoveMarkedButtons(const CommandBarPopup& menu, std::initializer_list<std::wstring_view> markers,
                         const Subject& subject, CleanupEvents& events = NoEvents());

// Looks up `caption` among a menu bar's controls as a menu; none when there is no such control or it is
// not a menu (kWrongType), or when there is no menu bar (with the outcome of its lookup).
Found<CommandBarPopup> FindMenu(const Found<CommandBar>& menuBar, std::wstring_view caption);

// The built-in control ID of the Tools menu, the same in every language (its caption is translated:
// "E&xtras" in German); Word and Outlook share it. Microsoft lists Word's built-in control IDs in the table
// that its published file-format document [MS-CTDOC] section 2.2, "Toolbar Control Data", refers to
// ([MSDN-TCID/Word], a download); 30007 is the value in common use for Tools and has not been checked against
// that table here. A custom control's ID is always 1 ("The value of the Id property for all custom controls
// is 1"), so no control the add-in made can be taken for the built-in menu. (docs/sources.md, "Control IDs".)
inline constexpr std::int32_t kToolsMenuId = 30007;

// As FindMenu for the menu `menu` names; only when its caption finds no menu (an Office in another language)
// and the menu has a built-in ID, the menu bar's own control with that ID (CommandBar.FindControl), when it is
// a menu. A menu found by its ID is reported. Only "&Tools" has one here: no published table gives the item
// window's "&Actions" menu's ID.
Found<CommandBarPopup> FindMenuInAnyLanguage(const Found<CommandBar>& menuBar, const Subject& menu,
                                             CleanupEvents& events = NoEvents());

}  // namespace corvix
