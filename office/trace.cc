// The lines of the debugger channel.
#include "office/trace.h"

#include <string>

#include "base/hex.h"

namespace corvix {

namespace {

// Office's answer to a bar name or control caption that it does not know (E_INVALIDARG).
constexpr std::int32_t kInvalidArgument = static_cast<std::int32_t>(0x80070057);
// A line stays well inside what a debugger's buffer takes (DebugView's is 4 KB).
constexpr std::size_t kLongestDescription = 200;

const wchar_t* ReachText(Reach reach) {
  switch (reach) {
    case Reach::kAttached:
      return L"attached";
    case Reach::kStarted:
      return L"started";
    case Reach::kUsers:
      return L"attached through a start (the user's)";
    case Reach::kLeftRunning:
      return L"running out of reach, left alone";
    case Reach::kNotStarted:
      return L"not running, not started";
    case Reach::kNone:
      break;
  }
  return L"not reached";
}

// The subject as the lines name it: bar "Merrowin Software", main window: menu "&Tools".
std::wstring Label(const Subject& subject) {
  std::wstring text;
  if (subject.window == Subject::Window::kMain) text = L"main window: ";
  if (subject.window == Subject::Window::kItem) text = L"item window: ";
  text += subject.kind == Subject::Kind::kBar ? L"bar \"" : L"menu \"";
  return text + std::wstring(subject.name) + L"\"";
}

std::wstring Failure(const Outcome& outcome) { return DescribeFailure(outcome.status, outcome.description); }

std::wstring Version(std::uint32_t version, const std::wstring& source) {
  return L"version " + Decimal(version) + L" (" + source + L") is registered";
}

// The text of each event, one overload per kind.
std::wstring Text(const event::Attached&) { return L"attached to the running instance"; }

std::wstring Text(const event::Started&) { return L"not running; started"; }

std::wstring Text(const event::StartReachedUsers&) {
  return L"the start reached the user's running instance: treated as attached (no new window, not quit)";
}

std::wstring Text(const event::LeftRunning& e) {
  const std::wstring sign =
      e.mainWindow ? std::wstring(L"its main window is there") : std::wstring(e.imageName) + L" runs in this session";
  return L"runs, but could not be attached to (" + sign + L"): not started, not cleaned";
}

// Office's release as its users name it, by major version: 14 is Office 2010.
std::wstring Release(std::uint32_t major) {
  switch (major) {
    case 11:
      return L"2003";
    case 12:
      return L"2007";
    case 14:
      return L"2010";
    case 15:
      return L"2013";
    case 16:
      return L"2016";
    default:
      break;
  }
  return L"version " + Decimal(major);
}

std::wstring Text(const event::NotStarted& e) {
  return L"not running; not started: " + Version(e.version, e.source) + L": Outlook " + Release(e.firstWithoutBars) +
         L" and later keep no add-in's bars, so a start would find none";
}

// A value of the user's registry as the line shows it: "\"Outlook\"", "not set", "unreadable".
std::wstring Setting(const UserRegistryValue& value) {
  switch (value.state) {
    case UserRegistryValue::State::kRead:
      return L"\"" + value.text + L"\"";
    case UserRegistryValue::State::kUnreadable:
      return L"unreadable";
    case UserRegistryValue::State::kAbsent:
      break;
  }
  return L"not set";
}

std::wstring Text(const event::StartSettingsRead& e) {
  const OutlookStartSettings& read = e.settings;
  std::wstring text = L"not running; " + Version(e.version, e.source) + L", one that kept the bars; read: ";
  text += read.barsFile.empty() ? std::wstring(L"no roaming application data folder")
                                : read.barsFile + (read.barsFileExists ? L" there" : L" not there");
  text += L", DefaultProfile " + Setting(read.defaultProfile) + L", PickLogonProfile " +
          Setting(read.pickLogonProfile) + L": ";
  switch (e.verdict) {
    case OutlookStartVerdict::kStart:
      return text + L"started";
    case OutlookStartVerdict::kNoAppDataFolder:
      return text + L"not started: where it stores its bars is not known";
    case OutlookStartVerdict::kNoStoredBars:
      return text + L"not started: it stores no bars, so a start would find none";
    case OutlookStartVerdict::kNoDefaultProfile:
      return text + L"not started: no default mail profile, so a start would show its profile wizard";
    case OutlookStartVerdict::kPromptsForProfile:
      return text + L"not started: it prompts for a profile, so a start would wait on its profile chooser";
    case OutlookStartVerdict::kSettingUnreadable:
      break;
  }
  return text + L"not started: whether a start would ask for a profile cannot be told";
}

std::wstring Text(const event::StartedForVersion& e) {
  if (!e.version) return L"not running; no registered version can be read: started, as ever";
  return L"not running; " + Version(*e.version, e.source) + L", one that kept the bars: started";
}

std::wstring Text(const event::NormalTemplateRead& e) {
  using Verdict = event::NormalTemplateRead::Verdict;
  std::wstring read = L"its Normal template";
  if (!e.path.empty()) read += L" " + e.path + L" (" + e.folderSource + L")";
  if (e.version) read += L", for version " + Decimal(*e.version) + L" (" + e.versionSource + L"),";
  switch (e.verdict) {
    case Verdict::kStoresAddIns:
      return L"not running; " + read + L" stores the add-in's \"" + e.detail + L"\": started";
    case Verdict::kStoresNothing:
      return L"not running; not started: " + read + L" stores nothing of the add-in's (" + e.detail +
             L"), so a start would find nothing to remove";
    case Verdict::kCannotTell:
      break;
  }
  return L"not running; whether " + read + L" stores the add-in's bars cannot be told (" + e.detail +
         L"): started, as ever";
}

std::wstring Text(const event::NotReached& e) {
  return L"not reached: attach " + Failure(e.attach) + L", start " + Failure(e.start);
}

std::wstring Text(const event::Looked& e) {
  std::wstring text = Label(e.subject);
  if (e.found) return text + L": found";
  const std::int32_t status = e.outcome.status;
  if (status == 0 || status == kInvalidArgument) return text + L": not there";
  if (status == kWrongType) return text + L": there, but not a menu";
  return text + L": lookup failed " + Failure(e.outcome);
}

std::wstring Text(const event::FoundByBuiltInId& e) {
  return Label(e.subject) + L": no menu of that caption; found by its built-in ID " +
         Decimal(static_cast<std::uint32_t>(e.id));
}

std::wstring Text(const event::Deleted& e) {
  std::wstring text = Label(e.subject);
  if (e.position > 0) text += L": control " + Decimal(static_cast<std::uint32_t>(e.position));
  return text + (e.outcome.ok() ? L" deleted" : L" not deleted: " + Failure(e.outcome));
}

std::wstring Text(const event::NormalTemplate& e) {
  using Step = event::NormalTemplate::Step;
  switch (e.step) {
    case Step::kSaved:
      return L"Normal template saved, so that the deletions are stored now";
    case Step::kSaveFailed:
      return L"Normal template not saved: " + Failure(e.outcome);
    case Step::kUnreadable:
      return L"Normal template not saved: whether it had unsaved changes could not be read";
    case Step::kUsersChanges:
      return L"Normal template not saved: it had unsaved changes of the user's";
    case Step::kNotWritable:
      return L"Normal template not saved: its file " + (e.file.empty() ? std::wstring(L"(unknown)") : e.file) +
             L" is not there or cannot be written";
    case Step::kAlertsNotOff:
      return L"Normal template not saved: DisplayAlerts could not be turned off for it: " + Failure(e.outcome);
    case Step::kNothingUnsaved:
      break;
  }
  return L"Normal template not saved: the clean-up left nothing unsaved in it";
}

std::wstring Text(const event::SettingFailed& e) {
  using Setting = event::SettingFailed::Setting;
  const bool alerts = e.setting == Setting::kDisplayAlerts;
  const std::wstring what = alerts ? L"DisplayAlerts" : L"CustomizationContext";
  if (e.step == event::SettingFailed::Step::kGiveBack) {
    return what + L" not given back the user's value: " + Failure(e.outcome);
  }
  return what + (alerts ? L" not turned off: " : L" not set to Normal: the deletions go where it names: ") +
         Failure(e.outcome);
}

std::wstring Text(const event::InboxOpened& e) {
  if (e.outcome.ok()) return L"no main window: the Inbox opened in a new one";
  return L"no main window, and none could be opened: " + Failure(e.outcome);
}

std::wstring Text(const event::NoMainWindow&) { return L"no main window: nothing to clean"; }

std::wstring Text(const event::NoItemWindow& e) {
  return e.itemNotMail ? L"the Inbox's first item is not a mail item: no item window"
                       : L"no first Inbox item: no item window";
}

std::wstring Text(const event::Quit& e) { return e.outcome.ok() ? L"quit" : L"quit failed: " + Failure(e.outcome); }

std::wstring Text(const event::LeftToTheUser&) {
  return L"left running: it holds a document that the user opened in it; nothing saved";
}

std::wstring Text(const event::TakenUpByUser& e) {
  return L"left running: the user has taken it up (main windows open: " +
         Decimal(static_cast<std::uint32_t>(e.mainWindows)) + L", item windows open: " +
         Decimal(static_cast<std::uint32_t>(e.itemWindows)) + L"); not quit, so that nothing unsaved of theirs is lost";
}

std::wstring Text(const event::NotCleanedHere&) {
  return L"not cleaned: no Office is started or cleaned from this process";
}

std::wstring Text(const event::EndedByException&) {
  return L"ended by an exception: the rest of this clean-up is skipped";
}

std::wstring Text(const event::Refused& e) {
  return L"busy: Office turned calls away " + Decimal(e.refusals) + L" times, " + Seconds(e.ms) +
         L" in all, and they were tried again";
}

std::wstring Text(const event::GivenUp& e) {
  const std::wstring why = e.why == event::GivenUp::Why::kRefusedOut
                               ? L"Office turned its calls away for the whole budget of " + Seconds(e.ms)
                               : L"no answer for " + Seconds(e.ms);
  return L"given up at " + (e.call.empty() ? std::wstring(L"a call") : e.call) + L": " + why +
         L"; the rest of this clean-up is skipped and the application is left as it is";
}

}  // namespace

void TraceLine(TraceSink* sink, std::wstring_view text) {
  if (sink == nullptr || text.empty()) return;
  std::wstring line(kTracePrefix);
  line += text;
  sink->Write(line);
}

std::wstring DescribeFailure(std::int32_t status, std::wstring_view description) {
  std::wstring text = Hex(status);
  if (description.empty() && status == kNoObject) description = L"an earlier step gave none";
  if (description.empty()) return text;
  // One line: the description's own line breaks and trailing spaces (FormatMessage ends with them) go.
  std::wstring oneLine;
  for (const wchar_t c : description.substr(0, kLongestDescription)) oneLine += (c == L'\r' || c == L'\n') ? L' ' : c;
  while (!oneLine.empty() && (oneLine.back() == L' ' || oneLine.back() == L'.')) oneLine.pop_back();
  if (description.size() > kLongestDescription) oneLine += L"...";
  return text + L" (" + oneLine + L")";
}

std::wstring Describe(const CleanupEvent& event) {
  return std::visit([](const auto& e) { return Text(e); }, event);
}

void CleanupTrace::Count(const CleanupEvent& event) {
  if (const auto* deleted = std::get_if<event::Deleted>(&event)) {
    ++(deleted->outcome.ok() ? deleted_ : failed_);
  } else if (const auto* quit = std::get_if<event::Quit>(&event)) {
    if (quit->outcome.ok()) {
      quit_ = true;
    } else {
      ++failed_;
    }
  } else if (std::holds_alternative<event::GivenUp>(event)) {
    givenUp_ = true;
  } else if (std::holds_alternative<event::Attached>(event)) {
    reach_ = Reach::kAttached;
  } else if (std::holds_alternative<event::Started>(event)) {
    reach_ = Reach::kStarted;
  } else if (std::holds_alternative<event::StartReachedUsers>(event)) {
    reach_ = Reach::kUsers;
  } else if (std::holds_alternative<event::LeftRunning>(event)) {
    reach_ = Reach::kLeftRunning;
  } else if (std::holds_alternative<event::NotStarted>(event)) {
    reach_ = Reach::kNotStarted;
  } else if (const auto* read = std::get_if<event::StartSettingsRead>(&event)) {
    if (read->verdict != OutlookStartVerdict::kStart) reach_ = Reach::kNotStarted;
  } else if (const auto* normal = std::get_if<event::NormalTemplateRead>(&event)) {
    if (normal->verdict == event::NormalTemplateRead::Verdict::kStoresNothing) reach_ = Reach::kNotStarted;
  } else if (std::holds_alternative<event::NotReached>(event)) {
    reach_ = Reach::kNone;
  }
}

void CleanupTrace::Report(const CleanupEvent& event) {
  Count(event);
  if (sink_ == nullptr) return;
  TraceLine(sink_, application_ + L": " + Describe(event));
}

CleanupFigures CleanupTrace::Figures() const {
  return {application_, reach_.load(), deleted(), failed(), quit_.load(), givenUp()};
}

std::wstring Describe(const CleanupFigures& figures) {
  std::wstring text = figures.application + L" " + ReachText(figures.reach);
  text += L", " + Decimal(figures.deleted) + L" deleted, " + Decimal(figures.failed) + L" failed";
  if (figures.quit) text += L", quit";
  if (figures.givenUp) text += L", given up";
  return text;
}

std::wstring Seconds(std::uint32_t ms) {
  const std::uint32_t hundredths = (ms % 1000) / 10;
  return Decimal(ms / 1000) + (hundredths < 10 ? L".0" : L".") + Decimal(hundredths) + L" s";
}

std::wstring Decimal(std::uint64_t number) {
  std::wstring digits;
  do {
    digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + number % 10));
    number /= 10;
  } while (number != 0);
  return digits;
}

}  // namespace corvix
