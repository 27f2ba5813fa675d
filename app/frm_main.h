// The host window's load handler: the whole run, from the command line to the completion message.
//
// Portable: the window system, the command line and the message box come in through Shell, and the
// Office applications through Automation.
#pragma once

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
};

class frmMain {
 public:
  frmMain(Shell& shell, Automation& automation) : shell_(shell), automation_(automation) {}

  // Runs the clean-ups and reports completion. The caller unloads the window afterwards.
  void Form_Load();

  void RemoveWordToolbars();
  void RemoveOutlookToolbars();

  bool bSilent = false;

 private:
  Shell& shell_;
  Automation& automation_;
};

// True only for the exact argument text "/s": case, length and spacing included.
bool IsSilentCommandLine(std::wstring_view arguments);

}  // namespace corvix
