// office_standin.exe: the stand-in Office as an out-of-process COM server. Its command line, exit codes,
// lifetime and the files it writes in the state directory are in standin/README.md.
#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/hex.h"
#include "platform/win32/module_path.h"
#include "platform/win32/unique_handle.h"
#include "standin/model/office_model.h"
#include "standin/server/node_dispatch.h"
#include "standin/server/registration.h"
#include "standin/server/session.h"
#include "standin/server/state_dir.h"
#include "standin/server/utf8.h"

namespace standin::server {
namespace {

enum ExitCode { kDone = 0, kUsage = 1, kBadScenario = 2, kComFailure = 3, kTimedOut = 4 };

// How long the server lingers after every application quit while a client still holds references.
constexpr ULONGLONG kQuitGraceMs = 3000;
constexpr UINT kPollMs = 100;
constexpr UINT kQuitMessage = WM_APP + 1;

struct Options {
  bool reg = false;
  bool unreg = false;
  bool running = false;
  bool embedding = false;
  bool image = false;
  std::wstring state;
  int timeoutSeconds = 120;
  std::wstring error;
};

bool Is(const wchar_t* arg, std::initializer_list<const wchar_t*> names) {
  for (const wchar_t* name : names) {
    if (_wcsicmp(arg, name) == 0) return true;
  }
  return false;
}

Options Parse() {
  Options options;
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 1; args != nullptr && i < count && options.error.empty(); ++i) {
    const wchar_t* arg = args[i];
    if (Is(arg, {L"/register", L"-register", L"/regserver", L"-regserver"})) {
      options.reg = true;
    } else if (Is(arg, {L"/unregister", L"-unregister", L"/unregserver", L"-unregserver"})) {
      options.unreg = true;
    } else if (Is(arg, {L"--running"})) {
      options.running = true;
    } else if (Is(arg, {L"--image"})) {
      options.image = true;
    } else if (Is(arg, {L"-Embedding", L"/Embedding", L"-Automation", L"/Automation"})) {
      options.embedding = true;
    } else if (Is(arg, {L"--state"}) && i + 1 < count) {
      wchar_t full[MAX_PATH * 2] = {};
      if (GetFullPathNameW(args[++i], MAX_PATH * 2, full, nullptr) == 0) options.error = L"bad --state path";
      options.state = full;
    } else if (Is(arg, {L"--timeout"}) && i + 1 < count) {
      options.timeoutSeconds = _wtoi(args[++i]);
      if (options.timeoutSeconds <= 0) options.error = L"--timeout needs a number of seconds";
    } else {
      options.error = L"unexpected argument " + std::wstring(arg);
    }
  }
  LocalFree(args);
  if (options.error.empty()) {
    const int modes = options.reg + options.unreg + options.running + options.embedding + options.image;
    if (modes != 1)
      options.error = L"give one of /register, /unregister, --running, -Embedding, --image";
    else if (!options.unreg && options.state.empty())
      options.error = L"--state DIR is required";
  }
  return options;
}

// For a terminal that runs the program under Wine; a GUI program on Windows has nowhere to write.
void Complain(const std::wstring& message) {
  HANDLE out = GetStdHandle(STD_ERROR_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  const std::string text = "office_standin: " + Utf8(message) + "\n";
  DWORD written = 0;
  WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

int Fail(const StateDir* dir, int code, const std::wstring& message) {
  Complain(message);
  if (dir != nullptr) dir->Write(L"error.txt", message + L"\n");
  return code;
}

// The files the scenario's applications name (Word's templates), made real: a relative path is under DIR, and
// a client that asks the file system about one gets the model's answer. One that is there already is kept (a
// COM-started server loads the scenario again).
void PlaceFiles(Office& office, const StateDir& dir) {
  office.SetFileRoot(dir.path());
  for (const Office::File& file : office.Files()) {
    if (!file.exists || GetFileAttributesW(file.path.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
    {
      const corvix::win32::UniqueHandle made(
          CreateFileW(file.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!made) continue;
      static constexpr char kContent[] = "stand-in template\r\n";
      DWORD written = 0;
      WriteFile(made.get(), kContent, sizeof kContent - 1, &written, nullptr);
    }
    if (file.readOnly) SetFileAttributesW(file.path.c_str(), FILE_ATTRIBUTE_READONLY);
  }
}

std::unique_ptr<Office> LoadScenario(const StateDir& dir, std::wstring* error) {
  std::string text;
  if (!dir.Read(L"scenario.txt", &text)) {
    *error = L"cannot read " + dir.File(L"scenario.txt");
    return nullptr;
  }
  std::string parseError;
  auto office = Office::FromScenario(text, &parseError);
  if (!office) {
    *error = L"scenario.txt: " + corvix::win32::FromUtf8(parseError);
    return nullptr;
  }
  PlaceFiles(*office, dir);
  return office;
}

// The applications of the scenario the stand-in can serve.
std::vector<const KnownApp*> Served(const Office& office) {
  std::vector<const KnownApp*> apps;
  for (const auto& app : office.Applications()) {
    if (const KnownApp* known = FindKnownApp(app->progId); known != nullptr && app->object) apps.push_back(known);
  }
  return apps;
}

// The process that started this one: under Wine, the client whose CoCreateInstance launched the server.
HANDLE OpenParent() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
  DWORD parent = 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  }
  CloseHandle(snapshot);
  return parent == 0 ? nullptr : OpenProcess(SYNCHRONIZE, FALSE, parent);
}

// A class object: CreateInstance starts the application in the model (journaled as CoCreateInstance).
class AppFactory final : public IClassFactory {
 public:
  AppFactory(Session& session, const KnownApp& app) : session_(session), app_(app) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  // Lives as long as the server; COM's references do not decide that.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    NodeRef app = session_.office().Start(app_.progId);
    session_.Flush();
    if (!app) return REGDB_E_CLASSNOTREG;
    NodeDispatch* wrapper = session_.Wrap(app);
    const HRESULT hr = wrapper->QueryInterface(riid, object);
    wrapper->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    session_.Lock(lock != FALSE);
    return S_OK;
  }

 private:
  Session& session_;
  const KnownApp& app_;
};

// The server's message filter: a busy Office refuses incoming calls on its objects (Office::AdmitCall);
// COM's own calls (activation, IRemUnknown's reference counting and conversions) always get through.
class BusyFilter final : public IMessageFilter {
 public:
  explicit BusyFilter(Session& session) : session_(session) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMessageFilter)) return E_NOINTERFACE;
    *object = static_cast<IMessageFilter*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO info) override {
    if (info == nullptr) return SERVERCALL_ISHANDLED;
    // Only calls on the model's objects: COM's own (activation, IRemUnknown) always get through.
    const NodeRef node = info->pUnk != nullptr ? session_.NodeOf(info->pUnk) : nullptr;
    if (!node) return SERVERCALL_ISHANDLED;
    const std::wstring target = node->Label();
    const Admission admission = session_.office().AdmitCall(target, L"IDispatch::" + MethodName(info->wMethod));
    session_.Flush();
    switch (admission) {
      case Admission::kRejected:
        return SERVERCALL_REJECTED;
      case Admission::kRetryLater:
        return SERVERCALL_RETRYLATER;
      default:
        return SERVERCALL_ISHANDLED;
    }
  }
  // The server calls no one.
  DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD, DWORD) override { return static_cast<DWORD>(-1); }
  DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override { return PENDINGMSG_WAITDEFPROCESS; }

 private:
  static std::wstring MethodName(WORD method) {
    switch (method) {
      case 3:
        return L"GetTypeInfoCount";
      case 4:
        return L"GetTypeInfo";
      case 5:
        return L"GetIDsOfNames";
      case 6:
        return L"Invoke";
      default:
        return L"method " + std::to_wstring(method);
    }
  }

  Session& session_;
};

