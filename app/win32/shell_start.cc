// The desktop shell's ShellExecute, reached through the shell's automation.
#include "app/win32/shell_start.h"

#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include "platform/win32/com_init.h"
#include "platform/win32/variant.h"

namespace corvix::win32 {

using Microsoft::WRL::ComPtr;

namespace {

// The shell's Application object (IShellDispatch2) for the desktop, or the failure of the step that failed.
HRESULT DesktopShellDispatch(ComPtr<IShellDispatch2>& shell) {
  ComPtr<IShellWindows> windows;
  HRESULT status = CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&windows));
  if (FAILED(status)) return status;
  Variant location;
  Variant root;
  long window = 0;
  ComPtr<IDispatch> desktop;
  status = windows->FindWindowSW(location.get(), root.get(), SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, &desktop);
  // S_FALSE: no desktop window is registered with the shell.
  if (status != S_OK) return FAILED(status) ? status : E_FAIL;
  if (!desktop) return E_POINTER;
  ComPtr<IServiceProvider> services;
  if (FAILED(status = desktop.As(&services))) return status;
  ComPtr<IShellBrowser> browser;
  if (FAILED(status = services->QueryService(SID_STopLevelBrowser, IID_PPV_ARGS(&browser)))) return status;
  ComPtr<IShellView> view;
  if (FAILED(status = browser->QueryActiveShellView(&view))) return status;
  if (!view) return E_POINTER;
  ComPtr<IDispatch> background;
  if (FAILED(status = view->GetItemObject(SVGIO_BACKGROUND, IID_PPV_ARGS(&background)))) return status;
  ComPtr<IShellFolderViewDual> folderView;
  if (FAILED(status = background.As(&folderView))) return status;
  ComPtr<IDispatch> application;
  if (FAILED(status = folderView->get_Application(&application))) return status;
  if (!application) return E_POINTER;
  return application.As(&shell);
}

Variant Text(std::wstring_view text) {
  Variant value;
  value.get()->vt = VT_BSTR;
  value.get()->bstrVal = Bstr(text).Release();
  return value;
}

}  // namespace

HRESULT StartThroughDesktopShell(std::wstring_view program, std::wstring_view arguments, std::wstring_view directory) {
  const ScopedComInit com;
  if (!com.ok()) return com.result();
  ComPtr<IShellDispatch2> shell;
  const HRESULT status = DesktopShellDispatch(shell);
  if (FAILED(status)) return status;
  const Bstr file(program);
  Variant parameters = Text(arguments);
  Variant folder = Text(directory);
  Variant operation = Text(L"open");
  Variant show;
  show.get()->vt = VT_I4;
  show.get()->lVal = SW_SHOWNORMAL;
  return shell->ShellExecute(file.get(), *parameters, *folder, *operation, *show);
}

}  // namespace corvix::win32
