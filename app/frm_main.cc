// The run sequence.
#include "app/frm_main.h"

#include "app/version.h"

#include "cleanup/outlook/outlook_cleanup.h"
#include "cleanup/word/word_cleanup.h"

namespace corvix {

bool IsSilentCommandLine(std::wstring_view arguments) { return arguments == L"/s"; }

std::wstring StartLine(std::wstring_view arguments, bool silent) {
  return L"version " L"" CORVIX_VERSION_TEXT L", arguments \"" + std::wstring(arguments) + L"\"" +
         (silent ? L": silent" : L": not silent, the completion message follows the clean-ups");
}

void frmMain::Form_Load() {
  const std::uint32_t started = shell_.NowMs();
  bSilent = false;
  const std::wstring arguments = shell_.CommandLineArguments();
  if (IsSilentCommandLine(arguments)) bSilent = true;
  Trace(StartLine(arguments, bSilent));
  RemoveWordToolbars();
  // Runs whatever the Word clean-up found or failed to do.
  RemoveOutlookToolbars();
  Trace(RunSummary({&word_, &outlook_}, shell_.NowMs() - started));
  // The message is the same whatever the clean-ups found, also when neither application was reached.
  if (!bSilent) shell_.ShowMessage(kCompletionPrompt, kCompletionTitle);
}

void frmMain::RemoveWordToolbars() { runner_.Run(corvix::RemoveWordToolbars, word_); }

void frmMain::RemoveOutlookToolbars() { runner_.Run(corvix::RemoveOutlookToolbars, outlook_); }

void frmMain::Trace(std::wstring_view text) {
  if (TraceSink* sink = shell_.Trace()) sink->Write(std::wstring(kTracePrefix) + std::wstring(text));
}

}  // namespace corvix
