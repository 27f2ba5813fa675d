// The Word clean-up.
#include "cleanup/word/word_cleanup.h"

#include "cleanup/word/normal_template.h"

namespace corvix {

namespace {
constexpr std::wstring_view kProgId = L"Word.Application";
// The class of Word's main window (its frame; hidden in a Word that automation started). Microsoft's
// object model does not name it; it is the class that programs looking for a running Word pass to
// FindWindow, as read off with Spy++ (docs/sources.md, "Main-window classes").
constexpr std::wstring_view kMainWindowClass = L"OpusApp";
// Word's program file, as a process snapshot names it.
constexpr std::wstring_view kImageName = L"WINWORD.EXE";
// The add-in's marker in the Parameter of a menu item it added.
constexpr std::wstring_view kInspectorMenu = L"Inspector Menu";
// The add-in's two toolbars, and the menu that holds its items.
constexpr std::wstring_view kBarNames[] = {L"Merrowin Software", L"Merrowin Software Toolbar"};
constexpr Subject kToolsMenu{Subject::Window::kOnly, Subject::Kind::kMenu, L"&Tools"};
// WdAlertLevel's wdAlertsNone: no message, no dialog; a call that would show one fails instead.
constexpr std::int32_t kAlertsNone = 0;
// wdAlertsAll: what every Word starts with.
constexpr std::int32_t kAlertsAll = -1;

// The number of documents Word holds; empty when it cannot be read.
std::optional<std::int32_t> DocumentCount(const Object& wdApp) {
  return wdApp.GetObject(L"Documents", word_types::kDocuments).Get(L"Count").Int32();
}

// Whether the template holds no unsaved changes; empty when that cannot be read.
std::optional<bool> TemplateSaved(const Object& changed) { return changed.Get(L"Saved").Bool(); }

// Turns Word's alerts off (wdAlertsNone): a call that would otherwise show a message or Save As fails instead.
Outcome AlertsOff(const Object& wdApp) { return wdApp.Put(L"DisplayAlerts", kAlertsNone).outcome(); }

// Sets Word's DisplayAlerts to `level` (`step`: setting it for the clean-up, or giving it back), and reports a
// failure.
void PutAlerts(const Object& wdApp, std::int32_t level, event::SettingFailed::Step step, CleanupEvents& events) {
  if (Outcome put = wdApp.Put(L"DisplayAlerts", level).outcome(); !put.ok()) {
    events.Report(event::SettingFailed{event::SettingFailed::Setting::kDisplayAlerts, step, std::move(put)});
  }
}

// Saves the template the deletions went to, with Word's alerts off, and gives the user's DisplayAlerts back.
void SaveWithoutAlerts(const Object& wdApp, const Object& changed, CleanupEvents& events) {
  using Step = event::NormalTemplate::Step;
  const CallResult users = wdApp.Get(L"DisplayAlerts");
  const std::optional<std::int32_t> usersAlerts = users.Int32();
  if (!usersAlerts) {
    // Without the user's value there is nothing to give back: the alerts are left as they are, and so is Normal.
    events.Report(event::NormalTemplate{Step::kAlertsNotOff, users.ok() ? Outcome{kWrongType, {}} : users.outcome()});
    return;
  }
  if (Outcome off = AlertsOff(wdApp); !off.ok()) {
    events.Report(event::NormalTemplate{Step::kAlertsNotOff, std::move(off)});
    return;
  }
  Outcome saved = changed.Call(L"Save").outcome();
  const Step step = saved.ok() ? Step::kSaved : Step::kSaveFailed;
  events.Report(event::NormalTemplate{step, std::move(saved)});
  // Word keeps DisplayAlerts as it was last set, for the user's session too.
  PutAlerts(wdApp, *usersAlerts, event::SettingFailed::Step::kGiveBack, events);
}

// Saves the template the deletions went to once the clean-up alone has changed it and its file can be
// written, and reports why it did or did not.
void SaveIfCleanedOnly(Installation& installation, const Object& wdApp, const Object& changed,
                       std::optional<bool> savedBefore, CleanupEvents& events) {
  using Step = event::NormalTemplate::Step;
  const std::optional<bool> savedAfter = TemplateSaved(changed);
  if (MaySaveNormalTemplate(savedBefore, savedAfter)) {
    // A template that was never saved, or whose file is read-only, locked or gone, would be saved through a
    // Save As dialog or answered by a message: it is left unsaved.
    const std::optional<std::wstring> file = changed.Get(L"FullName").String();
    if (!file || !installation.IsWritableFile(*file)) {
      event::NormalTemplate notWritable{Step::kNotWritable, Outcome{}, {}};
      if (file) notWritable.file = *file;
      events.Report(notWritable);
      return;
    }
    SaveWithoutAlerts(wdApp, changed, events);
  } else if (!savedBefore) {
    events.Report(event::NormalTemplate{Step::kUnreadable, {}});
  } else if (!*savedBefore) {
    events.Report(event::NormalTemplate{Step::kUsersChanges, {}});
  } else {
    events.Report(event::NormalTemplate{Step::kNothingUnsaved, {}});
  }
}

// Word's CustomizationContext for the clean-up: set to Normal, so that the deletions go there, and the user's
// given back afterwards.
class NormalContext {
 public:
  NormalContext(const Object& wdApp, CleanupEvents& events)
      : wdApp_(wdApp),
        events_(events),
        normal_(wdApp.GetObject(L"NormalTemplate", word_types::kTemplate)),
        users_(wdApp.GetObject(L"CustomizationContext", word_types::kTemplate)) {
    Outcome set = normal_ ? wdApp.Put(L"CustomizationContext", &normal_).outcome() : Outcome{kNoObject, {}};
    switched_ = set.ok();
    if (!switched_) events.Report(Failed{Failed::Setting::kCustomizationContext, Failed::Step::kSet, std::move(set)});
  }