class Server {
 public:
  Server(Session& session, const Options& options) : session_(session), options_(options) {}

  int Run() {
    thread_ = GetCurrentThreadId();
    deadline_ = GetTickCount64() + static_cast<ULONGLONG>(options_.timeoutSeconds) * 1000;
    // Started by COM, the server lives while clients hold its objects; running, until told to stop.
    exitWhenIdle_ = options_.embedding;
    // Wine never runs down the references of a client that ended without releasing them: when the
    // client that launched the server is gone, so is everything it held.
    if (options_.embedding) parent_ = OpenParent();
    session_.onIdle = [this] {
      if (exitWhenIdle_ && !AwaitingNextApplication()) PostQuitMessage(kDone);
    };
    // Quit is called inside a client's call: the running object table is left to the message loop.
    session_.onQuit = [this](Application& app) {
      quitting_.push_back(&app);
      PostThreadMessageW(thread_, kQuitMessage, 0, 0);
    };

    // A call that gets no answer waits in a message loop of its own until the server ends: as a real STA
    // server that waits, it goes on dispatching every other incoming call (another application's, another
    // client's) meanwhile.
    session_.onHang = [this] { HangUntilEnd(); };

    for (const KnownApp* app : Served(session_.office())) {
      if (options_.embedding && StartHangs(*app)) continue;
      factories_.push_back(std::make_unique<AppFactory>(session_, *app));
      DWORD cookie = 0;
      const HRESULT hr =
          CoRegisterClassObject(app->clsid, factories_.back().get(), CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
      if (FAILED(hr))
        return Shutdown(Fail(&session_.dir(), kComFailure, L"CoRegisterClassObject failed " + corvix::Hex(hr)));
      classCookies_.push_back(cookie);
    }
    if (options_.running && !PublishRunning()) return Shutdown(kComFailure);

    SetTimer(nullptr, 0, kPollMs, nullptr);
    MSG message;
    int code = kDone;
    while (true) {
      const BOOL got = GetMessageW(&message, nullptr, 0, 0);
      if (got == 0 || got == -1) {
        code = got == 0 ? static_cast<int>(message.wParam) : kComFailure;
        break;
      }
      Handle(message);
    }
    return Shutdown(code);
  }

 private:
  struct RunningEntry {
    Application* app;
    NodeDispatch* object;  // not owned: the running object table holds it
    DWORD cookie;
  };

  void Handle(const MSG& message) {
    if (message.hwnd == nullptr && message.message == kQuitMessage) {
      HandleQuits();
    } else if (message.hwnd == nullptr && message.message == WM_TIMER) {
      Tick();
    } else {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  // The wait of a call that gets no answer: messages are handled as in the main loop (incoming calls, the
  // timer that ends the server) until the server is to end; the quit is then put back for the main loop.
  // Hung calls nested in this wait return first.
  void HangUntilEnd() {
    ++hanging_;
    MSG message;
    while (!ending_) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, kPollMs, QS_ALLINPUT);
      while (!ending_ && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
          ending_ = true;
          endCode_ = static_cast<int>(message.wParam);
        } else {
          Handle(message);
        }
      }
    }
    if (--hanging_ == 0) PostQuitMessage(endCode_);
  }

