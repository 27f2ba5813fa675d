// Runs Corvix.exe the way an installer would and watches what it shows, for the end-to-end tests.
//
//   e2e_driver.exe <Corvix.exe path> <file holding the exact argument text, UTF-8> <report file>
//                  [--leave-message] [--timeout-ms N] [--watch-file PATH] [--tree] [--watch-gone PATH]
//                  [--shell PATH [--shell-locked]] [--adopt NAME] [--hidden]
//                  [--listen PATH | --listen-stale] [--hold-dbwin-mutex]
//                  [--suspend-shell-automation [--resume-at-message]] [--station NAME]
//
// The argument text is appended verbatim after the quoted program path, so the test controls the exact
// command line (trailing spaces, tabs, quotes). Until Corvix exits, every window of its process is
// polled: whether the host window "Uninstalling Toolbars" ever became visible, and each message box
// (its title, prompt, buttons, whether it was in the foreground), which is then dismissed with OK.
// --watch-file records the size of PATH (the stand-in's journal) at the moment the
// first message box was seen, as message1_watch_bytes.
// --tree watches, besides the program, every process it starts and every one those start (an installer and
// the Corvix.exe it runs, an NSIS uninstaller and the copy of itself it relaunches), and waits until all of
// them have ended; each is reported as process=<exe name>:<exit code>:<ms when first seen>:<ms when seen
// ended>, from the program's start. --watch-gone PATH reports gone_ms=<ms> when PATH was first seen missing
// (-1: never).
// Each process's token is reported by its elevation type (TokenElevationType: 1 default, 2 full, 3 limited,
// 0 unreadable): elevation=<type> for the program, process_elevation=<exe name>:<type> for each of the tree.
// --shell PATH starts the program PATH (tests/e2e/desktop_shell.cc) with this process's limited linked token
// before the program, and waits until it has registered its window as the desktop's shell window; a process
// that it starts (a child started in its context) counts as one of the tree. Once the tree has ended, the
// shell's window is closed and the shell waited for (killed after 10 s): shell_registered=1|0,
// shell_elevation=<type>, shell_exit=<code>, shell_window_after=1|0 (whether a shell window was still
// registered after it ended).
// shell_window_before=1|0: whether a shell window was registered when the driver started.
// --shell-locked starts the shell with --locked: its process then lets only LocalSystem open it, and
// shell_openable=1|0 says whether this process could still open it (PROCESS_QUERY_LIMITED_INFORMATION); the
// handles that its start gave are kept, to close its window and wait for it.
// --suspend-shell-automation suspends, before the program starts, the thread of Wine's explorer.exe (the
// process that owns the desktop window) that serves the shell's automation: the third in a Toolhelp snapshot
// of its threads (the first owns the desktop window, and suspending it would stop every window operation of
// the desktop). It is resumed once the tree has ended, before the shell is ended:
// shell_automation_suspended=1|0. With --resume-at-message it is resumed as soon as the first message box is
// seen, and that box is left for kHeldMessageMs before it is dismissed, so that the program's calls into the
// shell's automation are answered while it still runs.
// --station NAME creates a window station of that name with a desktop "Default" in it, and starts the program
// there (STARTUPINFO.lpDesktop "NAME\Default"): station=1|0, station_visible=1|0 (WSF_VISIBLE of its
// UOI_FLAGS). Its desktop's windows are watched as the driver's own desktop's are.
// --hidden starts the program as an installer's "run hidden" does: STARTF_USESHOWWINDOW with SW_HIDE, which
// the program's first shown main window takes in place of its own show state. A message box is reported
// only once it is visible, so a box that stays hidden is reported as none; each one's message<N>_iconic
// says whether it was minimised.
// --adopt NAME: a process of that exe name created after the program belongs to the tree whatever its parent
// (a copy that the desktop shell started); process_parent=<exe name>:<parent's exe name> for each of the tree.
// program_pid=<id>: the program's process id, as the listener's lines give it.
// process_cwd=<exe name>:<current directory> for the program and each of the tree, as last read while it ran
// ("?" where it could not be read: a process of the other bitness).
// --listen PATH listens on the debugger channel as a debug monitor does (DebugView's "Capture Win32"),
// from before the program starts until the whole tree has ended: it creates the shared buffer DBWIN_BUFFER
// (4096 bytes: the writer's process id, then the line in ANSI) and the events DBWIN_BUFFER_READY and
// DBWIN_DATA_READY, and appends each line that any process of the session writes to PATH as
// "<pid><TAB><line, UTF-8>\n", in the order they arrive. --listen-stale creates the same buffer and events
// but never takes a line, as a monitor that hung does: BUFFER_READY is never signalled. listener=1|0 says
// whether the buffer could be created, listener_lines=N how many lines were taken.
// --hold-dbwin-mutex has another process (this program, started as "e2e_driver --hold-dbwin-mutex <held
// event> <release event>") take the mutex DBWinMutex, which every writer to a debug monitor waits on, before
// the program starts, and hold it until the tree has ended: dbwin_mutex_held=1|0. (A separate process: a
// mutex does not keep out the thread that owns it.)
// wine_version=<version> says which Wine runs the driver (empty on Windows).
// The report is "key=value" lines, UTF-8.
#include <windows.h>
// after windows.h, which it needs
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "standin/server/utf8.h"