  // The template the deletions go to: Normal, or, when the context could not be set, the one it names.
  const Object& changed() const { return switched_ || !users_ ? normal_ : users_; }

  // Gives the user's context back (when it was changed, and it could be read). Once only.
  void GiveBack() {
    if (!switched_ || !users_) return;
    if (Outcome back = wdApp_.Put(L"CustomizationContext", &users_).outcome(); !back.ok()) {
      events_.Report(Failed{Failed::Setting::kCustomizationContext, Failed::Step::kGiveBack, std::move(back)});
    }
  }

 private:
  using Failed = event::SettingFailed;
  const Object& wdApp_;
  CleanupEvents& events_;
  Object normal_;
  Object users_;
  bool switched_ = false;
};

}  // namespace

bool MaySaveNormalTemplate(std::optional<bool> savedBefore, std::optional<bool> savedAfter) {
  return savedBefore == true && savedAfter == false;
}

void RemoveWordToolbars(OfficeAccess office, CleanupEvents& events) {
  bool bCreated = false;
  Found<Object> attach = office.automation.Attach(kProgId, word_types::kApplication);
  Object wdApp = std::move(attach.value);
  if (wdApp) events.Report(event::Attached{});
  if (!wdApp) {
    // A Word that runs but could not be attached to is left alone: its class factory is single-use, so a
    // start would make a second, hidden Word sharing the user's Normal (docs/behaviour.md, "Word"). It shows
    // itself by its main window, or by its process in this session.
    if (office.installation.HasTopLevelWindow(kMainWindowClass)) {
      events.Report(event::LeftRunning{true, kImageName});
      return;
    }
    if (office.installation.HasProcessInSession(kImageName)) {
      events.Report(event::LeftRunning{false, kImageName});
      return;
    }
    // Nothing runs: Word is started only when its Normal may store the add-in's bars (docs/behaviour.md,
    // "Word not running: its Normal template is read first").
    event::NormalTemplateRead normal = ReadNormalTemplate(office.installation);
    const bool storesNothing = normal.verdict == event::NormalTemplateRead::Verdict::kStoresNothing;
    events.Report(std::move(normal));
    if (storesNothing) return;
    Found<Object> start = office.automation.Start(kProgId, word_types::kApplication);
    wdApp = std::move(start.value);
    bCreated = true;
    if (wdApp) {
      events.Report(event::Started{});
    } else {
      events.Report(event::NotReached{attach.outcome, start.outcome});
    }
  }
  if (!wdApp) return;

  // A Word started here shows nobody its messages: from its first call on, it answers without them.
  if (bCreated) PutAlerts(wdApp, kAlertsNone, event::SettingFailed::Step::kSet, events);
  // Word keeps command-bar changes in the template its CustomizationContext names, which a macro or another
  // add-in may have set to a template of its own; the deletions are made in Normal.
  NormalContext context(wdApp, events);
  // A Word that was running: whether that template had unsaved changes before the clean-up.
  std::optional<bool> savedBefore;
  if (!bCreated) savedBefore = TemplateSaved(context.changed());

  const CommandBars bars(wdApp.GetObject(L"CommandBars", office_types::kCommandBars));
  for (const std::wstring_view name : kBarNames) {
    const Subject bar{Subject::Window::kOnly, Subject::Kind::kBar, name};
    if (const Found<CommandBar> found = Reported(events, bar, bars.Item(bar.name))) {
      RemoveCommandBar(found.value, bar, events);
    }
  }

  const Found<CommandBarPopup> menu = Reported(events, kToolsMenu, FindWordMenubar(wdApp, kToolsMenu, events));
  if (menu) RemoveWordMenus(menu.value, kToolsMenu, events);
  context.GiveBack();

  // Word keeps the deletions in the template, in memory until it is saved. A Word that was running saves it
  // here, once, after the last deletion (when nothing of the user's was unsaved in it, and its file can be
  // written), with its alerts off for the Save alone.
  if (!bCreated) {
    SaveIfCleanedOnly(office.installation, wdApp, context.changed(), savedBefore, events);
    return;
  }
  // Saving on the way out is what makes the deletions stick in a Word that was started here. The other two
  // arguments (OriginalFormat, RouteDocument) are left out. A hidden Word that was started here can be
  // handed a document the user opens meanwhile; holding one, it is the user's now: quitting would save and
  // close the user's documents, so it is left running. A count that cannot be read proves nothing: Word is quit.
  if (const std::optional<std::int32_t> documents = DocumentCount(wdApp); !documents || *documents <= 0) {
    events.Report(event::Quit{wdApp.Call(L"Quit", {true}).outcome()});
  } else {
    events.Report(event::LeftToTheUser{});
    // The user's now: it gets the alerts every Word starts with back.
    PutAlerts(wdApp, kAlertsAll, event::SettingFailed::Step::kGiveBack, events);
  }
}

Found<CommandBarPopup> FindWordMenubar(const Object& wdApp, const Subject& menu, CleanupEvents& events) {
  const CommandBars bars(wdApp.GetObject(L"CommandBars", office_types::kCommandBars));
  return FindMenuInAnyLanguage(bars.ActiveMenuBar(), menu, events);
}

void RemoveWordMenus(const CommandBarPopup& menu, const Subject& subject, CleanupEvents& events) {
  RemoveMarkedButtons(menu, {kInspectorMenu}, subject, events);
}

}  // namespace corvix
