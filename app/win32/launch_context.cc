// Where the run happens on Windows, and the children that run it in the desktop user's context.
//
// The elevated case: CreateProcessW with PROC_THREAD_ATTRIBUTE_PARENT_PROCESS set to the desktop shell's
// process. The child takes its token (and session) from the shell, so it runs as the user whose desktop it
// is, unelevated. It needs only PROCESS_CREATE_PROCESS on the shell, which an administrator's elevated
// process has on the same user's unelevated ones; no privilege and no service. (CreateProcessAsUserW with
// the shell's token needs SeAssignPrimaryTokenPrivilege, which administrators lack; CreateProcessWithTokenW
// needs the Secondary Logon service, which may be disabled.)
// The LocalSystem case: WTSQueryUserToken for each active session (LocalSystem only, SeTcbPrivilege) and
// CreateProcessAsUserW with that token (SeAssignPrimaryTokenPrivilege and SeIncreaseQuotaPrivilege, which
// LocalSystem holds), on the session's interactive desktop, with the user's environment block.
//
// wtsapi32.dll and userenv.dll are not among the known DLLs on every Windows: they are loaded from System32
// only, and only as LocalSystem.
#include "app/win32/launch_context.h"

#include <windows.h>
// after windows.h, which they need
#include <sddl.h>
#include <wtsapi32.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/run_context.h"
#include "app/win32/system_library.h"

namespace corvix::win32 {
namespace {

// Owns a kernel handle.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  HANDLE get() const { return handle_; }
  HANDLE* put() {
    reset();
    return &handle_;
  }
  HANDLE release() {
    const HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  void reset(HANDLE handle = nullptr) {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = handle;
  }
  explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_ = nullptr;
};

// The user and elevation of a token; none when either cannot be read.
std::optional<TokenFacts> ReadToken(HANDLE token) {
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  if (size == 0) return std::nullopt;
  std::vector<unsigned char> buffer(size);
  if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return std::nullopt;
  wchar_t* sid = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) return std::nullopt;
  TokenFacts facts;
  facts.user = sid;
  LocalFree(sid);
  TOKEN_ELEVATION elevation{};
  if (!GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size)) return std::nullopt;
  facts.elevated = elevation.TokenIsElevated != 0;
  return facts;
}

std::optional<TokenFacts> ReadProcessToken(HANDLE process) {
  UniqueHandle token;
  if (!OpenProcessToken(process, TOKEN_QUERY, token.put())) return std::nullopt;
  return ReadToken(token.get());
}

// The process that owns the desktop's shell window, or 0 when there is none.
DWORD ShellProcessId() {
  const HWND shell = GetShellWindow();
  DWORD pid = 0;
  if (shell != nullptr) GetWindowThreadProcessId(shell, &pid);
  return pid == GetCurrentProcessId() ? 0 : pid;
}

std::optional<TokenFacts> ReadShellToken(DWORD pid) {
  if (pid == 0) return std::nullopt;
  const UniqueHandle shell(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!shell) return std::nullopt;
  return ReadProcessToken(shell.get());
}

// The sessions that are active (a user logged on and attached), as LocalSystem sees them; none when the
// Remote Desktop Services API cannot be used.
std::vector<DWORD> ActiveSessions(HMODULE wtsapi) {
  using Enumerate = BOOL(WINAPI*)(HANDLE, DWORD, DWORD, PWTS_SESSION_INFOW*, DWORD*);
  using FreeMemory = void(WINAPI*)(PVOID);
  const auto enumerate = Lookup<Enumerate>(wtsapi, "WTSEnumerateSessionsW");
  const auto freeMemory = Lookup<FreeMemory>(wtsapi, "WTSFreeMemory");
  std::vector<DWORD> sessions;
  PWTS_SESSION_INFOW info = nullptr;
  DWORD count = 0;
  if (enumerate == nullptr || freeMemory == nullptr || !enumerate(WTS_CURRENT_SERVER_HANDLE, 0, 1, &info, &count)) {
    return sessions;
  }
  for (DWORD i = 0; i < count; ++i) {
    if (info[i].State == WTSActive) sessions.push_back(info[i].SessionId);
  }
  freeMemory(info);
  return sessions;
}

// Marks this process's environment, which the children take, for as long as it lives.
class MarkedEnvironment {
 public:
  MarkedEnvironment() { SetEnvironmentVariableW(std::wstring(kRelaunchMarker).c_str(), L"1"); }
  ~MarkedEnvironment() { SetEnvironmentVariableW(std::wstring(kRelaunchMarker).c_str(), nullptr); }
  MarkedEnvironment(const MarkedEnvironment&) = delete;
  MarkedEnvironment& operator=(const MarkedEnvironment&) = delete;
};

