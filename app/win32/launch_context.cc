// Where the run happens on Windows, and the copies that run it in the desktop user's context.
//
// Elevated under a desktop shell of a lower token (or of another user): the shell itself is asked to start
// the copy, through its own automation (shell_start.h), and the run is handed to it (handover.h). The copy is
// the shell's child with the shell's token and environment; Corvix sets no process's parent or token.
// As LocalSystem: WTSQueryUserToken for each active session (LocalSystem only, SeTcbPrivilege) and
// CreateProcessAsUserW with that token (SeAssignPrimaryTokenPrivilege and SeIncreaseQuotaPrivilege, which
// LocalSystem holds), on the session's interactive desktop, with the user's environment block.
//
// wtsapi32.dll and userenv.dll are not among the known DLLs on every Windows: they are loaded from System32
// only, and only as LocalSystem.
#include "app/win32/launch_context.h"

#include <windows.h>
// after windows.h, which it needs
#include <wtsapi32.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/run_context.h"
#include "app/win32/handover.h"
#include "app/win32/shell_start.h"
#include "app/win32/system_library.h"
#include "platform/win32/module_path.h"
#include "platform/win32/unique_handle.h"

namespace corvix::win32 {
namespace {

// The user and elevation of a token; none when either cannot be read.
std::optional<TokenFacts> ReadToken(HANDLE token) {
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  if (size == 0) return std::nullopt;
  std::vector<unsigned char> buffer(size);
  if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return std::nullopt;
  TokenFacts facts;
  facts.user = SidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
  if (facts.user.empty()) return std::nullopt;
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

// The copy that the desktop shell starts, and what became of it.
CopyOutcome RunThroughShell(const std::wstring& arguments, const RunFacts& facts, TraceSink* channel) {
  std::optional<HandoverOffer> offer = HandoverOffer::Make(arguments, facts.self->user, facts.shell->user);
  if (!offer) {
    TraceLine(channel, DescribeCopy(CopyOutcome::kNotAsked, 0, 0, L"the hand-over could not be offered"));
    return CopyOutcome::kNotAsked;
  }
  const std::optional<HRESULT> started =
      StartThroughDesktopShell(ModulePath(), arguments, SystemDirectory(), relaunch::kShellAnswerMs);
  if (!started || FAILED(*started)) {
    TraceLine(channel, DescribeCopy(CopyOutcome::kNotAsked, 0, 0,
                                    started ? DescribeFailure(static_cast<std::int32_t>(*started))
                                            : L"no answer within " + Seconds(relaunch::kShellAnswerMs)));
    return CopyOutcome::kNotAsked;
  }
  TraceLine(channel, L"context: the desktop shell was asked to start a copy; waiting at most " +
                         Seconds(relaunch::kReportInMs) + L" for it to report in, and " +
                         Seconds(relaunch::kChildWaitMs) + L" in all");
  std::uint32_t reportedMs = 0;
  std::uint32_t endedMs = 0;
  const CopyOutcome outcome = offer->Await(reportedMs, endedMs);
  TraceLine(channel, DescribeCopy(outcome, reportedMs, endedMs));
  return outcome;
}

// A copy created suspended is let run only when it took the context it was started for; otherwise it is
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

// One copy in `session`, as its user, on its interactive desktop, in System32.
UniqueHandle LaunchInSession(const SessionLaunch& launch, DWORD session) {
  using QueryUserToken = BOOL(WINAPI*)(ULONG, PHANDLE);
  // Looked up in ADVAPI32, where Windows 7 has it: MinGW's import library would take it from KERNEL32, which
  // exports it only from Windows 8 on.
  using CreateAsUser = BOOL(WINAPI*)(HANDLE, LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                                     LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);
  const auto createAsUser = Lookup<CreateAsUser>(GetModuleHandleW(L"advapi32.dll"), "CreateProcessAsUserW");
  const auto queryUserToken = Lookup<QueryUserToken>(launch.wtsapi, "WTSQueryUserToken");
  UniqueHandle userToken;
  if (queryUserToken == nullptr || !queryUserToken(session, userToken.put())) return UniqueHandle();
  const auto meant = ReadToken(userToken.get());
  if (!meant) return UniqueHandle();
  // Without the user's block the copy takes this process's environment.
  std::vector<wchar_t> environment = UserEnvironment(launch.userenv, userToken.get());
  wchar_t desktop[] = L"winsta0\\default";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop;
  std::wstring commandLine = launch.commandLine;
  PROCESS_INFORMATION created{};
  if (createAsUser == nullptr ||
      !createAsUser(userToken.get(), launch.program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                    CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, environment.empty() ? nullptr : environment.data(),
                    launch.directory.empty() ? nullptr : launch.directory.c_str(), &startup, &created)) {
    return UniqueHandle();
  }
  return LetRunIfInContext(created, *meant);
}

// A copy in each active session, a few at a time, for at most the sessions' wait in all; the copies still
// running then are left to finish.
void RunPerSession(const std::wstring& arguments, const std::vector<DWORD>& sessions, HMODULE wtsapi,
                   TraceSink* channel) {
  EnablePrivilege(SE_TCB_NAME);
  EnablePrivilege(SE_ASSIGNPRIMARYTOKEN_NAME);
  EnablePrivilege(SE_INCREASE_QUOTA_NAME);
  SessionLaunch launch;
  launch.program = ModulePath();
  launch.commandLine = ChildCommandLine(launch.program, arguments);
  launch.directory = SystemDirectory();
  launch.wtsapi = wtsapi;
  const UniqueLibrary userenv(LoadSystemLibrary(L"userenv.dll"));
  launch.userenv = userenv.get();
  SessionSchedule schedule(std::vector<std::uint32_t>(sessions.begin(), sessions.end()));
  std::vector<std::uint32_t> failed;
  std::vector<UniqueHandle> running;
  std::size_t started = 0;
  std::size_t ended = 0;
  const DWORD start = GetTickCount();
  for (;;) {
    while (const auto session = schedule.Next(running.size(), GetTickCount() - start)) {
      if (auto copy = LaunchInSession(launch, *session)) {
        running.push_back(std::move(copy));
        ++started;
      } else {
        failed.push_back(*session);
      }
    }
    const DWORD spent = GetTickCount() - start;
    if (running.empty() || spent >= relaunch::kSessionsWaitMs) break;
    std::vector<HANDLE> handles;
    for (const auto& copy : running) handles.push_back(copy.get());
    const DWORD woke = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                              relaunch::kSessionsWaitMs - spent);
    if (woke >= WAIT_OBJECT_0 + handles.size()) break;
    running.erase(running.begin() + (woke - WAIT_OBJECT_0));
    ++ended;
  }
  TraceLine(channel, DescribeSessions(started, ended, failed, schedule.Unreached()));
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
  if (facts.self) facts.copy = Claim().Take(arguments, facts.self->user) != HandoverClaim::Result::kNone;
  const bool localSystem = facts.self && facts.self->user == kLocalSystemSid;
  UniqueLibrary wtsapi;
  std::vector<DWORD> sessions;
  if (!facts.copy && localSystem) {
    wtsapi.reset(LoadSystemLibrary(L"wtsapi32.dll"));
    sessions = ActiveSessions(wtsapi.get());
    facts.activeSessions = sessions.size();
  } else if (!facts.copy && facts.self && facts.self->elevated) {
    facts.shell = ReadShellToken(ShellProcessId());
  }

  const Placement placement = DecidePlacement(facts);
  TraceLine(channel, DescribeDecision(facts, placement));
  Placement here = placement;
  if (placement == Placement::kRunAsShellUser) {
    if (CopyRan(RunThroughShell(arguments, facts, channel))) return placement;
    here = FallbackPlacement(placement, facts);
    TraceLine(channel, DescribeFallback(here));
  } else if (placement == Placement::kRunPerSession) {
    RunPerSession(arguments, sessions, wtsapi.get(), channel);
  }
  return here;
}

void EndHandover() { Claim().End(); }

}  // namespace corvix::win32
