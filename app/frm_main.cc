// The run sequence.
#include "app/frm_main.h"

#include "app/version.h"

#include "cleanup/outlook/outlook_cleanup.h"
#include "cleanup/word/word_cleanup.h"

namespace corvix {

bool IsSilentCommandLine(std::wstring_view arguments) { return arguments == L"/s"; }

std::wstring StartLine(std::wstring_view arguments, bool silent) {
  return L"version "
         L"" CORVIX_VERSION_TEXT L", arguments \"" +
         std::wstring(arguments) + L"\"" +
         (silent ? L": silent" : L": not silent, the completion message follows the clean-ups");
}

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
  TraceLine(shell.Trace(), StartLine(arguments, IsSilentCommandLine(arguments)));
}

void frmMain::Form_Load() {
  const std::uint32_t started = shell_.NowMs();
  bSilent = false;
  if (IsSilentCommandLine(shell_.CommandLineArguments())) bSilent = true;
  RemoveWordToolbars();
  // Runs whatever the Word clean-up found or failed to do.
  RemoveOutlookToolbars();
  Trace(RunSummary({&word_, &outlook_}, shell_.NowMs() - started));
  // The message is the same whatever the clean-ups found, also when neither application was reached. Where
  // no one could press OK, the run ends as a silent one does rather than wait for ever.
  if (bSilent) return;
  if (!shell_.SomeoneCanAnswer()) {
    Trace(L"no one can answer a message here (the window station is not interactive): none is shown");
    return;
  }
  shell_.ShowMessage(kCompletionPrompt, kCompletionTitle);
}

void frmMain::RemoveWordToolbars() { runner_.Run(corvix::RemoveWordToolbars, word_); }

void frmMain::RemoveOutlookToolbars() { runner_.Run(corvix::RemoveOutlookToolbars, outlook_); }

void frmMain::Trace(std::wstring_view text) { TraceLine(shell_.Trace(), text); }

}  // namespace corvix
