// The run sequence.
#include "app/frm_main.h"

#include "app/run_trace.h"

#include "cleanup/outlook/outlook_cleanup.h"
#include "cleanup/word/word_cleanup.h"

namespace corvix {

namespace {

// True only for the exact argument text "/s": case, length and spacing included.
bool IsSilentCommandLine(std::wstring_view arguments) { return arguments == L"/s"; }

}  // namespace

bool RunToEnd(CleanupRunner::Cleanup cleanup, OfficeAccess office, CleanupTrace& trace) noexcept {
  try {
    cleanup(office, trace);
    return true;
  } catch (...) {
    // The references the clean-up held were released on the way out, as on any other path.
  }
  try {
    trace.Report(event::EndedByException{});
  } catch (...) {
  }
  return false;
}

void TellStart(Shell& shell) {
  if (shell.Trace() == nullptr) return;
  const std::wstring arguments = shell.CommandLineArguments();
  Report(shell.Trace(), event::RunStarted{arguments, IsSilentCommandLine(arguments)});
}

void frmMain::Form_Load() {
  const std::uint32_t started = shell_.NowMs();
  bSilent = false;
  if (IsSilentCommandLine(shell_.CommandLineArguments())) bSilent = true;
  RemoveWordToolbars();
  // Runs whatever the Word clean-up found or failed to do.
  RemoveOutlookToolbars();
  Report(shell_.Trace(), event::RunDone{shell_.NowMs() - started, {word_.Figures(), outlook_.Figures()}});
  // The message is the same whatever the clean-ups found, also when neither application was reached. Where
  // no one could press OK, the run ends as a silent one does rather than wait for ever.
  if (bSilent) return;
  if (!shell_.SomeoneCanAnswer()) {
    Report(shell_.Trace(), event::NoOneToAnswer{});
    return;
  }
  shell_.ShowMessage(kCompletionPrompt, kCompletionTitle);
}

void frmMain::RemoveWordToolbars() { runner_.Run(corvix::RemoveWordToolbars, word_); }

void frmMain::RemoveOutlookToolbars() { runner_.Run(corvix::RemoveOutlookToolbars, outlook_); }

}  // namespace corvix
