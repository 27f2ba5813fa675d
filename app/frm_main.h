// The host window's load handler: the whole run, from the command line to the completion message.
//
// Portable: the window system, the command line and the message box come in through Shell, and the
// Office applications through Installation and Automation. Where each clean-up runs is a CleanupRunner's business:
// inline on the calling thread, or (the Windows program) on a thread of its own that is given up when Office stops
// answering.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "office/automation.h"
#include "office/installation.h"
#include "office/trace.h"

namespace corvix {

inline constexpr std::wstring_view kCompletionPrompt = L"Done.  Toolbars removed.";
inline constexpr std::wstring_view kCompletionTitle = L"Merrowin Software";

// What the run needs from the platform besides automation.
class Shell {
 public:
  virtual ~Shell() = default;
  // The argument text after the program's own path, unsplit, possibly empty.
  virtual std::wstring CommandLineArguments() = 0;
  // A modal message box with an OK button only; returns when it is dismissed.
  virtual void ShowMessage(std::wstring_view prompt, std::wstring_view title) = 0;
  // Where the run's diagnostic lines go (the debugger channel); null: nowhere.
  virtual TraceSink* Trace() = 0;
  // A millisecond clock (it may wrap around) for the time the run took.
  virtual std::uint32_t NowMs() = 0;
  // Whether anyone can see a message box and press its OK (not in a service's session, say).
  virtual bool SomeoneCanAnswer() = 0;
};

// Runs one clean-up. It returns when the clean-up has ended, or has been given up; either way the run goes
// on with its next step.
class CleanupRunner {
 public:
  using Cleanup = void (*)(OfficeAccess, CleanupEvents&);
  virtual ~CleanupRunner() = default;
  // `trace` is the clean-up's account; a runner that gives the clean-up up tells it there.
  virtual void Run(Cleanup cleanup, CleanupTrace& trace) = 0;
};

// Runs `cleanup` with `office` to its end, whatever it throws, telling `trace`. An exception that escapes a
// clean-up (out of memory, say) ends it as a failing step would, and the run goes on: it never reaches std::terminate,
// whose abort() would show a "Runtime Error" box that holds a silent uninstall up. False when the clean-up
// ended that way.
bool RunToEnd(CleanupRunner::Cleanup cleanup, OfficeAccess office, CleanupTrace& trace) noexcept;

// Runs no clean-up, for a process that must start or clean no Office (its user is not the desktop user);
// each clean-up's account says so.
class SkippingRunner final : public CleanupRunner {
 public:
  void Run(Cleanup, CleanupTrace& trace) override { trace.Report(event::NotCleanedHere{}); }
};

class frmMain {
 public:
  // The clean-ups run where `runner` runs them.
  frmMain(Shell& shell, CleanupRunner& runner)
      : shell_(shell), runner_(runner), word_(L"Word", shell.Trace()), outlook_(L"Outlook", shell.Trace()) {}

  // Runs the clean-ups and reports completion. The caller unloads the window afterwards.
  void Form_Load();

  void RemoveWordToolbars();
  void RemoveOutlookToolbars();

  bool bSilent = false;

 private:
  Shell& shell_;
  CleanupRunner& runner_;
  // Each clean-up's account on the debugger channel, and its part of the run's summary.
  CleanupTrace word_;
  CleanupTrace outlook_;
};

// Tells the shell's channel the run's start: the version, the argument text and whether the run is silent. The
// program does it first thing, before it decides where the run happens.
void TellStart(Shell& shell);

}  // namespace corvix