// Whether this process was started by a Corvix parent. The mark is taken off at once, so that nothing this
// process starts carries it on.
bool TakeRelaunchMarker() {
  const std::wstring name(kRelaunchMarker);
  wchar_t value[8] = {};
  const bool marked = GetEnvironmentVariableW(name.c_str(), value, 8) != 0;
  if (marked) SetEnvironmentVariableW(name.c_str(), nullptr);
  return marked;
}

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return L"";
    if (length < path.size()) return path.substr(0, length);
    if (path.size() >= 32768) return L"";
    path.resize(path.size() * 2);
  }
}

// What every child is started with.
struct Launch {
  std::wstring program;
  std::wstring commandLine;
};

// This program with this run's argument text.
Launch ThisRun(std::wstring_view arguments) {
  Launch launch;
  launch.program = ModulePath();
  launch.commandLine = ChildCommandLine(launch.program, arguments);
  return launch;
}

// A child created suspended is let run only when it took the context it was started for; otherwise it is
// ended before it has run any of its code. Returns its handle, or an empty one.
UniqueHandle LetRunIfInContext(const PROCESS_INFORMATION& created, const TokenFacts& meant) {
  UniqueHandle process(created.hProcess);
  const UniqueHandle thread(created.hThread);
  const auto child = ReadProcessToken(process.get());
  if (!child || !ChildTookContext(meant, *child) || ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
    TerminateProcess(process.get(), 0);
    return UniqueHandle();
  }
  return process;
}

// One child in the desktop shell's context, as a child of the shell's process.
UniqueHandle LaunchAsShellUser(const Launch& launch, DWORD shellPid, const TokenFacts& shellToken) {
  UniqueHandle shell(OpenProcess(PROCESS_CREATE_PROCESS, FALSE, shellPid));
  if (!shell) return UniqueHandle();
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  if (size == 0) return UniqueHandle();
  std::vector<unsigned char> storage(size);
  const auto attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
  if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size)) return UniqueHandle();
  HANDLE parent = shell.get();
  PROCESS_INFORMATION created{};
  bool started = false;
  if (UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_PARENT_PROCESS, &parent, sizeof parent, nullptr,
                                nullptr)) {
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = attributes;
    std::wstring commandLine = launch.commandLine;
    const MarkedEnvironment marked;
    started = CreateProcessW(launch.program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                             EXTENDED_STARTUPINFO_PRESENT | CREATE_SUSPENDED, nullptr, nullptr, &startup.StartupInfo,
                             &created) != FALSE;
  }
  DeleteProcThreadAttributeList(attributes);
  return started ? LetRunIfInContext(created, shellToken) : UniqueHandle();
}

// Enables a privilege that this process's token holds; LocalSystem holds those it needs for the sessions.
void EnablePrivilege(const wchar_t* name) {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put())) return;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) {
    AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
  }
}