  // Whether starting `app` never completes: its class object is not registered, and the journal says so.
  bool StartHangs(const KnownApp& app) {
    for (const auto& model : session_.office().Applications()) {
      if (model->progId != app.progId || !session_.office().HangsOnStart(*model)) continue;
      session_.office().Note(
          {L"COM", L"CoRegisterClassObject", {L"\"" + std::wstring(app.progId) + L"\""}, standin::status::kHung, L""});
      session_.Flush();
      return true;
    }
    return false;
  }

  // Registers every application marked running in the running object table (unless it is to stay out of
  // it), shows the main windows of those that have one, then creates DIR\ready.
  bool PublishRunning() {
    for (const auto& app : session_.office().Applications()) {
      const KnownApp* known = FindKnownApp(app->progId);
      if (!app->running || known == nullptr || !app->object) continue;
      if (app->mainWindow && !ShowMainWindow(*app)) return false;
      if (app->process && !StartImage(*app)) return false;
      if (!app->listed) continue;
      NodeDispatch* object = session_.Wrap(app->object);
      DWORD cookie = 0;
      const HRESULT hr = RegisterActiveObject(object, known->clsid, ACTIVEOBJECT_STRONG, &cookie);
      if (SUCCEEDED(hr)) {
        object->ArmAttach(app->progId);
        running_.push_back({app.get(), object, cookie});
      }
      // The table keeps its own reference.
      object->Release();
      if (FAILED(hr)) {
        Fail(&session_.dir(), kComFailure, L"RegisterActiveObject failed " + corvix::Hex(hr));
        return false;
      }
    }
    // What the clients will find, for a reader comparing before and after.
    session_.dir().Write(L"initial_state.txt", session_.office().StateText());
    session_.dir().Write(L"ready", L"ready\n");
    return true;
  }

