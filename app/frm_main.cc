// The run sequence.
#include "app/frm_main.h"

#include "cleanup/outlook/outlook_cleanup.h"
#include "cleanup/word/word_cleanup.h"

namespace corvix {

bool IsSilentCommandLine(std::wstring_view arguments) { return arguments == L"/s"; }

void frmMain::Form_Load() {
  bSilent = false;
  if (IsSilentCommandLine(shell_.CommandLineArguments())) bSilent = true;
  RemoveWordToolbars();
  // Runs whatever the Word clean-up found or failed to do.
  RemoveOutlookToolbars();
  // The message is the same whatever the clean-ups found, also when neither application was reached.
  if (!bSilent) shell_.ShowMessage(kCompletionPrompt, kCompletionTitle);
}

void frmMain::RemoveWordToolbars() { runner_.Run(corvix::RemoveWordToolbars); }

void frmMain::RemoveOutlookToolbars() { runner_.Run(corvix::RemoveOutlookToolbars); }

}  // namespace corvix