// The user's environment block with the relaunch mark added, in CreateProcess's form (NAME=value strings
// each ended by a null, then one more null); empty when the user's block cannot be made.
std::vector<wchar_t> UserEnvironment(HMODULE userenv, HANDLE userToken) {
  using Create = BOOL(WINAPI*)(LPVOID*, HANDLE, BOOL);
  using Destroy = BOOL(WINAPI*)(LPVOID);
  const auto create = Lookup<Create>(userenv, "CreateEnvironmentBlock");
  const auto destroy = Lookup<Destroy>(userenv, "DestroyEnvironmentBlock");
  std::vector<wchar_t> block;
  void* environment = nullptr;
  if (create == nullptr || destroy == nullptr || !create(&environment, userToken, FALSE)) return block;
  for (const wchar_t* entry = static_cast<const wchar_t*>(environment); *entry != L'\0'; entry += wcslen(entry) + 1) {
    block.insert(block.end(), entry, entry + wcslen(entry) + 1);
  }
  destroy(environment);
  const std::wstring mark = std::wstring(kRelaunchMarker) + L"=1";
  block.insert(block.end(), mark.begin(), mark.end());
  block.push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

// One child in `session`, as its user, on its interactive desktop.
UniqueHandle LaunchInSession(const Launch& launch, HMODULE wtsapi, HMODULE userenv, DWORD session) {
  using QueryUserToken = BOOL(WINAPI*)(ULONG, PHANDLE);
  // Looked up in ADVAPI32, where Windows 7 has it: MinGW's import library would take it from KERNEL32, which
  // exports it only from Windows 8 on.
  using CreateAsUser = BOOL(WINAPI*)(HANDLE, LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                                     LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);
  const auto createAsUser = Lookup<CreateAsUser>(GetModuleHandleW(L"advapi32.dll"), "CreateProcessAsUserW");
  const auto queryUserToken = Lookup<QueryUserToken>(wtsapi, "WTSQueryUserToken");
  UniqueHandle userToken;
  if (queryUserToken == nullptr || !queryUserToken(session, userToken.put())) return UniqueHandle();
  const auto meant = ReadToken(userToken.get());
  if (!meant) return UniqueHandle();
  std::vector<wchar_t> environment = UserEnvironment(userenv, userToken.get());
  // Without the user's block the child takes this process's environment, marked.
  const MarkedEnvironment marked;
  wchar_t desktop[] = L"winsta0\\default";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop;
  std::wstring commandLine = launch.commandLine;
  PROCESS_INFORMATION created{};
  if (createAsUser == nullptr ||
      !createAsUser(userToken.get(), launch.program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                    CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, environment.empty() ? nullptr : environment.data(),
                    nullptr, &startup, &created)) {
    return UniqueHandle();
  }
  return LetRunIfInContext(created, *meant);
}

std::vector<UniqueHandle> LaunchPerSession(const Launch& launch, const std::vector<DWORD>& sessions, HMODULE wtsapi) {
  EnablePrivilege(SE_TCB_NAME);
  EnablePrivilege(SE_ASSIGNPRIMARYTOKEN_NAME);
  EnablePrivilege(SE_INCREASE_QUOTA_NAME);
  const HMODULE userenv = LoadSystemLibrary(L"userenv.dll");
  std::vector<UniqueHandle> children;
  for (const DWORD session : sessions) {
    if (auto child = LaunchInSession(launch, wtsapi, userenv, session)) children.push_back(std::move(child));
  }
  if (userenv != nullptr) FreeLibrary(userenv);
  return children;
}

// Waits for the children together for at most the bound; those still running then are left to finish.
// True when all of them ended.
bool WaitForChildren(const std::vector<UniqueHandle>& children) {
  const DWORD start = GetTickCount();
  for (const auto& child : children) {
    const DWORD spent = GetTickCount() - start;
    if (spent >= relaunch::kChildWaitMs) return false;
    if (WaitForSingleObject(child.get(), relaunch::kChildWaitMs - spent) != WAIT_OBJECT_0) return false;
  }
  return true;
}

}  // namespace

bool RanElsewhere(Shell& shell) {
  RunFacts facts;
  facts.relaunched = TakeRelaunchMarker();
  if (!facts.relaunched) facts.self = ReadProcessToken(GetCurrentProcess());
  const bool system = facts.self && facts.self->user == kLocalSystemSid;
  HMODULE wtsapi = nullptr;
  std::vector<DWORD> sessions;
  DWORD shellPid = 0;
  if (system) {
    wtsapi = LoadSystemLibrary(L"wtsapi32.dll");
    sessions = ActiveSessions(wtsapi);
    facts.activeSessions = sessions.size();
  } else if (facts.self && facts.self->elevated) {
    shellPid = ShellProcessId();
    facts.shell = ReadShellToken(shellPid);
  }

  Placement placement = DecidePlacement(facts);
  TraceSink* const channel = shell.Trace();
  TraceLine(channel, DescribeDecision(facts, placement));
  std::vector<UniqueHandle> children;
  if (placement == Placement::kRunAsShellUser) {
    const Launch launch = ThisRun(shell.CommandLineArguments());
    if (auto child = LaunchAsShellUser(launch, shellPid, *facts.shell)) children.push_back(std::move(child));
  } else if (placement == Placement::kRunPerSession) {
    children = LaunchPerSession(ThisRun(shell.CommandLineArguments()), sessions, wtsapi);
  }
  if (wtsapi != nullptr) FreeLibrary(wtsapi);
  TraceLine(channel, DescribeLaunch(placement, children.size()));
  if (children.empty()) {
    placement = FallbackPlacement(placement);
  } else {
    TraceLine(channel, WaitForChildren(children)
                           ? L"context: the copies have ended"
                           : L"context: copies still running at the bound: left to finish; this process ends");
  }
  return placement != Placement::kRunHere;
}

}  // namespace corvix::win32