namespace {

using corvix::win32::FromUtf8;

std::wstring WindowText(HWND window) {
  wchar_t buffer[1024] = {};
  GetWindowTextW(window, buffer, 1024);
  return buffer;
}

std::wstring ClassName(HWND window) {
  wchar_t buffer[256] = {};
  GetClassNameW(window, buffer, 256);
  return buffer;
}

// Replaces line breaks so that a value stays on its report line.
std::wstring OneLine(std::wstring text) {
  for (auto& c : text) {
    if (c == L'\r' || c == L'\n') c = L'|';
  }
  return text;
}

// A process of the watched tree.
struct Watched {
  HANDLE handle = nullptr;
  std::wstring name;
  ULONGLONG seenMs = 0;
  ULONGLONG endedMs = 0;
  bool ended = false;
  DWORD elevation = 0;
  std::wstring parent;
  std::wstring cwd = L"?";
};

// A process's current directory, read from its process parameters; "?" when it cannot be read (a process
// of another bitness than this one's, or one that is not yet or no longer there).
std::wstring CurrentDirectory(DWORD pid) {
  struct BasicInformation {
    LONG exitStatus;
    void* peb;
    ULONG_PTR rest[4];
  };
  using Query = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (process == nullptr || query == nullptr) {
    if (process != nullptr) CloseHandle(process);
    return L"?";
  }
  BOOL ownWow64 = FALSE;
  BOOL theirWow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &ownWow64);
  IsWow64Process(process, &theirWow64);
  std::wstring directory = L"?";
  BasicInformation basic{};
  constexpr bool wide = sizeof(void*) == 8;
  const SIZE_T parametersAt = wide ? 0x20 : 0x10;  // PEB.ProcessParameters
  const SIZE_T directoryAt = wide ? 0x38 : 0x24;   // RTL_USER_PROCESS_PARAMETERS.CurrentDirectory.DosPath
  const SIZE_T bufferAt = wide ? 8 : 4;            // UNICODE_STRING.Buffer
  char* parameters = nullptr;
  USHORT length = 0;
  wchar_t* buffer = nullptr;
  if (ownWow64 == theirWow64 && query(process, 0, &basic, sizeof basic, nullptr) >= 0 &&
      ReadProcessMemory(process, static_cast<char*>(basic.peb) + parametersAt, &parameters, sizeof parameters,
                        nullptr) &&
      ReadProcessMemory(process, parameters + directoryAt, &length, sizeof length, nullptr) &&
      ReadProcessMemory(process, parameters + directoryAt + bufferAt, &buffer, sizeof buffer, nullptr) &&
      length < 2048) {
    std::wstring text(length / 2, L'\0');
    if (ReadProcessMemory(process, buffer, text.data(), length, nullptr)) directory = text;
  }
  CloseHandle(process);
  return directory;
}

// A process's TokenElevationType, or 0 when its token cannot be read.
DWORD ElevationType(HANDLE process) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return 0;
  TOKEN_ELEVATION_TYPE type{};
  DWORD size = 0;
  const bool read = GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size) != FALSE;
  CloseHandle(token);
  return read ? static_cast<DWORD>(type) : 0;
}

