// Where the run happens on Windows, and the copies that run it in the desktop user's context.
//
// Elevated under a desktop shell of a lower token (or of another user): the shell itself is asked to start
// the copy, through its own automation (shell_start.h), and the run is handed to it (handover.h). The copy is
// the shell's child with the shell's token and environment; Corvix sets no process's parent or token.
// As LocalSystem: WTSQueryUserToken for each active session and CreateProcessAsUserW with that token, on the
// session's interactive desktop, with the user's environment block; the privileges each call needs are
// enabled around it only, and only when they are not enabled already (docs/robustness.md).
//
// wtsapi32.dll and userenv.dll are not among the known DLLs on every Windows: they are loaded from System32
// only, and only where they are used.
#include "app/win32/launch_context.h"

#include <windows.h>
// after windows.h, which it needs
#include <wtsapi32.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/run_context.h"
#include "app/run_trace.h"
#include "app/win32/copy_source.h"
#include "app/win32/handover.h"
#include "app/win32/shell_start.h"
#include "app/win32/system_library.h"
#include "platform/win32/module_path.h"
#include "platform/win32/unique_handle.h"

namespace corvix::win32 {
namespace {

// A token's information of a variable size (its user, its privileges), as the system lays it out; empty
// when it cannot be read.
std::vector<unsigned char> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what) {
  DWORD size = 0;
  GetTokenInformation(token, what, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  if (size == 0 || !GetTokenInformation(token, what, buffer.data(), size, &size)) buffer.clear();
  return buffer;
}

// The user and elevation of a token; none when either cannot be read.
std::optional<TokenFacts> ReadToken(HANDLE token) {
  const std::vector<unsigned char> user = TokenInformation(token, TokenUser);
  if (user.empty()) return std::nullopt;
  TokenFacts facts;
  facts.user = SidText(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid);
  if (facts.user.empty()) return std::nullopt;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
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
  const UniqueHandle shell(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!shell) return std::nullopt;
  return ReadProcessToken(shell.get());
}

// The user logged on at this process's session (the desktop's user), found without any of its processes:
// its name from the Remote Desktop Services API, its SID from the name. Empty when either cannot be had.
std::wstring SessionUser() {
  using Query = BOOL(WINAPI*)(HANDLE, DWORD, WTS_INFO_CLASS, LPWSTR*, DWORD*);
  using FreeMemory = void(WINAPI*)(PVOID);
  const UniqueLibrary wtsapi(LoadSystemLibrary(L"wtsapi32.dll"));
  const auto query = Lookup<Query>(wtsapi.get(), "WTSQuerySessionInformationW");
  const auto freeMemory = Lookup<FreeMemory>(wtsapi.get(), "WTSFreeMemory");
  if (query == nullptr || freeMemory == nullptr) return {};
  const auto read = [&](WTS_INFO_CLASS what) {
    LPWSTR text = nullptr;
    DWORD bytes = 0;
    std::wstring value;
    if (query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, what, &text, &bytes) && text != nullptr) value = text;
    if (text != nullptr) freeMemory(text);
    return value;
  };
  const std::wstring user = read(WTSUserName);
  if (user.empty()) return {};
  const std::wstring domain = read(WTSDomainName);
  const std::wstring account = domain.empty() ? user : domain + L"\\" + user;
  std::vector<unsigned char> sid(SECURITY_MAX_SID_SIZE);
  DWORD sidBytes = static_cast<DWORD>(sid.size());
  wchar_t domainFound[256] = {};
  DWORD domainLength = 256;
  SID_NAME_USE use{};
  if (!LookupAccountNameW(nullptr, account.c_str(), sid.data(), &sidBytes, domainFound, &domainLength, &use) ||
      use != SidTypeUser) {
    return {};
  }
  return SidText(sid.data());
}

// Whether this process runs in session 0, where only services run (a session id that cannot be read is
// no sign of it).
bool InSessionZero() {
  DWORD session = 0;
  return ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0;
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

// The copy that the desktop shell starts, and what became of it.
CopyOutcome RunThroughShell(const std::wstring& arguments, const RunFacts& facts, TraceSink* channel) {
  std::optional<HandoverOffer> offer = HandoverOffer::Make(arguments, facts.self->user, DesktopUser(facts));
  if (!offer) {
    Report(channel, event::ShellNotAsked{event::ShellNotAsked::Why::kNoHandover});
    return CopyOutcome::kNotAsked;
  }
  const std::optional<HRESULT> started =
      StartThroughDesktopShell(ModulePath(), arguments, SystemDirectory(), copies::kShellAnswerMs);
  if (!started) {
    Report(channel, event::ShellNotAsked{event::ShellNotAsked::Why::kNoAnswer});
    return CopyOutcome::kNotAsked;
  }
  if (FAILED(*started)) {
    Report(channel, event::ShellNotAsked{event::ShellNotAsked::Why::kFailed, static_cast<std::int32_t>(*started)});
    return CopyOutcome::kNotAsked;
  }
  Report(channel, event::ShellAsked{});
  std::uint32_t reportedMs = 0;
  std::uint32_t endedMs = 0;
  const CopyOutcome outcome = offer->Await(reportedMs, endedMs);
  Report(channel, event::ShellCopy{outcome, reportedMs, endedMs});
  return outcome;
}

// Enables the privileges `names` of this process's token that it holds but has not enabled, for as long as
// it lives, and puts them back as they were then. One that is enabled already is left alone: each change of
// a token's privileges is an audit event that security products read.
class ScopedPrivileges {
 public:
  explicit ScopedPrivileges(std::initializer_list<const wchar_t*> names) {
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token_.put())) return;
    for (const wchar_t* name : names) {
      LUID_AND_ATTRIBUTES privilege{};
      if (LookupPrivilegeValueW(nullptr, name, &privilege.Luid) && HeldDisabled(privilege.Luid)) {
        privilege.Attributes = SE_PRIVILEGE_ENABLED;
        if (Adjust(privilege)) enabled_.push_back(privilege.Luid);
      }
    }
  }
  ~ScopedPrivileges() {
    for (const LUID& luid : enabled_) Adjust(LUID_AND_ATTRIBUTES{luid, 0});
  }
  ScopedPrivileges(const ScopedPrivileges&) = delete;
  ScopedPrivileges& operator=(const ScopedPrivileges&) = delete;

