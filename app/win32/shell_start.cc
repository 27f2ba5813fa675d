// The desktop shell's ShellExecute, reached through the shell's automation on a thread that may be given up.
#include "app/win32/shell_start.h"

#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <atomic>
#include <memory>
#include <string>

#include "platform/win32/com_init.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/variant.h"

namespace corvix::win32 {

using Microsoft::WRL::ComPtr;

namespace {

// Every reference the shell's thread takes, so that they are all released together, or all abandoned.
struct ShellObjects {
  ComPtr<IShellWindows> windows;
  ComPtr<IDispatch> desktop;
  ComPtr<IServiceProvider> services;
  ComPtr<IShellBrowser> browser;
  ComPtr<IShellView> view;
  ComPtr<IDispatch> background;
  ComPtr<IShellFolderViewDual> folderView;
  ComPtr<IDispatch> application;
  ComPtr<IShellDispatch2> shell;
};

// What the waiting thread and the shell's thread share: each holds it, so it lives as long as the
// longer-lived of the two.
struct ShellRequest {
  enum Stage { kAsking, kStarting, kGivenUp };

  ShellRequest(std::wstring_view file, std::wstring_view parameters, std::wstring_view folder)
      : program(file), arguments(parameters), directory(folder) {}

  // The shell's thread, before it hands the shell the request: false once it was given up.
  bool Admit() {
    Stage asking = kAsking;
    return stage.compare_exchange_strong(asking, kStarting);
  }

  const std::wstring program;
  const std::wstring arguments;
  const std::wstring directory;
  std::atomic<Stage> stage{kAsking};
  // Written by the shell's thread; read by the waiter only once that thread has ended.
  HRESULT status = E_UNEXPECTED;
};

// Whether a shell's thread was given up; only the thread that starts copies (wWinMain's) reads and writes it.
bool abandoned = false;

// The shell's Application object (IShellDispatch2) for the desktop in `objects.shell`, or the failure of the
// step that failed.
HRESULT DesktopShellDispatch(ShellObjects& objects) {
  HRESULT status = CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&objects.windows));
  if (FAILED(status)) return status;
  Variant location;
  Variant root;
  long window = 0;
  status = objects.windows->FindWindowSW(location.get(), root.get(), SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                                         &objects.desktop);
  // S_FALSE: no desktop window is registered with the shell.
  if (status != S_OK) return FAILED(status) ? status : E_FAIL;
  if (!objects.desktop) return E_POINTER;
  if (FAILED(status = objects.desktop.As(&objects.services))) return status;
  if (FAILED(status = objects.services->QueryService(SID_STopLevelBrowser, IID_PPV_ARGS(&objects.browser)))) {
    return status;
  }
  if (FAILED(status = objects.browser->QueryActiveShellView(&objects.view))) return status;
  if (!objects.view) return E_POINTER;
  if (FAILED(status = objects.view->GetItemObject(SVGIO_BACKGROUND, IID_PPV_ARGS(&objects.background)))) {
    return status;
  }
  if (FAILED(status = objects.background.As(&objects.folderView))) return status;
  if (FAILED(status = objects.folderView->get_Application(&objects.application))) return status;
  if (!objects.application) return E_POINTER;
  return objects.application.As(&objects.shell);
}

Variant Text(std::wstring_view text) {
  Variant value;
  SetText(*value.get(), text);
  return value;
}

HRESULT StartThroughShell(ShellRequest& request, ShellObjects& objects) {
  const HRESULT status = DesktopShellDispatch(objects);
  if (FAILED(status)) return status;
  // Given up meanwhile: this process no longer waits for a copy, and runs without one.
  if (!request.Admit()) return E_ABORT;
  const Bstr file(request.program);
  Variant parameters = Text(request.arguments);
  Variant folder = Text(request.directory);
  Variant operation = Text(L"open");
  Variant show;
  show.get()->vt = VT_I4;
  show.get()->lVal = SW_SHOWNORMAL;
  return objects.shell->ShellExecute(file.get(), *parameters, *folder, *operation, *show);
}

DWORD WINAPI AskShell(void* parameter) {
  const std::unique_ptr<std::shared_ptr<ShellRequest>> handoff(static_cast<std::shared_ptr<ShellRequest>*>(parameter));
  const std::shared_ptr<ShellRequest> request = *handoff;
  // Nothing escapes the thread (std::terminate would show a "Runtime Error" box).
  try {
    // First in, last out: the references go (or are abandoned) before the apartment is left.
    ScopedComInit com;
    if (!com.ok()) {
      request->status = com.result();
      return 0;
    }
    auto objects = std::make_unique<ShellObjects>();
    request->status = StartThroughShell(*request, *objects);
    if (request->stage.load() == ShellRequest::kGivenUp) {
      // A release is a call to the same shell, which did not answer in time: the references and the
      // apartment stay as they are, until the process ends.
      static_cast<void>(objects.release());
      com.Abandon();
    }
  } catch (...) {
  }
  return 0;
}

}  // namespace

std::optional<HRESULT> StartThroughDesktopShell(std::wstring_view program, std::wstring_view arguments,
                                                std::wstring_view directory, DWORD boundMs) {
  const auto request = std::make_shared<ShellRequest>(program, arguments, directory);
  auto handoff = std::make_unique<std::shared_ptr<ShellRequest>>(request);
  const UniqueHandle thread(CreateThread(nullptr, 0, AskShell, handoff.get(), 0, nullptr));
  if (!thread) return HRESULT_FROM_WIN32(GetLastError());
  // The thread owns it now.
  static_cast<void>(handoff.release());
  if (WaitForSingleObject(thread.get(), boundMs) == WAIT_OBJECT_0) return request->status;
  // No answer in time: the thread is left as it is. If it has not handed the shell the request yet, it never
  // will.
  request->stage.store(ShellRequest::kGivenUp);
  abandoned = true;
  return std::nullopt;
}

bool ShellCallAbandoned() { return abandoned; }

}  // namespace corvix::win32