ULONGLONG CreationTime(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

struct Watch {
  DWORD pid = 0;
  bool tree = false;
  std::map<DWORD, Watched> processes;  // with --tree: every process of the tree but the program itself
  DWORD shellPid = 0;                  // with --shell: its children belong to the tree
  std::wstring adopt;                  // with --adopt: processes of this exe name belong to the tree
  std::wstring programCwd = L"?";
  std::set<std::wstring> notChildren;  // "name:pid:age" of processes older than the program
  bool frmMainSeen = false;
  bool frmMainVisible = false;
  bool frmMainWhileMessage = false;
  std::set<std::wstring> visibleOthers;  // visible windows that are neither frmMain nor a message box
  std::vector<HWND> boxesHandled;
  std::wostringstream boxes;
  int boxCount = 0;
  bool leaveMessage = false;
  bool holdMessage = false;                      // --resume-at-message: boxes are dismissed kHeldMessageMs late
  std::vector<std::pair<HWND, ULONGLONG>> held;  // those boxes, with when they were seen
  std::wstring watchFile;
};

bool Watches(const Watch& watch, DWORD pid) { return pid == watch.pid || watch.processes.count(pid) != 0; }

// Adds the processes started by one of the tree's since the last look. A process counts as a child only if
// it was created after the program: Wine reuses process ids, so a parent id alone may name a process older
// than the whole tree. (Not "after its parent": under Wine a process started by a relaunched 32-bit
// uninstaller was once reported as created before it.)
void FindChildren(Watch& watch, ULONGLONG nowMs, ULONGLONG programCreated) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  std::vector<PROCESSENTRY32W> entries;
  for (bool more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    entries.push_back(entry);
  }
  CloseHandle(snapshot);
  const auto nameOf = [&entries](DWORD pid) {
    for (const auto& other : entries) {
      if (other.th32ProcessID == pid) return std::wstring(other.szExeFile);
    }
    return std::wstring();
  };
  for (const auto& entry : entries) {
    const bool adopted = (watch.shellPid != 0 && entry.th32ParentProcessID == watch.shellPid) ||
                         (!watch.adopt.empty() && _wcsicmp(entry.szExeFile, watch.adopt.c_str()) == 0 &&
                          entry.th32ProcessID != watch.pid);
    if (Watches(watch, entry.th32ProcessID) || !(adopted || Watches(watch, entry.th32ParentProcessID))) continue;
    const HANDLE handle = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
    if (handle == nullptr) continue;
    // An unknown time (0) is taken as a child's.
    const ULONGLONG created = CreationTime(handle);
    if (created != 0 && created < programCreated) {
      // Name, id, and how long before the program it was created (in 100 ns units).
      watch.notChildren.insert(std::wstring(entry.szExeFile) + L":" + std::to_wstring(entry.th32ProcessID) + L":" +
                               std::to_wstring(programCreated - created));
      CloseHandle(handle);
      continue;
    }
    watch.processes[entry.th32ProcessID] =
        Watched{handle, entry.szExeFile, nowMs, 0, false, ElevationType(handle), nameOf(entry.th32ParentProcessID)};
  }
  // A process caught while Wine is still starting it has no name in the snapshot yet.
  for (auto& [pid, child] : watch.processes) {
    if (!child.name.empty()) continue;
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (QueryFullProcessImageNameW(child.handle, 0, path, &size)) {
      const std::wstring full(path, size);
      child.name = full.substr(full.find_last_of(L"\\/") + 1);
    }
  }
}

// Marks the children that have ended; true when all of them have.
bool ChildrenEnded(Watch& watch, ULONGLONG nowMs) {
  bool all = true;
  for (auto& [pid, child] : watch.processes) {
    if (!child.ended && WaitForSingleObject(child.handle, 0) == WAIT_OBJECT_0) {
      child.ended = true;
      child.endedMs = nowMs;
    }
    if (!child.ended) {
      const std::wstring cwd = CurrentDirectory(pid);
      if (cwd != L"?") child.cwd = cwd;
    }
    all &= child.ended;
  }
  return all;
}

long long FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

