// The command-bar wrappers and the shared bar removal and menu purge.
#include "office/command_bars.h"

#include "office/control_type.h"

namespace corvix {

using namespace office_types;

std::optional<std::wstring> CommandBarControl::Parameter() const { return object_.Get(L"Parameter").String(); }

bool CommandBarControl::Delete() const { return object_.Call(L"Delete").ok(); }

std::optional<std::int32_t> CommandBarControl::Type() const { return object_.Get(L"Type").Int32(); }

CommandBarButton CommandBarControl::AsButton() && {
  if (!IsButtonType(Type())) return {};
  return CommandBarButton(std::move(object_).UsedAs(kCommandBarButton));
}

CommandBarPopup CommandBarControl::AsPopup() && {
  if (!IsPopupType(Type())) return {};
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

bool CommandBar::Delete() const { return object_.Call(L"Delete").ok(); }

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

void RemoveCommandBar(const CommandBar& bar) {
  const CommandBarControls controls = bar.Controls();
  const std::int32_t n = controls.Count().value_or(0);
  for (std::int32_t i = n; i >= 1; --i) {
    // A control that is not a button (or whose Type cannot be read) stays; it goes with the bar.
    if (const CommandBarButton button = controls.Item(i).AsButton()) button.Delete();
  }  // the button is released here, before the next position
  bar.Delete();
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

void RemoveMarkedButtons(const CommandBarPopup& menu, std::initializer_list<std::wstring_view> markers) {
  // The count comes from the menu's controls, the controls themselves from the bar the menu opens.
  const std::int32_t n = menu.Controls().Count().value_or(0);
  const CommandBarControls items = menu.CommandBar().Controls();
  for (std::int32_t i = n; i >= 1; --i) {
    if (const CommandBarButton button = items.Item(i).AsButton()) {
      if (IsMarked(button, markers)) button.Delete();
    }
  }
}

CommandBarPopup FindMenu(const CommandBar& menuBar, std::wstring_view caption) {
  if (!menuBar) return {};
  return menuBar.Controls().Item(caption).AsPopup();
}

std::optional<std::int32_t> BuiltInMenuId(std::wstring_view caption) {
  if (caption == L"&Tools") return kToolsMenuId;
  return std::nullopt;
}

CommandBarPopup FindMenuInAnyLanguage(const CommandBar& menuBar, std::wstring_view caption) {
  if (!menuBar) return {};
  if (CommandBarPopup menu = FindMenu(menuBar, caption)) return menu;
  const std::optional<std::int32_t> id = BuiltInMenuId(caption);
  if (!id) return {};
  return menuBar.FindControl(*id).AsPopup();
}

}  // namespace corvix