  // The application's main window: a top-level window of its class, never made visible (a client looks for
  // it with FindWindow, which finds hidden windows too). It goes when the application quits.
  bool ShowMainWindow(Application& app) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = app.windowClass.c_str();
    if (RegisterClassW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      Fail(&session_.dir(), kComFailure, L"RegisterClass " + app.windowClass + L" failed");
      return false;
    }
    HWND window = CreateWindowExW(0, app.windowClass.c_str(), app.name.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 400, 300, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) {
      Fail(&session_.dir(), kComFailure, L"CreateWindow " + app.windowClass + L" failed");
      return false;
    }
    windows_.push_back({&app, window});
    return true;
  }

  // The application's process, as a process snapshot names it: a copy of this exe under the application's
  // program file name, which only runs (--image) until it is ended here.
  bool StartImage(Application& app) {
    const std::wstring image = session_.dir().File(app.imageName);
    if (!CopyFileW(corvix::win32::ModulePath().c_str(), image.c_str(), FALSE)) {
      Fail(&session_.dir(), kComFailure, L"cannot copy the stand-in to " + image);
      return false;
    }
    std::wstring command = L"\"" + image + L"\" --state \"" + session_.dir().path() + L"\" --image";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(image.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
      Fail(&session_.dir(), kComFailure, L"cannot start " + image);
      return false;
    }
    CloseHandle(process.hThread);
    images_.push_back({&app, process.hProcess});
    return true;
  }

  // Ends the processes of `app` (of every application when null).
  void EndImages(const Application* app) {
    for (auto& [owner, process] : images_) {
      if ((app != nullptr && owner != app) || process == nullptr) continue;
      TerminateProcess(process, 0);
      WaitForSingleObject(process, 10000);
      CloseHandle(process);
      process = nullptr;
    }
  }

  void Revoke(RunningEntry& entry) {
    if (entry.cookie == 0) return;
    // Disarm first: the object may outlive the table's reference, and revoking is no client's call.
    entry.object->Disarm();
    const DWORD cookie = entry.cookie;
    entry.cookie = 0;
    RevokeActiveObject(cookie, nullptr);
  }

  // Whether a server that COM started for a client that still runs should wait for that client to start
  // another application it serves (Word first, then Outlook): one process then serves the whole run (one
  // journal, one numbering of calls, one final state), and the client never asks a server that is on its
  // way out for its next application. It ends with the client at the latest.
  bool AwaitingNextApplication() const {
    if (!options_.embedding || parent_ == nullptr) return false;
    for (const auto& app : session_.office().Applications()) {
      if (FindKnownApp(app->progId) != nullptr && app->object && !app->running && !app->started) return true;
    }
    return false;
  }

  // An application quit: it leaves the running object table; when every application that a client could
  // reach has quit, the server ends once the clients let go, or after a grace period.
  void HandleQuits() {
    for (Application* app : quitting_) {
      for (RunningEntry& entry : running_) {
        if (entry.app == app) Revoke(entry);
      }
      for (auto& [owner, window] : windows_) {
        if (owner == app && window != nullptr) DestroyWindow(window);
        if (owner == app) window = nullptr;
      }
      EndImages(app);
    }
    quitting_.clear();
    if (AwaitingNextApplication()) return;
    for (const auto& app : session_.office().Applications()) {
      if ((app->running || app->started) && app->quitCount == 0) return;
    }
    exitWhenIdle_ = true;
    if (quitDeadline_ == 0) quitDeadline_ = GetTickCount64() + kQuitGraceMs;
    if (session_.Outstanding() == 0) PostQuitMessage(kDone);
  }

  void Tick() {
    const ULONGLONG now = GetTickCount64();
    if (options_.running && session_.dir().Exists(L"stop")) {
      PostQuitMessage(kDone);
    } else if (quitDeadline_ != 0 && now >= quitDeadline_) {
      PostQuitMessage(kDone);
    } else if (parent_ != nullptr && WaitForSingleObject(parent_, 0) == WAIT_OBJECT_0) {
      // state.txt shows what the client left held.
      PostQuitMessage(kDone);
    } else if (now >= deadline_) {
      Fail(&session_.dir(), kTimedOut,
           L"hard timeout: still serving after " + std::to_wstring(options_.timeoutSeconds) + L" s");
      PostQuitMessage(kTimedOut);
    }
  }

  // Leaves COM's tables, then writes state.txt: what the clients still hold is what is left.
  int Shutdown(int code) {
    if (parent_ != nullptr) CloseHandle(parent_);
    parent_ = nullptr;
    session_.onIdle = nullptr;
    session_.onQuit = nullptr;
    session_.onHang = nullptr;
    for (RunningEntry& entry : running_) Revoke(entry);
    for (auto& [owner, window] : windows_) {
      if (window != nullptr) DestroyWindow(window);
      window = nullptr;
    }
    EndImages(nullptr);
    for (DWORD cookie : classCookies_) CoRevokeClassObject(cookie);
    classCookies_.clear();
    session_.Flush();
    session_.dir().Write(L"state.txt", session_.office().StateText());
    return code;
  }

  Session& session_;
  const Options& options_;
  DWORD thread_ = 0;
  ULONGLONG deadline_ = 0;
  ULONGLONG quitDeadline_ = 0;
  bool exitWhenIdle_ = false;
  int hanging_ = 0;
  bool ending_ = false;
  int endCode_ = kDone;
  HANDLE parent_ = nullptr;
  std::vector<std::unique_ptr<AppFactory>> factories_;
  std::vector<DWORD> classCookies_;
  std::vector<RunningEntry> running_;
  std::vector<std::pair<Application*, HWND>> windows_;   // the running applications' main windows
  std::vector<std::pair<Application*, HANDLE>> images_;  // the running applications' processes (--image)
  std::vector<Application*> quitting_;
};