BOOL CALLBACK Visit(HWND window, LPARAM param) {
  auto& watch = *reinterpret_cast<Watch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (!Watches(watch, pid)) return TRUE;
  const std::wstring title = WindowText(window);
  const bool visible = IsWindowVisible(window) != FALSE;
  if (title == L"Uninstalling Toolbars") {
    watch.frmMainSeen = true;
    watch.frmMainVisible |= visible;
    return TRUE;
  }
  if (ClassName(window) == L"#32770" && visible) {
    for (HWND seen : watch.boxesHandled) {
      if (seen == window) return TRUE;
    }
    // A message box: its prompt is item 0xFFFF; its buttons are the visible Button children.
    std::wstring buttons;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      if (ClassName(child) == L"Button" && IsWindowVisible(child)) {
        buttons += (buttons.empty() ? L"" : L",") + WindowText(child);
      }
    }
    wchar_t prompt[1024] = {};
    GetDlgItemTextW(window, 0xFFFF, prompt, 1024);
    // Is frmMain still there while the message is up?
    HWND host = FindWindowW(L"#32770", L"Uninstalling Toolbars");
    DWORD hostPid = 0;
    if (host) GetWindowThreadProcessId(host, &hostPid);
    watch.frmMainWhileMessage |= host != nullptr && Watches(watch, hostPid);
    ++watch.boxCount;
    watch.boxes << L"message" << watch.boxCount << L"_title=" << OneLine(title) << L"\n"
                << L"message" << watch.boxCount << L"_text=" << OneLine(prompt) << L"\n"
                << L"message" << watch.boxCount << L"_buttons=" << buttons << L"\n"
                << L"message" << watch.boxCount << L"_owner=" << (GetWindow(window, GW_OWNER) ? 1 : 0) << L"\n"
                << L"message" << watch.boxCount << L"_foreground=" << (GetForegroundWindow() == window ? 1 : 0) << L"\n"
                << L"message" << watch.boxCount << L"_iconic=" << (IsIconic(window) ? 1 : 0) << L"\n";
    if (!watch.watchFile.empty()) {
      watch.boxes << L"message" << watch.boxCount << L"_watch_bytes=" << FileSize(watch.watchFile) << L"\n";
    }
    watch.boxesHandled.push_back(window);
    if (watch.holdMessage) {
      watch.held.emplace_back(window, GetTickCount64());
    } else if (!watch.leaveMessage) {
      PostMessageW(window, WM_COMMAND, IDOK, 0);
    }
    return TRUE;
  }
  if (visible) watch.visibleOthers.insert(ClassName(window) + L":" + title);
  return TRUE;
}

// How long --resume-at-message leaves a message box up once the shell's automation answers again.
constexpr ULONGLONG kHeldMessageMs = 5000;

// Dismisses the held boxes whose time is up.
void DismissHeld(Watch& watch) {
  const ULONGLONG now = GetTickCount64();
  for (auto box = watch.held.begin(); box != watch.held.end();) {
    if (now - box->second < kHeldMessageMs) {
      ++box;
      continue;
    }
    PostMessageW(box->first, WM_COMMAND, IDOK, 0);
    box = watch.held.erase(box);
  }
}

// The process that owns the desktop's shell window; 0 when none is registered.
DWORD ShellWindowProcess() {
  DWORD owner = 0;
  const HWND window = GetShellWindow();
  if (window != nullptr) GetWindowThreadProcessId(window, &owner);
  return owner;
}

// The desktop shell of --shell, started with this process's limited linked token.
struct Shell {
  PROCESS_INFORMATION process{};
  bool started = false;
  bool registered = false;
};

Shell StartShell(const std::wstring& path, bool locked) {
  Shell shell;
  HANDLE own = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &own)) return shell;
  TOKEN_LINKED_TOKEN linked{};
  DWORD size = 0;
  HANDLE primary = nullptr;
  if (GetTokenInformation(own, TokenLinkedToken, &linked, sizeof linked, &size)) {
    DuplicateTokenEx(linked.LinkedToken, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, &primary);
    CloseHandle(linked.LinkedToken);
  }
  CloseHandle(own);
  if (primary == nullptr) return shell;
  std::wstring commandLine = L"\"" + path + L"\"" + (locked ? L" --locked" : L"");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  shell.started = CreateProcessAsUserW(primary, path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                       nullptr, &startup, &shell.process) != FALSE;
  CloseHandle(primary);
  if (!shell.started) return shell;
  // Until its window is the shell window (or it has ended, having failed to register it).
  const ULONGLONG start = GetTickCount64();
  while (GetTickCount64() - start < 10000 && WaitForSingleObject(shell.process.hProcess, 10) == WAIT_TIMEOUT) {
    if (ShellWindowProcess() == shell.process.dwProcessId) {
      shell.registered = true;
      break;
    }
  }
  return shell;
}

// Closes the shell's window, waits for the shell to end, and reports it.
void EndShell(Shell& shell, std::wostringstream& report) {
  report << L"shell_registered=" << (shell.registered ? 1 : 0) << L"\n";
  if (!shell.started) return;
  const HANDLE opened = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shell.process.dwProcessId);
  report << L"shell_openable=" << (opened != nullptr ? 1 : 0) << L"\n";
  if (opened != nullptr) CloseHandle(opened);
  report << L"shell_elevation=" << ElevationType(shell.process.hProcess) << L"\n";
  if (ShellWindowProcess() == shell.process.dwProcessId) PostMessageW(GetShellWindow(), WM_CLOSE, 0, 0);
  if (WaitForSingleObject(shell.process.hProcess, 10000) != WAIT_OBJECT_0) {
    TerminateProcess(shell.process.hProcess, 99);
    WaitForSingleObject(shell.process.hProcess, 5000);
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(shell.process.hProcess, &exitCode);
  report << L"shell_exit=" << exitCode << L"\n"
         << L"shell_window_after=" << (GetShellWindow() != nullptr ? 1 : 0) << L"\n";
  CloseHandle(shell.process.hThread);
  CloseHandle(shell.process.hProcess);
}

