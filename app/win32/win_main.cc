// The program: a hidden form whose load runs the clean-ups, then closes the form and ends the program.
#include <windows.h>

#include <commctrl.h>

#include <string>

#include "app/frm_main.h"
#include "app/win32/launch_context.h"
#include "app/win32/resource.h"
#include "app/win32/shell_start.h"
#include "app/win32/supervised_runner.h"
#include "app/win32/system_library.h"
#include "app/win32/win_shell.h"
#include "platform/win32/debug_channel.h"

namespace {

// What the form's dialog procedure is handed when the form is created.
struct FormContext {
  corvix::frmMain* form = nullptr;
  bool loaded = false;
};

void SetFormIcons(HWND window) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  // Shared icons belong to the system: nothing to destroy.
  const auto load = [instance](int widthMetric, int heightMetric) {
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_CORVIX), IMAGE_ICON,
                                         GetSystemMetrics(widthMetric), GetSystemMetrics(heightMetric), LR_SHARED));
  };
  SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(load(SM_CXICON, SM_CYICON)));
  SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(load(SM_CXSMICON, SM_CYSMICON)));
}

INT_PTR CALLBACK FormProcedure(HWND window, UINT message, WPARAM, LPARAM lParam) {
  switch (message) {
    case WM_WINDOWPOSCHANGING:
      // The form is never shown, whatever show state it is handed (TakeStartupShowState hands it the
      // caller's): a window that takes SWP_SHOWWINDOW out of the change stays hidden.
      reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
      return FALSE;
    case WM_INITDIALOG: {
      auto* context = reinterpret_cast<FormContext*>(lParam);
      SetFormIcons(window);
      SendDlgItemMessageW(window, IDC_PROGRESSBAR1, PBM_SETRANGE32, 0, 100);
      SendDlgItemMessageW(window, IDC_PROGRESSBAR1, PBM_SETPOS, 0, 0);
      context->loaded = true;
      corvix::win32::TakeStartupShowState(window);
      try {
        context->form->Form_Load();
      } catch (...) {
        // Nothing unwinds through the window manager's frames: the run ends as after its last step.
      }
      DestroyWindow(window);
      return FALSE;  // no focus to set: the form is gone
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return TRUE;
    default:
      return FALSE;
  }
}

// DLLs loaded at run time come from System32 only, never from the folder Corvix runs from
// (docs/robustness.md#the-folder-it-runs-from). SetDefaultDllDirectories is looked up, not imported: a missing
// import would keep the program from starting (docs/robustness.md#windows-7-without-updates).
void RestrictDllSearch() {
  using SetDirectories = BOOL(WINAPI*)(DWORD);
  const auto set = corvix::win32::Lookup<SetDirectories>(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
  if (set != nullptr && set(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  SetDllDirectoryW(L"");
}

// COMCTL32 is not imported: it is loaded here from System32 (the manifest's version 6), once the search is
// restricted. Imported, it would be loaded before wWinMain, with whatever it loads in turn (the theme
// library), by the default search, which looks in Corvix's own folder first. Without it the form has no
// progress bar and cannot be created; the run goes on without the form.
void InitProgressBarClass() {
  using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  const auto init =
      corvix::win32::Lookup<InitFunction>(corvix::win32::LoadSystemLibrary(L"comctl32.dll"), "InitCommonControlsEx");
  if (init == nullptr) return;
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_PROGRESS_CLASS;
  init(&controls);
  // Stays loaded: the form's progress bar needs its window class for the whole run.
}

// How the run came to its end, for EndRun.
enum class RunEnd {
  kOver,       // the run is over: done here, in the copies, or not at all
  kBrokenOff,  // something escaped the run (wWinMain's catch-all)
};

// The one end of the program, on each of wWinMain's paths: the hand-over's end (unless the run broke off), the
// debugger channel's last lines, and TerminateProcess when a thread may still be inside COM
// (docs/robustness.md#how-the-process-ends). Returns the exit code, 0, when the process does not end here.
// `cleanupGivenUp`: SupervisedRunner::gaveUp.
int EndRun(RunEnd how, bool cleanupGivenUp = false) {
  if (how == RunEnd::kOver) corvix::win32::EndHandover();
  corvix::win32::FinishDebugChannel();
  if (how == RunEnd::kBrokenOff || cleanupGivenUp || corvix::win32::ShellCallAbandoned()) {
    TerminateProcess(GetCurrentProcess(), 0);
  }
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) try {
  // No system error box (a missing disk, a crash, a file that cannot be opened) ever waits for a click.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  RestrictDllSearch();
  InitProgressBarClass();
  corvix::win32::WinShell shell;
  corvix::TellStart(shell);
  // Elevated or as LocalSystem, the run happens in the desktop user's context, in a copy of this program.
  const corvix::Placement placement = corvix::win32::PlaceRun(shell);
  if (placement != corvix::Placement::kRunHere && placement != corvix::Placement::kRunNothing) {
    return EndRun(RunEnd::kOver);
  }

  // Each clean-up runs in an apartment of its own, on its own thread (COM, the message filter and every
  // reference live there); this thread only waits for it, handling the form's messages, and gives it up
  // when Office stops answering.
  corvix::win32::SupervisedRunner runner;
  corvix::SkippingRunner skipping;
  corvix::frmMain form(shell, placement == corvix::Placement::kRunHere ? static_cast<corvix::CleanupRunner&>(runner)
                                                                       : static_cast<corvix::CleanupRunner&>(skipping));
  FormContext context;
  context.form = &form;

  CreateDialogParamW(instance, L"frmMain", nullptr, FormProcedure, reinterpret_cast<LPARAM>(&context));
  if (context.loaded) {
    // The form closed itself during its load; this drains the queue up to the quit that closing posted.
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  } else {
    // The form could not be created: the run still happens, without it.
    form.Form_Load();
  }
  return EndRun(RunEnd::kOver, runner.gaveUp());
} catch (...) {
  // Nothing reaches std::terminate, whose abort() shows a "Runtime Error" box and exits with 3.
  return EndRun(RunEnd::kBrokenOff);
}
