// The command-bar wrappers and the shared bar removal and menu purge.
#include "office/command_bars.h"

#include "office/control_type.h"

namespace corvix {

using namespace office_types;

std::optional<std::wstring> CommandBarControl::Parameter() const { return object_.Get(L"Parameter").String(); }

CallResult CommandBarControl::Delete() const { return object_.Call(L"Delete"); }

std::optional<std::int32_t> CommandBarControl::Type() const { return object_.Get(L"Type").Int32(); }

// None stays none, with the failure that gave it; a control of another kind is none as "wrong type".
CommandBarButton CommandBarControl::AsButton() && {
  if (object_ && !IsButtonType(Type())) return CommandBarButton(Object::None(kWrongType));
  return CommandBarButton(std::move(object_).UsedAs(kCommandBarButton));
}

CommandBarPopup CommandBarControl::AsPopup() && {
  if (object_ && !IsPopupType(Type())) return CommandBarPopup(Object::None(kWrongType));
  return CommandBarPopup(std::move(object_).UsedAs(kCommandBarPopup));
}

std::optional<std::int32_t> CommandBarControls::Count() const { return object_.Get(L"Count").Int32(); }

CommandBarControl CommandBarControls::Item(std::int32_t position) const {
  return CommandBarControl(object_.GetObject(L"Item", kCommandBarControl, {position}));
}

CommandBarControl CommandBarControls::Item(std::wstring_view caption) const {
  return CommandBarControl(object_.GetObject(L"Item", kCommandBarControl, {std::wstring(caption)}));
}

CommandBarControls CommandBar::Controls() const {
  return CommandBarControls(object_.GetObject(L"Controls", kCommandBarControls));
}

CallResult CommandBar::Delete() const { return object_.Call(L"Delete"); }

CommandBarControl CommandBar::FindControl(std::int32_t id) const {
  // CommandBar.FindControl(Type, Id, Tag, Visible, Recursive): any type, this ID, the rest left out
  // (Recursive false: the bar's own controls only); Nothing when no control fits.
  // https://learn.microsoft.com/en-us/previous-versions/office/developer/office-xp/aa142037(v=office.10)
  return CommandBarControl(object_.Call(L"FindControl", {Omitted{}, id}).TakeObject(kCommandBarControl));
}

CommandBarControls CommandBarPopup::Controls() const {
  return CommandBarControls(object_.GetObject(L"Controls", kCommandBarControls));
}

corvix::CommandBar CommandBarPopup::CommandBar() const {
  return corvix::CommandBar(object_.GetObject(L"CommandBar", kCommandBar));
}

CommandBar CommandBars::Item(std::wstring_view name) const {
  return CommandBar(object_.GetObject(L"Item", kCommandBar, {std::wstring(name)}));
}

CommandBar CommandBars::ActiveMenuBar() const { return CommandBar(object_.GetObject(L"ActiveMenuBar", kCommandBar)); }

void RemoveCommandBar(const CommandBar& bar, const TraceTo& to) {
  const CommandBarControls controls = bar.Controls();
  const std::int32_t n = controls.Count().value_or(0);
  for (std::int32_t i = n; i >= 1; --i) {
    // A control that is not a button (or whose Type cannot be read) stays; it goes with the bar.
    if (const CommandBarButton button = controls.Item(i).AsButton()) to.trace.Deleted(to.what, i, button.Delete());
  }  // the button is released here, before the next position
  to.trace.Deleted(to.what, 0, bar.Delete());
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
                         const TraceTo& to) {
  // The count comes from the menu's controls, the controls themselves from the bar the menu opens.
  const std::int32_t n = menu.Controls().Count().value_or(0);
  const CommandBarControls items = menu.CommandBar().Controls();
  for (std::int32_t i = n; i >= 1; --i) {
    if (const CommandBarButton button = items.Item(i).AsButton()) {
      if (IsMarked(button, markers)) to.trace.Deleted(to.what, i, button.Delete());
    }
  }
}

CommandBarPopup FindMenu(const CommandBar& menuBar, std::wstring_view caption) {
  if (!menuBar) return CommandBarPopup(Object::None(menuBar.object().status(), menuBar.object().description()));
  return menuBar.Controls().Item(caption).AsPopup();
}

std::optional<std::int32_t> BuiltInMenuId(std::wstring_view caption) {
  if (caption == L"&Tools") return kToolsMenuId;
  return std::nullopt;
}

CommandBarPopup FindMenuInAnyLanguage(const CommandBar& menuBar, std::wstring_view caption, const TraceTo& to) {
  CommandBarPopup menu = FindMenu(menuBar, caption);
  if (menu || !menuBar) return menu;
  const std::optional<std::int32_t> id = BuiltInMenuId(caption);
  if (!id) return menu;
  CommandBarPopup builtIn = menuBar.FindControl(*id).AsPopup();
  if (builtIn)
    to.trace.Note(std::wstring(to.what) + L": no menu of that caption; found by its built-in ID " + Decimal(*id));
  return builtIn;
}

}  // namespace corvix
