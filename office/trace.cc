// The lines of the debugger channel.
#include "office/trace.h"

#include <string>

#include "office/hex.h"

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

Lookup ClassifyLookup(const Object& result) {
  if (result) return Lookup::kFound;
  if (result.status() == 0 || result.status() == kInvalidArgument) return Lookup::kNotThere;
  if (result.status() == kWrongType) return Lookup::kWrongKind;
  return Lookup::kFailed;
}

CleanupTrace& CleanupTrace::Discard() {
  static CleanupTrace discard(L"", nullptr);
  return discard;
}

void CleanupTrace::Write(std::wstring text) {
  if (sink_ == nullptr) return;
  TraceLine(sink_, application_ + L": " + text);
}

void CleanupTrace::Note(std::wstring_view text) { Write(std::wstring(text)); }

void CleanupTrace::Attached() {
  reach_ = Reach::kAttached;
  Write(L"attached to the running instance");
}

void CleanupTrace::Started() {
  reach_ = Reach::kStarted;
  Write(L"not running; started");
}

void CleanupTrace::StartReachedUsers() {
  reach_ = Reach::kUsers;
  Write(L"the start reached the user's running instance: treated as attached (no new window, not quit)");
}

void CleanupTrace::LeftRunning(std::wstring_view sign) {
  reach_ = Reach::kLeftRunning;
  Write(L"runs, but could not be attached to (" + std::wstring(sign) + L"): not started, not cleaned");
}

void CleanupTrace::NotStarted(std::wstring_view why) {
  reach_ = Reach::kNotStarted;
  Write(L"not running; not started: " + std::wstring(why));
}

void CleanupTrace::NotReached(const Object& attach, const Object& start) {
  reach_ = Reach::kNone;
  Write(L"not reached: attach " + DescribeFailure(attach.status(), attach.description()) + L", start " +
        DescribeFailure(start.status(), start.description()));
}

Lookup CleanupTrace::Looked(std::wstring_view what, const Object& result) {
  const Lookup lookup = ClassifyLookup(result);
  std::wstring text(what);
  switch (lookup) {
    case Lookup::kFound:
      text += L": found";
      break;
    case Lookup::kNotThere:
      text += L": not there";
      break;
    case Lookup::kWrongKind:
      text += L": there, but not a menu";
      break;
    case Lookup::kFailed:
      text += L": lookup failed " + DescribeFailure(result.status(), result.description());
      break;
  }
  Write(std::move(text));
  return lookup;
}

void CleanupTrace::Deleted(std::wstring_view what, std::int32_t position, const CallResult& result) {
  std::wstring text(what);
  if (position > 0) text += L": control " + Decimal(static_cast<std::uint32_t>(position));
  if (result.ok()) {
    ++deleted_;
    text += L" deleted";
  } else {
    ++failed_;
    text += L" not deleted: " + DescribeFailure(result.status(), result.description());
  }
  Write(std::move(text));
}

void CleanupTrace::Quit(const CallResult& result) {
  if (result.ok()) {
    quit_ = true;
    Write(L"quit");
  } else {
    ++failed_;
    Write(L"quit failed: " + DescribeFailure(result.status(), result.description()));
  }
}

void CleanupTrace::NotQuit(std::wstring_view why) { Write(L"left running: " + std::wstring(why)); }

void CleanupTrace::Refused(std::uint32_t refusals, std::uint32_t ms) {
  Write(L"busy: Office turned calls away " + Decimal(refusals) + L" times, " + Seconds(ms) +
        L" in all, and they were tried again");
}

void CleanupTrace::GivenUp(std::wstring_view call, std::wstring_view why) {
  givenUp_ = true;
  Write(L"given up at " + std::wstring(call.empty() ? L"a call" : call) + L": " + std::wstring(why) +
        L"; the rest of this clean-up is skipped and the application is left as it is");
}

std::wstring CleanupTrace::Summary() const {
  std::wstring text = application_ + L" " + ReachText(reach_.load());
  text += L", " + Decimal(deleted()) + L" deleted, " + Decimal(failed()) + L" failed";
  if (quit_.load()) text += L", quit";
  if (givenUp()) text += L", given up";
  return text;
}

std::wstring RunSummary(const std::vector<const CleanupTrace*>& cleanups, std::uint32_t elapsedMs) {
  std::wstring text = L"done in " + Seconds(elapsedMs) + L":";
  const wchar_t* separator = L" ";
  for (const CleanupTrace* cleanup : cleanups) {
    text += separator + cleanup->Summary();
    separator = L"; ";
  }
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