 private:
  bool HeldDisabled(const LUID& luid) const {
    const std::vector<unsigned char> buffer = TokenInformation(token_.get(), TokenPrivileges);
    if (buffer.empty()) return false;
    const auto* held = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < held->PrivilegeCount; ++i) {
      const LUID_AND_ATTRIBUTES& privilege = held->Privileges[i];
      if (privilege.Luid.LowPart == luid.LowPart && privilege.Luid.HighPart == luid.HighPart) {
        return (privilege.Attributes & SE_PRIVILEGE_ENABLED) == 0;
      }
    }
    return false;
  }
  bool Adjust(const LUID_AND_ATTRIBUTES& privilege) {
    TOKEN_PRIVILEGES change{};
    change.PrivilegeCount = 1;
    change.Privileges[0] = privilege;
    return AdjustTokenPrivileges(token_.get(), FALSE, &change, 0, nullptr, nullptr) && GetLastError() == ERROR_SUCCESS;
  }

  UniqueHandle token_;
  std::vector<LUID> enabled_;
};

// The user's environment block, in CreateProcess's form (NAME=value strings each ended by a null, then one
// more null); empty when the user's block cannot be made.
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
  block.push_back(L'\0');
  return block;
}

// What every per-session copy is started with.
struct SessionLaunch {
  std::wstring program;
  std::wstring commandLine;
  std::wstring directory;
  HMODULE wtsapi = nullptr;
  HMODULE userenv = nullptr;
};

// One copy in `session`, as its user, on its interactive desktop, in System32; or why there is none.
struct Launched {
  UniqueHandle process;
  SessionFailure why = SessionFailure::kNotStarted;
};

Launched LaunchInSession(const SessionLaunch& launch, DWORD session) {
  using QueryUserToken = BOOL(WINAPI*)(ULONG, PHANDLE);
  // Looked up in ADVAPI32, where Windows 7 has it: MinGW's import library would take it from KERNEL32, which
  // exports it only from Windows 8 on.
  using CreateAsUser = BOOL(WINAPI*)(HANDLE, LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                                     LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);
  const auto createAsUser = Lookup<CreateAsUser>(GetModuleHandleW(L"advapi32.dll"), "CreateProcessAsUserW");
  const auto queryUserToken = Lookup<QueryUserToken>(launch.wtsapi, "WTSQueryUserToken");
  Launched launched;
  UniqueHandle userToken;
  {
    // WTSQueryUserToken: the caller must be LocalSystem with SeTcbPrivilege (enabled in LocalSystem's token).
    const ScopedPrivileges tcb({SE_TCB_NAME});
    if (queryUserToken == nullptr || !queryUserToken(session, userToken.put())) {
      launched.why = SessionFailure::kNoUserToken;
      return launched;
    }
  }
  // A copy with LocalSystem's environment would run the user's Office with SYSTEM's profile folders.
  std::vector<wchar_t> environment = UserEnvironment(launch.userenv, userToken.get());
  if (environment.empty()) {
    launched.why = SessionFailure::kNoEnvironment;
    return launched;
  }
  wchar_t desktop[] = L"winsta0\\default";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop;
  std::wstring commandLine = launch.commandLine;
  PROCESS_INFORMATION created{};
  // CreateProcessAsUserW with a token that is not this process's own: SeIncreaseQuotaPrivilege, and
  // SeAssignPrimaryTokenPrivilege for a token that is not assignable (both held, not enabled, by LocalSystem).
  const ScopedPrivileges assign({SE_ASSIGNPRIMARYTOKEN_NAME, SE_INCREASE_QUOTA_NAME});
  if (createAsUser == nullptr ||
      !createAsUser(userToken.get(), launch.program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                    CREATE_UNICODE_ENVIRONMENT, environment.data(),
                    launch.directory.empty() ? nullptr : launch.directory.c_str(), &startup, &created)) {
    return launched;
  }
  CloseHandle(created.hThread);
  launched.process.reset(created.hProcess);
  return launched;
}

