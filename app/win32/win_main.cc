// The program: a hidden form whose load runs the clean-ups, then closes the form and ends the program.
#include <windows.h>

#include <commctrl.h>

#include "app/frm_main.h"
#include "app/win32/resource.h"
#include "app/win32/win_shell.h"
#include "platform/win32/com_automation.h"
#include "platform/win32/com_init.h"
#include "platform/win32/message_filter.h"

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
    case WM_INITDIALOG: {
      auto* context = reinterpret_cast<FormContext*>(lParam);
      SetFormIcons(window);
      SendDlgItemMessageW(window, IDC_PROGRESSBAR1, PBM_SETRANGE32, 0, 100);
      SendDlgItemMessageW(window, IDC_PROGRESSBAR1, PBM_SETPOS, 0, 0);
      context->loaded = true;
      context->form->Form_Load();
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

// COMCTL32 is not imported: it is loaded here, once the search is restricted, from the system (as its
// version 6, which the manifest asks for). Imported, it would be loaded before wWinMain, with whatever it
// loads in turn (the theme library), by the default search, which looks in Corvix's own folder first.
// Without it the form has no progress bar and cannot be created; the run goes on without the form.
void InitProgressBarClass() {
  const HMODULE library = LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (library == nullptr) return;
  using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  const auto init =
      reinterpret_cast<InitFunction>(reinterpret_cast<void*>(GetProcAddress(library, "InitCommonControlsEx")));
  if (init == nullptr) return;
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_PROGRESS_CLASS;
  init(&controls);
  // Stays loaded: the form's progress bar needs its window class for the whole run.
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // DLLs loaded on demand come from the system directory only, never from the folder Corvix runs from
  // (an uninstaller's, which others may write to). The DLLs imported are all in the system's known set.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

  // First in, last out: every COM reference below is released before COM is left.
  const corvix::win32::ScopedComInit com;
  // A busy Office's refusals are tried again for a while instead of failing at once; revoked before COM
  // is left, after every reference below is released.
  const corvix::win32::ScopedMessageFilter messageFilter;

  InitProgressBarClass();

  corvix::win32::ComAutomation automation;
  corvix::win32::WinShell shell;
  corvix::frmMain form(shell, automation);
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
  return 0;
}
