// What a run tells an installer author who listens on the debugger channel: one plain line per decision and
// per step whose outcome matters, each starting with "Corvix: ". Nothing is shown, kept or returned, and a run
// makes the same calls to Office whether anyone listens or not.
//
// Portable: the lines are made here, and a TraceSink takes them (on Windows, the debugger channel's queue,
// platform/win32/debug_channel.h; a list in the tests).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "office/automation.h"

namespace corvix {

inline constexpr std::wstring_view kTracePrefix = L"Corvix: ";

// Where the lines go. Write is handed one whole line, prefix included. It is called from any of the run's
// threads, at once (a clean-up's, the one that watches it, the main thread), and must return without waiting
// for a listener: a line is never worth holding the run up (the Windows sink hands it to a writer thread).
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void Write(std::wstring_view line) = 0;
};

// Writes "Corvix: <text>" to `sink`; nothing when there is no sink or no text.
void TraceLine(TraceSink* sink, std::wstring_view text);

// A failure as a line shows it: "0x80070057", with the description when there is one:
// "0x80070057 (no bar named X)". Descriptions are cut to keep a line short.
std::wstring DescribeFailure(std::int32_t status, std::wstring_view description = {});

// What the lookup of a bar, menu or control came to.
enum class Lookup {
  kFound,
  kNotThere,   // Office answered that it has none (a "none" result, or the invalid-argument failure that
               // Office gives for a name or caption it does not know)
  kWrongKind,  // something is there, but not a menu (or not a button)
  kFailed,     // the lookup itself failed: the failure says why
};
Lookup ClassifyLookup(const Object& result);

// How a clean-up reached its application.
enum class Reach {
  kNone,         // not yet (or neither attached nor started)
  kAttached,     // the running instance, from the running object table
  kStarted,      // a new instance, started here
  kUsers,        // a start that reached the user's running instance: treated as attached
  kLeftRunning,  // running but out of reach: not started, left alone
  kNotStarted,   // not running, and a start would clean nothing: not started
};

// One clean-up's account: its lines, each naming the application, and the figures of the run's summary.
// Safe to use from the clean-up's thread and from the thread that watches it: no lock is held while a line
// is written, so a sink that is slow for one of them never holds the other up.
class CleanupTrace {
 public:
  // Lines go to `sink`, or nowhere when it is null.
  CleanupTrace(std::wstring application, TraceSink* sink) : application_(std::move(application)), sink_(sink) {}
  CleanupTrace(const CleanupTrace&) = delete;
  CleanupTrace& operator=(const CleanupTrace&) = delete;

  // A trace that writes nowhere, for callers that have none.
  static CleanupTrace& Discard();

  // "Corvix: <application>: <text>".
  void Note(std::wstring_view text);

  // The application was reached (or not): `attach` and `start` are what the attempts gave.
  void Attached();
  void Started();
  void StartReachedUsers();
  // Running, but out of reach; `sign` is what showed it ("its main window is there").
  void LeftRunning(std::wstring_view sign);
  // Not running, and not started, for the reason `why`.
  void NotStarted(std::wstring_view why);
  void NotReached(const Object& attach, const Object& start);

  // `what` ("bar \"Merrowin Software\"", "menu \"&Tools\"") was looked up; returns what it came to.
  Lookup Looked(std::wstring_view what, const Object& result);
  // A deletion in `what`: of the control at `position`, or of `what` itself when position is 0.
  void Deleted(std::wstring_view what, std::int32_t position, const CallResult& result);
  // The application was quit (or the quit failed), or left running and why.
  void Quit(const CallResult& result);
  void NotQuit(std::wstring_view why);
  // A busy Office turned the clean-up's calls away `refusals` times, `ms` in all, before it answered them
  // (or the clean-up was given up).
  void Refused(std::uint32_t refusals, std::uint32_t ms);
  // The clean-up was given up at `call`, for the reason `why` ("no answer for 60.00 s").
  void GivenUp(std::wstring_view call, std::wstring_view why);

  // The summary's part for this clean-up: "Word attached, 7 deleted, 0 failed".
  std::wstring Summary() const;

  const std::wstring& application() const { return application_; }
  std::uint32_t deleted() const { return deleted_.load(); }
  std::uint32_t failed() const { return failed_.load(); }
  bool givenUp() const { return givenUp_.load(); }

 private:
  void Write(std::wstring text);

  std::wstring application_;
  TraceSink* sink_;
  std::atomic<Reach> reach_{Reach::kNone};
  std::atomic<std::uint32_t> deleted_{0};
  std::atomic<std::uint32_t> failed_{0};
  std::atomic<bool> givenUp_{false};
  std::atomic<bool> quit_{false};
};

// The run's last line: "done in 1.25 s: Word attached, 7 deleted, 0 failed; Outlook ..." (without the prefix,
// which the caller's sink gets with it).
std::wstring RunSummary(const std::vector<const CleanupTrace*>& cleanups, std::uint32_t elapsedMs);

// Seconds with two decimals: "1.25 s".
std::wstring Seconds(std::uint32_t ms);

// A number in decimal. (Not std::to_wstring: MinGW-w64 builds it on a printf that imports functions
// Windows 7's msvcrt lacks.)
std::wstring Decimal(std::uint64_t number);

}  // namespace corvix