// A copy in each active session, a few at a time, for at most the sessions' wait in all; the copies still
// running then are left to finish.
void RunPerSession(const std::wstring& arguments, const std::vector<DWORD>& sessions, HMODULE wtsapi,
                   TraceSink* channel) {
  // The copies start from a file that no user can change and every user can run: Corvix's own, or a
  // protected copy of it, removed once the wait is over (or at restart, while a copy still runs from it).
  const CopySource source = CopySource::Prepare();
  Report(channel, source.Event());
  if (source.Program().empty()) return;
  SessionLaunch launch;
  launch.program = source.Program();
  launch.commandLine = ChildCommandLine(launch.program, arguments);
  launch.directory = SystemDirectory();
  launch.wtsapi = wtsapi;
  const UniqueLibrary userenv(LoadSystemLibrary(L"userenv.dll"));
  launch.userenv = userenv.get();
  SessionSchedule schedule(std::vector<std::uint32_t>(sessions.begin(), sessions.end()));
  std::vector<FailedSession> failed;
  std::vector<UniqueHandle> running;
  std::size_t started = 0;
  std::size_t ended = 0;
  const DWORD start = GetTickCount();
  for (;;) {
    while (const auto session = schedule.Next(running.size(), GetTickCount() - start)) {
      Launched copy = LaunchInSession(launch, *session);
      if (copy.process) {
        running.push_back(std::move(copy.process));
        ++started;
      } else {
        failed.push_back({*session, copy.why});
      }
    }
    const DWORD spent = GetTickCount() - start;
    if (running.empty() || spent >= copies::kSessionsWaitMs) break;
    std::vector<HANDLE> handles;
    for (const auto& copy : running) handles.push_back(copy.get());
    const DWORD woke = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                              copies::kSessionsWaitMs - spent);
    if (woke >= WAIT_OBJECT_0 + handles.size()) break;
    running.erase(running.begin() + (woke - WAIT_OBJECT_0));
    ++ended;
  }
  Report(channel, event::SessionsEnded{started, ended, std::move(failed), schedule.Unreached()});
}

// The hand-over that this process took from its parent, if any, held until its run ends.
HandoverClaim& Claim() {
  static HandoverClaim claim;
  return claim;
}

}  // namespace

Placement PlaceRun(Shell& shell) {
  // Corvix and its copies hold no handle on the folder they were started from: an uninstaller's, about to
  // be removed.
  const std::wstring systemDirectory = SystemDirectory();
  if (!systemDirectory.empty()) SetCurrentDirectoryW(systemDirectory.c_str());

  const std::wstring arguments = shell.CommandLineArguments();
  TraceSink* const channel = shell.Trace();
  RunFacts facts;
  facts.self = ReadProcessToken(GetCurrentProcess());
  const bool localSystem = facts.self && facts.self->user == kLocalSystemSid;
  // LocalSystem is nobody's copy: whatever offer it finds, it makes its own copies.
  if (facts.self && !localSystem) facts.copy = Claim().Take(arguments) != HandoverClaim::Result::kNone;
  facts.sessionZero = InSessionZero();
  facts.visibleStation = shell.SomeoneCanAnswer();
  UniqueLibrary wtsapi;
  std::vector<DWORD> sessions;
  if (localSystem) {
    wtsapi.reset(LoadSystemLibrary(L"wtsapi32.dll"));
    sessions = ActiveSessions(wtsapi.get());
    facts.activeSessions = sessions.size();
  } else if (!facts.copy && facts.self && facts.self->elevated) {
    const DWORD shellPid = ShellProcessId();
    facts.shellFound = shellPid != 0;
    if (facts.shellFound) facts.shell = ReadShellToken(shellPid);
    if (facts.shellFound && !facts.shell) facts.sessionUser = SessionUser();
  }

  const Placement placement = DecidePlacement(facts);
  Report(channel, event::Placed{facts, placement});
  Placement here = placement;
  if (placement == Placement::kRunAsShellUser) {
    if (CopyRan(RunThroughShell(arguments, facts, channel))) return placement;
    here = FallbackPlacement(placement, facts);
    Report(channel, event::FellBack{here});
  } else if (placement == Placement::kRunPerSession) {
    RunPerSession(arguments, sessions, wtsapi.get(), channel);
  }
  return here;
}

void EndHandover() { Claim().End(); }

}  // namespace corvix::win32
