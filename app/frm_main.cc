// The run sequence.
#include "app/frm_main.h"

#include "cleanup/outlook/outlook_cleanup.h"
#include "cleanup/word/word_cleanup.h"

namespace corvix {

bool IsSilentCommandLine(std::wstring_view arguments) { return arguments == L"/s"; }

bool RunToEnd(CleanupRunner::Cleanup cleanup, Automation& automation) noexcept {
  try {
    cleanup(automation);
    return true;
  } catch (...) {
    // The references the clean-up held were released on the way out, as on any other path.
    return false;
  }
}

void frmMain::Form_Load() {
  bSilent = false;
  if (IsSilentCommandLine(shell_.CommandLineArguments())) bSilent = true;
  RemoveWordToolbars();
  // Runs whatever the Word clean-up found or failed to do.
  RemoveOutlookToolbars();
  // The message is the same whatever the clean-ups found, also when neither application was reached. Where
  // no one could press OK, the run ends as a silent one does rather than wait for ever.
  if (!bSilent && shell_.SomeoneCanAnswer()) shell_.ShowMessage(kCompletionPrompt, kCompletionTitle);
}

void frmMain::RemoveWordToolbars() { runner_.Run(corvix::RemoveWordToolbars); }

void frmMain::RemoveOutlookToolbars() { runner_.Run(corvix::RemoveOutlookToolbars); }

}  // namespace corvix
