// The command-bar wrappers and the shared bar removal and menu purge.
#include "office/command_bars.h"

namespace corvix {

using namespace office_types;

namespace {

// Office's MsoControlType values that the clean-ups tell apart. A control says what it is through its own
// IDispatch (its `Type`), so the test needs nothing from Office but the object: no interface is asked for, and
// no type library has to be registered for the caller's bitness.
namespace mso_control {
constexpr std::int32_t kButton = 1;                // msoControlButton
constexpr std::int32_t kPopup = 10;                // msoControlPopup: a menu
constexpr std::int32_t kGraphicPopup = 11;         // msoControlGraphicPopup
constexpr std::int32_t kButtonPopup = 12;          // msoControlButtonPopup
constexpr std::int32_t kSplitButtonPopup = 13;     // msoControlSplitButtonPopup
constexpr std::int32_t kSplitButtonMRUPopup = 14;  // msoControlSplitButtonMRUPopup
}  // namespace mso_control

// A control is a menu (it opens a bar of its own) when its Type is one of the pop-up kinds; a Type that could not
// be read (empty) makes it none.
bool IsPopupType(std::optional<std::int32_t> type) {
  if (!type) return false;
  switch (*type) {
    case mso_control::kPopup:
    case mso_control::kGraphicPopup:
    case mso_control::kButtonPopup:
    case mso_control::kSplitButtonPopup:
    case mso_control::kSplitButtonMRUPopup:
      return true;
    default:
      return false;
  }
}

// A found control as a menu: none stays none, with the outcome that gave it; a control of another kind is none as
// "wrong type".
Found<CommandBarPopup> AsMenu(Found<CommandBarControl> control) {
  if (!control) return {{}, std::move(control.outcome)};
  CommandBarPopup menu = std::move(control.value).AsPopup();
  if (!menu) return {{}, Outcome{kWrongType, {}}};
  return {std::move(menu), {}};
}

// A call's object as the wrapper T, with how the call ended.
template <typename T>
Found<T> FoundAs(CallResult result, const Interface& type) {
  Found<Object> found = result.TakeFound(type);
  return {T(std::move(found.value)), std::move(found.outcome)};
}

}  // namespace

std::optional<std::wstring> CommandBarControl::Parameter() const { return object_.Get(L"Parameter").String(); }

CallResult CommandBarControl::Delete() const { return object_.Call(L"Delete"); }

std::optional<std::int32_t> CommandBarControl::Type() const { return object_.Get(L"Type").Int32(); }

// A control is a button only when it says it is one; a Type that could not be read keeps it where it is.
CommandBarButton CommandBarControl::AsButton() && {
  if (!object_ || Type() != mso_control::kButton) return {};
  return CommandBarButton(std::move(object_).UsedAs(kCommandBarButton));
}

CommandBarPopup CommandBarControl::AsPopup() && {
  if (!object_ || !IsPopupType(Type())) return {};
  return CommandBarPopup(std::move(object_).UsedAs(kCommandBarPopup));
}

std::optional<std::int32_t> CommandBarControls::Count() const { return object_.Get(L"Count").Int32(); }

CommandBarControl CommandBarControls::Item(std::int32_t position) const {
  return CommandBarControl(object_.GetObject(L"Item", kCommandBarControl, {position}));
}

Found<CommandBarControl> CommandBarControls::Item(std::wstring_view caption) const {
  return FoundAs<CommandBarControl>(object_.Get(L"Item", {std::wstring(caption)}), kCommandBarControl);
}

CommandBarControls CommandBar::Controls() const {
  return CommandBarControls(object_.GetObject(L"Controls", kCommandBarControls));
}

CallResult CommandBar::Delete() const { return object_.Call(L"Delete"); }

Found<CommandBarControl> CommandBar::FindControl(std::int32_t id) const {
  // CommandBar.FindControl(Type, Id, Tag, Visible, Recursive): any type, this ID, the rest left out
  // (Recursive false: the bar's own controls only); Nothing when no control fits (docs/sources.md).
  return FoundAs<CommandBarControl>(object_.Call(L"FindControl", {Omitted{}, id}), kCommandBarControl);
}

CommandBarControls CommandBarPopup::Controls() const {
  return CommandBarControls(object_.GetObject(L"Controls", kCommandBarControls));
}

corvix::CommandBar CommandBarPopup::CommandBar() const {
  return corvix::CommandBar(object_.GetObject(L"CommandBar", kCommandBar));
}

Found<CommandBar> CommandBars::Item(std::wstring_view name) const {
  return FoundAs<CommandBar>(object_.Get(L"Item", {std::wstring(name)}), kCommandBar);
}

Found<CommandBar> CommandBars::ActiveMenuBar() const {
  return FoundAs<CommandBar>(object_.Get(L"ActiveMenuBar"), kCommandBar);
}

void RemoveCommandBar(const CommandBar& bar, const Subject& subject, CleanupEvents& events) {
  const CommandBarControls controls = bar.Controls();
  const std::int32_t n = controls.Count().value_or(0);
  for (std::int32_t i = n; i >= 1; --i) {
    // A control that is not a button (or whose Type cannot be read) stays; it goes with the bar.
    if (const CommandBarButton button = controls.Item(i).AsButton()) {
      events.Report(event::Deleted{subject, i, button.Delete().outcome()});
    }
  }  // the button is released here, before the next position
  events.Report(event::Deleted{subject, 0, bar.Delete().outcome()});
}

namespace {

// True when one of the button's Parameter readings equals its marker. A reading that fails ends the
// test as not met, so the button stays.
bool IsMarked(const CommandBarButton& button, std::initializer_list<std::wstring_view> markers) {
  bool marked = false;
  for (const std::wstring_view marker : markers) {
    const std::optional<std::wstring> parameter = button.Parameter();
    if (!parameter) return false;
    if (*parameter == marker) marked = true;
  }
  return marked;
}

}  // namespace

void RemoveMarkedButtons(const CommandBarPopup& menu, std::initializer_list<std::wstring_view> markers,
                         const Subject& subject, CleanupEvents& events) {
  // The count comes from the menu's controls, the controls themselves from the bar the menu opens.
  const std::int32_t n = menu.Controls().Count().value_or(0);
  const CommandBarControls items = menu.CommandBar().Controls();
  for (std::int32_t i = n; i >= 1; --i) {
    if (const CommandBarButton button = items.Item(i).AsButton()) {
      if (IsMarked(button, markers)) events.Report(event::Deleted{subject, i, button.Delete().outcome()});
    }
  }
}

Found<CommandBarPopup> FindMenu(const Found<CommandBar>& menuBar, std::wstring_view caption) {
  if (!menuBar) return {{}, menuBar.outcome};
  return AsMenu(menuBar.value.Controls().Item(caption));
}

namespace {

// The built-in control ID of the menu with this English caption, for the menus whose ID is known.
std::optional<std::int32_t> BuiltInMenuId(std::wstring_view caption) {
  if (caption == L"&Tools") return kToolsMenuId;
  return std::nullopt;
}

}  // namespace

Found<CommandBarPopup> FindMenuInAnyLanguage(const Found<CommandBar>& menuBar, const Subject& menu,
                                             CleanupEvents& events) {
  Found<CommandBarPopup> byCaption = FindMenu(menuBar, menu.name);
  if (byCaption || !menuBar) return byCaption;
  const std::optional<std::int32_t> id = BuiltInMenuId(menu.name);
  if (!id) return byCaption;
  Found<CommandBarPopup> builtIn = AsMenu(menuBar.value.FindControl(*id));
  if (builtIn) events.Report(event::FoundByBuiltInId{menu, *id});
  return builtIn;
}

}  // namespace corvix