// An application's process that does nothing but run: it ends when it is ended, when the server that
// started it is gone (killed, say), when DIR\stop appears, or at the hard timeout.
int RunAsImage(const StateDir& dir, int timeoutSeconds) {
  const HANDLE parent = OpenParent();
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutSeconds) * 1000;
  while (!dir.Exists(L"stop") && GetTickCount64() < deadline) {
    if (parent != nullptr && WaitForSingleObject(parent, kPollMs) == WAIT_OBJECT_0) break;
    if (parent == nullptr) Sleep(kPollMs);
  }
  if (parent != nullptr) CloseHandle(parent);
  return kDone;
}

int Main() {
  const Options options = Parse();
  if (!options.error.empty()) return Fail(nullptr, kUsage, options.error);

  if (options.unreg) {
    std::wstring error;
    return Unregister(&error) ? kDone : Fail(nullptr, kComFailure, error);
  }

  const StateDir dir(options.state);
  if (options.image) return RunAsImage(dir, options.timeoutSeconds);
  std::wstring error;
  std::unique_ptr<Office> office = LoadScenario(dir, &error);
  if (!office) return Fail(&dir, kBadScenario, error);

  if (options.reg) {
    std::vector<Registered> registered;
    for (const KnownApp* known : Served(*office)) {
      const Application& app = *office->Find(known->progId);
      registered.push_back({known, app.currentVersion, app.serverFileVersion, app.serverInOtherView});
    }
    return Register(registered, corvix::win32::ModulePath(), dir.path(), &error) ? kDone
                                                                                 : Fail(&dir, kComFailure, error);
  }

  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
    return Fail(&dir, kComFailure, L"CoInitializeEx failed");
  int code = kDone;
  {
    Session session(*office, dir);
    BusyFilter filter(session);
    IMessageFilter* previous = nullptr;
    const bool filtered = SUCCEEDED(CoRegisterMessageFilter(&filter, &previous));
    Server server(session, options);
    code = server.Run();
    if (filtered) CoRegisterMessageFilter(previous, nullptr);
    // Objects that clients still hold are disconnected and released here, while the model still exists.
    CoUninitialize();
  }
  return code;
}

}  // namespace
}  // namespace standin::server

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return standin::server::Main(); }