// The thread of Wine's explorer.exe that serves the shell's automation, suspended (--suspend-shell-automation);
// null when it could not be.
HANDLE SuspendShellAutomation() {
  DWORD explorer = 0;
  GetWindowThreadProcessId(GetDesktopWindow(), &explorer);
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (explorer == 0 || snapshot == INVALID_HANDLE_VALUE) return nullptr;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int index = 0;
  DWORD automation = 0;
  for (bool more = Thread32First(snapshot, &entry); more && automation == 0; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == explorer && ++index == 3) automation = entry.th32ThreadID;
  }
  CloseHandle(snapshot);
  const HANDLE thread = automation == 0 ? nullptr : OpenThread(THREAD_SUSPEND_RESUME, FALSE, automation);
  if (thread != nullptr && SuspendThread(thread) == static_cast<DWORD>(-1)) {
    CloseHandle(thread);
    return nullptr;
  }
  return thread;
}

// A window station of its own and its desktop "Default" (--station), where the program is started.
struct Station {
  HWINSTA station = nullptr;
  HDESK desktop = nullptr;
  std::wstring desktopName;  // "NAME\Default", for STARTUPINFO.lpDesktop
  bool visible = false;
};

Station CreateStation(const std::wstring& name) {
  Station made;
  made.station = CreateWindowStationW(name.c_str(), 0, WINSTA_ALL_ACCESS, nullptr);
  if (made.station == nullptr) return made;
  USEROBJECTFLAGS flags{};
  if (GetUserObjectInformationW(made.station, UOI_FLAGS, &flags, sizeof flags, nullptr)) {
    made.visible = (flags.dwFlags & WSF_VISIBLE) != 0;
  }
  // A desktop is created in the process's own window station: this one's, for as long as it takes.
  const HWINSTA own = GetProcessWindowStation();
  if (SetProcessWindowStation(made.station)) {
    made.desktop = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    SetProcessWindowStation(own);
  }
  if (made.desktop != nullptr) made.desktopName = name + L"\\Default";
  return made;
}

void CloseStation(Station& made, std::wostringstream& report) {
  report << L"station=" << (made.desktop != nullptr ? 1 : 0) << L"\n"
         << L"station_visible=" << (made.visible ? 1 : 0) << L"\n";
  if (made.desktop != nullptr) CloseDesktop(made.desktop);
  if (made.station != nullptr) CloseWindowStation(made.station);
}

// Wine's version from its ntdll; empty on Windows.
std::wstring WineVersion() {
  using Version = const char*(CDECL*)();
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto version =
      ntdll == nullptr ? nullptr
                       : reinterpret_cast<Version>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
  return version == nullptr ? L"" : FromUtf8(version());
}

// A debug monitor on the debugger channel (--listen, --listen-stale).
struct Listener {
  HANDLE buffer = nullptr;  // the mapping DBWIN_BUFFER
  void* view = nullptr;
  HANDLE bufferReady = nullptr;
  HANDLE dataReady = nullptr;
  HANDLE stop = nullptr;
  HANDLE thread = nullptr;
  HANDLE file = INVALID_HANDLE_VALUE;
  bool created = false;
  LONG lines = 0;
};

// The monitor's layout of DBWIN_BUFFER.
constexpr DWORD kDebugBufferBytes = 4096;

DWORD WINAPI TakeLines(void* parameter) {
  auto& listener = *static_cast<Listener*>(parameter);
  const HANDLE waits[] = {listener.stop, listener.dataReady};
  while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
    const auto* bytes = static_cast<const char*>(listener.view);
    DWORD pid = 0;
    std::memcpy(&pid, bytes, sizeof pid);
    const char* text = bytes + sizeof pid;
    const std::size_t length = strnlen(text, kDebugBufferBytes - sizeof pid);
    std::wstring line;
    if (length > 0) {
      const int size = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
      line.resize(static_cast<std::size_t>(size));
      MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), line.data(), size);
    }
    const std::string record = std::to_string(pid) + "\t" + corvix::win32::Utf8(OneLine(line)) + "\n";
    DWORD written = 0;
    WriteFile(listener.file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    ++listener.lines;
    SetEvent(listener.bufferReady);
  }
  return 0;
}

