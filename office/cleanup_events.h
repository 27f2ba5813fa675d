// What a clean-up reports as it goes: one typed event per decision and per step whose outcome matters.
//
// Portable. The clean-ups report events and never write text; the debugger channel's lines are made from them in
// one place (office/trace.h), and docs/diagnostics.md says what each line means.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "office/automation.h"
#include "office/installation.h"

namespace corvix {

// A bar or menu that a clean-up works on, named by the same name or caption its lookup uses.
struct Subject {
  enum class Window { kOnly, kMain, kItem };  // Word's one window kind; Outlook's main window and item window
  enum class Kind { kBar, kMenu };
  Window window;
  Kind kind;
  std::wstring_view name;
};

// What an Outlook that keeps its bars (2007 and before) would meet if it were started, read from the user's
// settings: its stored bars' file, and the mail profile it would log on to without asking.
struct OutlookStartSettings {
  std::wstring barsFile;  // outcmd.dat's path; empty when the roaming application data folder is not known
  bool barsFileExists = false;
  UserRegistryValue defaultProfile;    // the default mail profile's name
  UserRegistryValue pickLogonProfile;  // whether Outlook asks for a profile at its start
};

// Whether such an Outlook is started, or the first reason why not.
enum class OutlookStartVerdict {
  kStart,
  kNoAppDataFolder,
  kNoStoredBars,
  kNoDefaultProfile,
  kPromptsForProfile,
  kSettingUnreadable
};

namespace event {

// How the application was reached, or why not.
struct Attached {};
struct Started {};
// A start that reached the user's running instance: treated as attached.
struct StartReachedUsers {};
// Running, but out of reach: shown by its main window, or else by `imageName`'s process in this session.
struct LeftRunning {
  bool mainWindow;
  std::wstring_view imageName;
};
// Not running, and the registered version (where it was read: `source`) keeps no add-in's bars, as none from
// `firstWithoutBars` on does: not started.
struct NotStarted {
  std::uint32_t version;
  std::wstring source;
  std::uint32_t firstWithoutBars;
};
// Not running, and the registered version (`version`, read at `source`) keeps its bars: what was read of the
// user's settings, and whether that started it.
struct StartSettingsRead {
  std::uint32_t version;
  std::wstring source;
  OutlookStartSettings settings;
  OutlookStartVerdict verdict;
};
// Not running, and started for the registered version: one that kept the bars, or none could be read.
struct StartedForVersion {
  std::optional<std::uint32_t> version;
  std::wstring source;
};
// Not running: what its Normal template (`path`, found in `folderSource`) stores, read before a start: something
// of the add-in's (`detail` names it: started), nothing of it (not started), or it cannot be told (`detail`
// says why: started, as ever). The version, where it was read, is the one the start would run.
struct NormalTemplateRead {
  enum class Verdict { kStoresAddIns, kStoresNothing, kCannotTell };
  Verdict verdict = Verdict::kCannotTell;
  std::optional<std::uint32_t> version = {};
  std::wstring versionSource = {};
  std::wstring folderSource = {};
  std::wstring path = {};
  std::wstring detail = {};
};
struct NotReached {
  Outcome attach;
  Outcome start;
};

// What the lookup of a bar or menu came to.
struct Looked {
  Subject subject;
  bool found;
  Outcome outcome;  // how the lookup ended when nothing was found
};
// A menu whose caption found nothing, found by its built-in control ID.
struct FoundByBuiltInId {
  Subject subject;
  std::int32_t id;
};
// A deletion: of the control at `position` in the subject, or of the subject itself when position is 0.
struct Deleted {
  Subject subject;
  std::int32_t position;
  Outcome outcome;
};

// Word's Normal template (the template the deletions went to) after the clean-up of a Word that was running:
// saved, or why not. kNotWritable: its file (`file`, empty when FullName could not be read) is not there or
// cannot be written; kAlertsNotOff: DisplayAlerts could not be read or turned off for the Save.
struct NormalTemplate {
  enum class Step { kSaved, kSaveFailed, kUnreadable, kUsersChanges, kNothingUnsaved, kNotWritable, kAlertsNotOff };
  Step step;
  Outcome outcome;  // of the Save, for kSaveFailed; of the DisplayAlerts call, for kAlertsNotOff
  std::wstring file = {};
};

// A Word setting that the clean-up changes for its run failed to change, or to be given back: DisplayAlerts
// (turned off in a started Word, and around the Save of Normal) or CustomizationContext (set to Normal).
struct SettingFailed {
  enum class Setting { kDisplayAlerts, kCustomizationContext };
  enum class Step { kSet, kGiveBack };
  Setting setting;
  Step step;
  Outcome outcome;
};

// Outlook's windows: a new main window opened on the Inbox (or not), none there to clean, and the Inbox's
// first item that gives no item window.
struct InboxOpened {
  Outcome outcome;  // of the Display
};
struct NoMainWindow {};
struct NoItemWindow {
  bool itemNotMail;  // false: the Inbox has no first item
};

// The end of the clean-up: the application quit (or the Quit failed), or a started one left running because
// the user opened a document in it (Word) or windows of its own (Outlook).
struct Quit {
  Outcome outcome;
};
struct LeftToTheUser {};
// A started Outlook left running because the user has taken it up: the windows it has open just before the
// Quit would have been made.
struct TakenUpByUser {
  std::int32_t mainWindows;
  std::int32_t itemWindows;
};

// How the runner ended the clean-up: not run in this process, ended by an exception, Office turning calls away
// (`refusals` times, `ms` in all), or given up at `call` (empty: not known).
struct NotCleanedHere {};
struct EndedByException {};
struct Refused {
  std::uint32_t refusals;
  std::uint32_t ms;
};
struct GivenUp {
  enum class Why { kNoAnswer, kRefusedOut };
  std::wstring call;
  Why why;
  std::uint32_t ms;  // the bound that was reached
};

}  // namespace event

using CleanupEvent =
    std::variant<event::Attached, event::Started, event::StartReachedUsers, event::LeftRunning, event::NotStarted,
                 event::StartSettingsRead, event::StartedForVersion, event::NormalTemplateRead, event::NotReached,
                 event::Looked, event::FoundByBuiltInId, event::Deleted, event::NormalTemplate, event::SettingFailed,
                 event::InboxOpened, event::NoMainWindow, event::NoItemWindow, event::Quit, event::LeftToTheUser,
                 event::TakenUpByUser, event::NotCleanedHere, event::EndedByException, event::Refused, event::GivenUp>;

// Where a clean-up's events go. Report may be called from the clean-up's thread and from the thread that
// watches it, at once.
class CleanupEvents {
 public:
  virtual ~CleanupEvents() = default;
  virtual void Report(const CleanupEvent& event) = 0;
};

// Events that go nowhere, for callers that have no use for them.
class IgnoredEvents final : public CleanupEvents {
 public:
  void Report(const CleanupEvent&) override {}
};
inline CleanupEvents& NoEvents() {
  static IgnoredEvents none;
  return none;
}

// `found`, after reporting what its lookup of `subject` came to.
template <typename T>
Found<T> Reported(CleanupEvents& events, const Subject& subject, Found<T> found) {
  events.Report(event::Looked{subject, static_cast<bool>(found), found.outcome});
  return found;
}

}  // namespace corvix
