// What a run tells an installer author who listens on the debugger channel: one plain line per decision and
// per step whose outcome matters, each starting with "Corvix: ". Nothing is shown, kept or returned, and a run
// makes the same calls to Office whether anyone listens or not.
//
// Portable: the clean-ups' lines are made here, from their events (office/cleanup_events.h); the run's own
// events are told by the same Describe overloads in app/run_trace.h. A TraceSink takes the lines (on Windows,
// the debugger channel's queue, platform/win32/debug_channel.h; a list in the tests). What each line means:
// docs/diagnostics.md.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "office/automation.h"
#include "office/cleanup_events.h"

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

// How a clean-up reached its application.
enum class Reach {
  kNone,         // not yet (or neither attached nor started)
  kAttached,     // the running instance, from the running object table
  kStarted,      // a new instance, started here
  kUsers,        // a start that reached the user's running instance: treated as attached
  kLeftRunning,  // running but out of reach: not started, left alone
  kNotStarted,   // not running, and a start would clean nothing: not started
};

// The line that tells `event`, without the prefix and the application's name. Every line of a clean-up is
// written here.
std::wstring Describe(const CleanupEvent& event);

// One clean-up's figures for the run's summary.
struct CleanupFigures {
  std::wstring application;
  Reach reach = Reach::kNone;
  std::uint32_t deleted = 0;
  std::uint32_t failed = 0;
  bool quit = false;
  bool givenUp = false;
};

// The summary's part for one clean-up: "Word attached, 7 deleted, 0 failed".
std::wstring Describe(const CleanupFigures& figures);

// One clean-up's account: its events as lines, each naming the application, and the figures of the run's
// summary. Safe to use from the clean-up's thread and from the thread that watches it: no lock is held while a
// line is written, so a sink that is slow for one of them never holds the other up.
class CleanupTrace final : public CleanupEvents {
 public:
  // Lines go to `sink`, or nowhere when it is null.
  CleanupTrace(std::wstring application, TraceSink* sink) : application_(std::move(application)), sink_(sink) {}
  CleanupTrace(const CleanupTrace&) = delete;
  CleanupTrace& operator=(const CleanupTrace&) = delete;

  // Counts the event and writes "Corvix: <application>: <line>".
  void Report(const CleanupEvent& event) override;

  // What the run's summary tells of this clean-up.
  CleanupFigures Figures() const;

  std::uint32_t deleted() const { return deleted_.load(); }
  std::uint32_t failed() const { return failed_.load(); }
  bool givenUp() const { return givenUp_.load(); }

 private:
  void Count(const CleanupEvent& event);

  std::wstring application_;
  TraceSink* sink_;
  std::atomic<Reach> reach_{Reach::kNone};
  std::atomic<std::uint32_t> deleted_{0};
  std::atomic<std::uint32_t> failed_{0};
  std::atomic<bool> givenUp_{false};
  std::atomic<bool> quit_{false};
};

// Seconds with two decimals: "1.25 s".
std::wstring Seconds(std::uint32_t ms);

// A number in decimal. (Not std::to_wstring: MinGW-w64 builds it on a printf that imports functions
// Windows 7's msvcrt lacks.)
std::wstring Decimal(std::uint64_t number);

}  // namespace corvix