// Creates the monitor's buffer and events in `listener`; with a file, a thread takes each line into it.
// Without one (stale), the buffer is never ready for a line.
void Listen(Listener& listener, const std::wstring& path) {
  listener.buffer =
      CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kDebugBufferBytes, L"DBWIN_BUFFER");
  if (listener.buffer == nullptr) return;
  if (GetLastError() == ERROR_ALREADY_EXISTS) return;  // another monitor's: not ours to serve
  listener.view = MapViewOfFile(listener.buffer, FILE_MAP_READ, 0, 0, 0);
  const bool stale = path.empty();
  listener.bufferReady = CreateEventW(nullptr, FALSE, stale ? FALSE : TRUE, L"DBWIN_BUFFER_READY");
  listener.dataReady = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
  listener.created = listener.view != nullptr && listener.bufferReady != nullptr && listener.dataReady != nullptr;
  if (!listener.created || stale) return;
  listener.file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  listener.stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (listener.file != INVALID_HANDLE_VALUE && listener.stop != nullptr) {
    listener.thread = CreateThread(nullptr, 0, TakeLines, &listener, 0, nullptr);
  }
  listener.created = listener.thread != nullptr;
}

// Stops taking lines and closes the monitor's objects.
void StopListening(Listener& listener, std::wostringstream& report) {
  if (listener.thread != nullptr) {
    SetEvent(listener.stop);
    WaitForSingleObject(listener.thread, 10000);
    CloseHandle(listener.thread);
  }
  report << L"listener=" << (listener.created ? 1 : 0) << L"\n" << L"listener_lines=" << listener.lines << L"\n";
  if (listener.file != INVALID_HANDLE_VALUE) CloseHandle(listener.file);
  for (const HANDLE handle : {listener.stop, listener.dataReady, listener.bufferReady}) {
    if (handle != nullptr) CloseHandle(handle);
  }
  if (listener.view != nullptr) UnmapViewOfFile(listener.view);
  if (listener.buffer != nullptr) CloseHandle(listener.buffer);
}

// The process that holds DBWinMutex (--hold-dbwin-mutex).
struct MutexHolder {
  PROCESS_INFORMATION process{};
  HANDLE held = nullptr;
  HANDLE release = nullptr;
  bool holds = false;
};

// Starts this program as the holder and waits until it holds the mutex (10 s at most).
MutexHolder HoldDbwinMutex() {
  MutexHolder holder;
  const std::wstring suffix = std::to_wstring(GetCurrentProcessId());
  const std::wstring heldName = L"corvix-e2e-dbwin-held-" + suffix;
  const std::wstring releaseName = L"corvix-e2e-dbwin-release-" + suffix;
  holder.held = CreateEventW(nullptr, TRUE, FALSE, heldName.c_str());
  holder.release = CreateEventW(nullptr, TRUE, FALSE, releaseName.c_str());
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring commandLine = L"\"" + std::wstring(self) + L"\" --hold-dbwin-mutex " + heldName + L" " + releaseName;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (holder.held == nullptr || holder.release == nullptr ||
      !CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &holder.process)) {
    return holder;
  }
  const HANDLE waits[] = {holder.held, holder.process.hProcess};
  holder.holds = WaitForMultipleObjects(2, waits, FALSE, 10000) == WAIT_OBJECT_0;
  return holder;
}

// Tells the holder to let the mutex go and waits for it to end (killed after 10 s).
void EndHolder(MutexHolder& holder, std::wostringstream& report) {
  report << L"dbwin_mutex_held=" << (holder.holds ? 1 : 0) << L"\n";
  if (holder.process.hProcess != nullptr) {
    SetEvent(holder.release);
    if (WaitForSingleObject(holder.process.hProcess, 10000) != WAIT_OBJECT_0) {
      TerminateProcess(holder.process.hProcess, 99);
    }
    CloseHandle(holder.process.hThread);
    CloseHandle(holder.process.hProcess);
  }
  for (const HANDLE handle : {holder.held, holder.release}) {
    if (handle != nullptr) CloseHandle(handle);
  }
}

