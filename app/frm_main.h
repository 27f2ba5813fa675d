// The host window's load handler: the whole run, from the command line to the completion message.
//
// Portable: the window system, the command line and the message box come in through Shell, and the
// Office applications through Automation. Where each clean-up runs is a CleanupRunner's business: inline
// on the calling thread, or (the Windows program) on a thread of its own that is given up when Office
// stops answering.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "office/automation.h"

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
  // Whether anyone can see a message box and press its OK (not in a service's session, say).
  virtual bool SomeoneCanAnswer() = 0;
};

// Runs one clean-up. It returns when the clean-up has ended, or has been given up; either way the run goes
// on with its next step.
class CleanupRunner {
 public:
  using Cleanup = void (*)(Automation&);
  virtual ~CleanupRunner() = default;
  virtual void Run(Cleanup cleanup) = 0;
};

// Runs `cleanup` with `automation` to its end, whatever it throws. An exception that escapes a clean-up (out
// of memory, say) ends it as a failing step would, and the run goes on: it never reaches std::terminate,
// whose abort() would show a "Runtime Error" box that holds a silent uninstall up. False when the clean-up
// ended that way.
bool RunToEnd(CleanupRunner::Cleanup cleanup, Automation& automation) noexcept;

// Runs each clean-up at once, on the calling thread, with one automation for the whole run.
class InlineRunner final : public CleanupRunner {
 public:
  explicit InlineRunner(Automation& automation) : automation_(automation) {}
  void Run(Cleanup cleanup) override { RunToEnd(cleanup, automation_); }

 private:
  Automation& automation_;
};

class frmMain {
 public:
  // The clean-ups run inline with `automation`.
  frmMain(Shell& shell, Automation& automation) : shell_(shell), inline_(automation), runner_(*inline_) {}
  // The clean-ups run where `runner` runs them.
  frmMain(Shell& shell, CleanupRunner& runner) : shell_(shell), runner_(runner) {}

  // Runs the clean-ups and reports completion. The caller unloads the window afterwards.
  void Form_Load();

  void RemoveWordToolbars();
  void RemoveOutlookToolbars();

  bool bSilent = false;

 private:
  Shell& shell_;
  std::optional<InlineRunner> inline_;
  CleanupRunner& runner_;
};

// True only for the exact argument text "/s": case, length and spacing included.
bool IsSilentCommandLine(std::wstring_view arguments);

}  // namespace corvix
