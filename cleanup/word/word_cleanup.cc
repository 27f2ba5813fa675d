// The Word clean-up.
#include "cleanup/word/word_cleanup.h"

namespace corvix {

namespace {
constexpr std::wstring_view kProgId = L"Word.Application";
// The add-in's marker in the Parameter of a menu item it added.
constexpr std::wstring_view kInspectorMenu = L"Inspector Menu";
}  // namespace

void RemoveWordToolbars(Automation& automation) {
  bool bCreated = false;
  Object wdApp = automation.Attach(kProgId, word_types::kApplication);
  if (!wdApp) {
    wdApp = automation.Start(kProgId, word_types::kApplication);
    bCreated = true;
  }
  if (!wdApp) return;

  const CommandBars bars(wdApp.GetObject(L"CommandBars", office_types::kCommandBars));
  if (const CommandBar bar = bars.Item(L"Merrowin Software")) RemoveCommandBar(bar);
  if (const CommandBar bar = bars.Item(L"Merrowin Software Toolbar")) RemoveCommandBar(bar);

  const CommandBarPopup menu = FindWordMenubar(wdApp, L"&Tools");
  if (menu) RemoveWordMenus(menu);

  // Word keeps the deletions in its template; saving on the way out is what makes them stick in a Word
  // that was started here. The other two arguments (OriginalFormat, RouteDocument) are left out.
  if (bCreated) wdApp.Call(L"Quit", {true});
}

CommandBarPopup FindWordMenubar(const Object& wdApp, std::wstring_view caption) {
  const CommandBars bars(wdApp.GetObject(L"CommandBars", office_types::kCommandBars));
  return FindMenu(bars.ActiveMenuBar(), caption);
}

void RemoveWordMenus(const CommandBarPopup& menu) { RemoveMarkedButtons(menu, {kInspectorMenu}); }

}  // namespace corvix