// The holder itself: takes DBWinMutex, says so, and keeps it until told to let go (or 20 minutes).
int HoldMutexUntilReleased(const wchar_t* heldName, const wchar_t* releaseName) {
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, L"DBWinMutex");
  const HANDLE held = OpenEventW(EVENT_MODIFY_STATE, FALSE, heldName);
  const HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, releaseName);
  if (mutex == nullptr || held == nullptr || release == nullptr) return 1;
  const DWORD taken = WaitForSingleObject(mutex, 10000);
  if (taken != WAIT_OBJECT_0 && taken != WAIT_ABANDONED) return 1;
  SetEvent(held);
  WaitForSingleObject(release, 20 * 60 * 1000);
  ReleaseMutex(mutex);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && std::wstring(argv[1]) == L"--hold-dbwin-mutex") return HoldMutexUntilReleased(argv[2], argv[3]);
  if (argc < 4) {
    std::fwprintf(stderr, L"usage: e2e_driver <exe> <args file> <report file> [--leave-message] [--timeout-ms N]\n");
    return 2;
  }
  Watch watch;
  DWORD timeoutMs = 60000;
  std::wstring watchGone;
  std::wstring shellPath;
  long long goneMs = -1;
  bool hidden = false;
  std::wstring listenPath;
  bool listenStale = false;
  bool holdMutex = false;
  bool shellLocked = false;
  bool suspendAutomation = false;
  std::wstring stationName;
  for (int i = 4; i < argc; ++i) {
    if (std::wstring(argv[i]) == L"--adopt" && i + 1 < argc) watch.adopt = argv[++i];
    if (std::wstring(argv[i]) == L"--leave-message") watch.leaveMessage = true;
    if (std::wstring(argv[i]) == L"--timeout-ms" && i + 1 < argc) timeoutMs = std::wcstoul(argv[++i], nullptr, 10);
    if (std::wstring(argv[i]) == L"--watch-file" && i + 1 < argc) watch.watchFile = argv[++i];
    if (std::wstring(argv[i]) == L"--tree") watch.tree = true;
    if (std::wstring(argv[i]) == L"--watch-gone" && i + 1 < argc) watchGone = argv[++i];
    if (std::wstring(argv[i]) == L"--shell" && i + 1 < argc) shellPath = argv[++i];
    if (std::wstring(argv[i]) == L"--hidden") hidden = true;
    if (std::wstring(argv[i]) == L"--listen" && i + 1 < argc) listenPath = argv[++i];
    if (std::wstring(argv[i]) == L"--listen-stale") listenStale = true;
    if (std::wstring(argv[i]) == L"--hold-dbwin-mutex") holdMutex = true;
    if (std::wstring(argv[i]) == L"--shell-locked") shellLocked = true;
    if (std::wstring(argv[i]) == L"--suspend-shell-automation") suspendAutomation = true;
    if (std::wstring(argv[i]) == L"--resume-at-message") watch.holdMessage = true;
    if (std::wstring(argv[i]) == L"--station" && i + 1 < argc) stationName = argv[++i];
  }
  std::ifstream argsFile(argv[2], std::ios::binary);
  const std::string argsUtf8((std::istreambuf_iterator<char>(argsFile)), std::istreambuf_iterator<char>());
  const std::wstring arguments = FromUtf8(argsUtf8);

  // An empty argument text means the bare quoted path, as Explorer starts a program.
  std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (hidden) {
    startup.dwFlags |= STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  }
  PROCESS_INFORMATION process{};
  std::wostringstream report;
  // Whether a desktop shell window was registered before this run (none, by default, under Wine).
  report << L"shell_window_before=" << (GetShellWindow() != nullptr ? 1 : 0) << L"\n";
  // The channel's listener and the mutex's holder are there before the program, and stay until the tree has
  // ended.
  Listener listener;
  if (!listenPath.empty() || listenStale) Listen(listener, listenStale ? std::wstring() : listenPath);
  MutexHolder holder;
  if (holdMutex) holder = HoldDbwinMutex();
  Shell shell;
  if (!shellPath.empty()) {
    shell = StartShell(shellPath, shellLocked);
    if (shell.started) watch.shellPid = shell.process.dwProcessId;
  }
  Station station;
  if (!stationName.empty()) {
    station = CreateStation(stationName);
    if (station.desktop != nullptr) startup.lpDesktop = station.desktopName.data();
  }
  HANDLE automation = suspendAutomation ? SuspendShellAutomation() : nullptr;
  if (suspendAutomation) report << L"shell_automation_suspended=" << (automation != nullptr ? 1 : 0) << L"\n";
  // Suspended until the hook is in place, so that no window of the process can be shown unseen.
  if (!CreateProcessW(argv[1], commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                      &startup, &process)) {
    report << L"started=0\nerror=" << GetLastError() << L"\n";
  } else {
    watch.pid = process.dwProcessId;
    const ULONGLONG programCreated = CreationTime(process.hProcess);
    const DWORD programElevation = ElevationType(process.hProcess);
    ResumeThread(process.hThread);
    const ULONGLONG start = GetTickCount64();
    bool timedOut = false;
    bool programEnded = false;
    for (;;) {
      const ULONGLONG nowMs = GetTickCount64() - start;
      if (watch.tree) FindChildren(watch, nowMs, programCreated);
      if (!programEnded) {
        const std::wstring cwd = CurrentDirectory(process.dwProcessId);
        if (cwd != L"?") watch.programCwd = cwd;
      }
      if (goneMs < 0 && !watchGone.empty() && GetFileAttributesW(watchGone.c_str()) == INVALID_FILE_ATTRIBUTES) {
        goneMs = static_cast<long long>(nowMs);
      }
      EnumWindows(Visit, reinterpret_cast<LPARAM>(&watch));
      if (station.desktop != nullptr) EnumDesktopWindows(station.desktop, Visit, reinterpret_cast<LPARAM>(&watch));
      if (watch.holdMessage && watch.boxCount > 0 && automation != nullptr) {
        ResumeThread(automation);
        CloseHandle(automation);
        automation = nullptr;
        report << L"shell_automation_resumed_at_message=1\n";
      }
      DismissHeld(watch);
      // Once the program has ended, one more look for children it started just before, then their end.
      const bool childrenEnded = ChildrenEnded(watch, nowMs);
      if (programEnded && childrenEnded) break;
      const DWORD woke = programEnded ? (Sleep(10), WAIT_TIMEOUT)
                                      : MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, 10, QS_ALLINPUT);
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
      if (woke == WAIT_OBJECT_0) {
        programEnded = true;
        if (!watch.tree) break;
      }
      if (GetTickCount64() - start > timeoutMs) {
        timedOut = true;
        for (auto& [pid, child] : watch.processes) {
          if (!child.ended) TerminateProcess(child.handle, 99);
        }
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
        break;
      }
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    report << L"started=1\n"
           << L"started_hidden=" << (hidden ? 1 : 0) << L"\n"
           << L"wine_version=" << WineVersion() << L"\n"
           << L"timed_out=" << (timedOut ? 1 : 0) << L"\n"
           << L"exit_code=" << exitCode << L"\n"
           << L"elevation=" << programElevation << L"\n"
           << L"program_pid=" << process.dwProcessId << L"\n"
           << L"program_cwd=" << watch.programCwd << L"\n"
           << L"elapsed_ms=" << (GetTickCount64() - start) << L"\n"
           << L"frmMain_seen=" << (watch.frmMainSeen ? 1 : 0) << L"\n"
           << L"frmMain_visible=" << (watch.frmMainVisible ? 1 : 0) << L"\n"
           << L"frmMain_while_message=" << (watch.frmMainWhileMessage ? 1 : 0) << L"\n"
           << L"messages=" << watch.boxCount << L"\n"
           << watch.boxes.str();
    for (const auto& other : watch.visibleOthers) report << L"visible_other=" << OneLine(other) << L"\n";
    for (auto& [pid, child] : watch.processes) {
      DWORD childExit = 0;
      GetExitCodeProcess(child.handle, &childExit);
      report << L"process=" << child.name << L":" << childExit << L":" << child.seenMs << L":" << child.endedMs << L"\n"
             << L"process_elevation=" << child.name << L":" << child.elevation << L"\n"
             << L"process_parent=" << child.name << L":" << child.parent << L"\n"
             << L"process_cwd=" << child.name << L":" << child.cwd << L"\n";
      CloseHandle(child.handle);
    }
    for (const auto& other : watch.notChildren) report << L"not_child=" << other << L"\n";
    if (!watchGone.empty()) report << L"gone_ms=" << goneMs << L"\n";
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  // The tree has ended (or was ended): the shell's automation answers again, before the shell goes.
  if (automation != nullptr) {
    ResumeThread(automation);
    CloseHandle(automation);
  }
  if (!shellPath.empty()) EndShell(shell, report);
  if (!stationName.empty()) CloseStation(station, report);
  if (holdMutex) EndHolder(holder, report);
  if (!listenPath.empty() || listenStale) StopListening(listener, report);
  std::ofstream out(argv[3], std::ios::binary);
  out << corvix::win32::Utf8(report.str());
  return 0;
}
