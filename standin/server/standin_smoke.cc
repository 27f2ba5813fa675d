// A Windows-side check of office_standin.exe, run under Wine by CTest: registers the stand-in, drives it
// as a client would (the running object table, CoCreateInstance, IDispatch calls, QueryInterface for
// Office's interfaces) and checks what it recorded in its state directory.
//
//   standin_smoke.exe [--server PATH]   PATH: the office_standin.exe to check (default: the one beside it;
//                                       a 32-bit check of the 64-bit server shows its registration for
//                                       32-bit clients)
#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

int failures = 0;

void Check(bool ok, const std::string& what) {
  if (ok) return;
  ++failures;
  std::printf("FAILED: %s\n", what.c_str());
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

int CountOf(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// ---- files and processes

std::wstring Beside(const wchar_t* name) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path);
  return dir.substr(0, dir.find_last_of(L'\\') + 1) + name;
}

struct StateDir {
  std::wstring path;

  explicit StateDir(const wchar_t* name) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    path = std::wstring(temp) + L"standin_smoke_" + std::to_wstring(GetCurrentProcessId()) + L"_" + name;
    CreateDirectoryW(path.c_str(), nullptr);
    // Left from an earlier run with the same process id: the server appends to its files.
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) DeleteFileW(File(found.cFileName).c_str());
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
  }
  std::wstring File(const wchar_t* name) const { return path + L"\\" + name; }
  bool Exists(const wchar_t* name) const { return GetFileAttributesW(File(name).c_str()) != INVALID_FILE_ATTRIBUTES; }
  // A file the server writes is never empty once written; an empty read is retried for a while, since the
  // file may be caught while the server is replacing it.
  std::string Read(const wchar_t* name) const {
    std::string out;
    for (int attempt = 0; attempt < 40 && out.empty(); ++attempt) {
      if (attempt > 0) Sleep(50);
      HANDLE file = CreateFileW(File(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
      if (file == INVALID_HANDLE_VALUE) continue;
      char buffer[4096];
      DWORD got = 0;
      while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
      CloseHandle(file);
    }
    return out;
  }
  void Write(const wchar_t* name, const std::string& text) const {
    HANDLE file = CreateFileW(File(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
  }
  // Waits for a file the server writes; false after `ms`.
  bool WaitFor(const wchar_t* name, DWORD ms) const {
    for (DWORD waited = 0; waited < ms; waited += 50) {
      if (Exists(name)) return true;
      Sleep(50);
    }
    return Exists(name);
  }
};

std::wstring g_server;  // the office_standin.exe under test

HANDLE Start(const std::wstring& args) {
  std::wstring command = L"\"" + g_server + L"\" " + args;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return nullptr;
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

// The exit code, or -1 when the process did not end within `ms`.
int Finish(HANDLE process, DWORD ms) {
  if (process == nullptr) return -2;
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process, ms) == WAIT_OBJECT_0) GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return static_cast<int>(code);
}

int Run(const std::wstring& args) { return Finish(Start(args), 30000); }

std::wstring StateArg(const StateDir& dir) { return L"--state \"" + dir.path + L"\""; }

// ---- IDispatch calls

struct Result {
  HRESULT hr = E_FAIL;
  VARIANT value{};
  EXCEPINFO exception{};
  Result() { VariantInit(&value); }
  ~Result() {
    VariantClear(&value);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
  }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  // The object result, with its own reference.
  IDispatch* Object() {
    if (hr != S_OK || value.vt != VT_DISPATCH || value.pdispVal == nullptr) return nullptr;
    value.pdispVal->AddRef();
    return value.pdispVal;
  }
  std::string Description() const { return exception.bstrDescription ? Narrow(exception.bstrDescription) : ""; }
};

VARIANT Text(const wchar_t* text) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  return v;
}

VARIANT Number(LONG number) {
  VARIANT v;
  v.vt = VT_I4;
  v.lVal = number;
  return v;
}

VARIANT Boolean(bool value) {
  VARIANT v;
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

// Calls `name` with `args` (first argument first); the arguments' strings are freed.
void Call(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> args, Result* result) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  result->hr = object ? object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id) : E_POINTER;
  if (SUCCEEDED(result->hr)) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    UINT badArgument = 0;
    result->hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &result->value, &result->exception,
                                &badArgument);
  }
  for (VARIANT& arg : args) {
    if (arg.vt == VT_BSTR) VariantClear(&arg);
  }
}

IDispatch* Get(IDispatch* object, const wchar_t* name, std::vector<VARIANT> args = {}) {
  Result result;
  Call(object, name, DISPATCH_PROPERTYGET, std::move(args), &result);
  Check(result.hr == S_OK, "get " + Narrow(name) + " returned " + Hex(result.hr));
  return result.Object();
}

void Release(IDispatch*& object) {
  if (object) object->Release();
  object = nullptr;
}

constexpr IID kCommandBarButton = {0x000C030E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID kCommandBarPopup = {0x000C030A, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

const char kScenario[] =
    "word running\n"
    "  bar \"Merrowin Software\"\n"
    "    button \"Find\" parameter \"merrowin.find\"\n"
    "    popup \"More\"\n"
    "  bar \"Menu Bar\" active\n"
    "    popup \"&Tools\"\n"
    "      button \"Ours\" parameter \"Inspector Menu\"\n"
    "fail Caption on \"popup 'More'\"\n";

// Word already running: attached through the running object table; calls, conversions, failures and
// what the client still held when the server was stopped.
void RunningWord() {
  StateDir dir(L"running");
  dir.Write(L"scenario.txt", kScenario);
  Check(Run(L"/register " + StateArg(dir)) == 0, "/register");
  HANDLE server = Start(StateArg(dir) + L" --running");
  Check(dir.WaitFor(L"ready", 20000), "the running server did not get ready");

  CLSID clsid{};
  Check(SUCCEEDED(CLSIDFromProgID(L"Word.Application", &clsid)), "Word.Application is not registered");
  IUnknown* running = nullptr;
  Check(SUCCEEDED(GetActiveObject(clsid, nullptr, &running)) && running, "GetActiveObject found no Word");
  IDispatch* word = nullptr;
  if (running) running->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&word));
  if (running) running->Release();

  // Names are case-insensitive; the model sees its own spelling.
  IDispatch* bars = Get(word, L"commandBARS");
  IDispatch* bar = Get(bars, L"Item", {Text(L"Merrowin Software")});
  IDispatch* controls = Get(bar, L"Controls");
  {
    Result count;
    Call(controls, L"Count", DISPATCH_PROPERTYGET, {}, &count);
    Check(count.hr == S_OK && count.value.vt == VT_I4 && count.value.lVal == 2, "Count of two controls");
  }
  IDispatch* control = Get(controls, L"Item", {Number(1)});
  IDispatch* button = nullptr;
  IDispatch* popup = nullptr;
  if (control) {
    const HRESULT asButton = control->QueryInterface(kCommandBarButton, reinterpret_cast<void**>(&button));
    Check(asButton == S_OK && button, "QueryInterface for _CommandBarButton returned " + Hex(asButton));
    const HRESULT asPopup = control->QueryInterface(kCommandBarPopup, reinterpret_cast<void**>(&popup));
    Check(asPopup == E_NOINTERFACE && !popup, "QueryInterface for CommandBarPopup returned " + Hex(asPopup));
  }
  {
    // The pointer of the converted interface takes IDispatch calls.
    Result parameter;
    Call(button, L"Parameter", DISPATCH_PROPERTYGET, {}, &parameter);
    Check(parameter.hr == S_OK && parameter.value.vt == VT_BSTR && Narrow(parameter.value.bstrVal) == "merrowin.find",
          "Parameter through _CommandBarButton");
    Result deleted;
    Call(button, L"Delete", DISPATCH_METHOD, {}, &deleted);
    Check(deleted.hr == S_OK, "Delete returned " + Hex(deleted.hr));
    Result count;
    Call(controls, L"Count", DISPATCH_PROPERTYGET, {}, &count);
    Check(count.value.vt == VT_I4 && count.value.lVal == 1, "Count after Delete");
  }
  {
    // An object's own failure is an exception with its code and description.
    Result missing;
    Call(bars, L"Item", DISPATCH_PROPERTYGET, {Text(L"No Such Bar")}, &missing);
    Check(missing.hr == DISP_E_EXCEPTION && missing.exception.scode == E_INVALIDARG &&
              Contains(missing.Description(), "No Such Bar") && missing.exception.bstrSource &&
              Narrow(missing.exception.bstrSource) == "standin",
          "Item of a missing bar: " + Hex(missing.hr) + " " + Hex(missing.exception.scode));
    // Dispatch errors come back as they are.
    Result noArguments;
    Call(bars, L"Item", DISPATCH_PROPERTYGET, {}, &noArguments);
    Check(noArguments.hr == DISP_E_BADPARAMCOUNT, "Item without arguments: " + Hex(noArguments.hr));
    Result asMethod;
    Call(controls, L"Count", DISPATCH_METHOD, {}, &asMethod);
    Check(asMethod.hr == DISP_E_MEMBERNOTFOUND, "Count called as a method: " + Hex(asMethod.hr));
    Result unknown;
    Call(bar, L"Count", DISPATCH_PROPERTYGET, {}, &unknown);
    Check(unknown.hr == DISP_E_UNKNOWNNAME, "a bar has no Count: " + Hex(unknown.hr));
    // A scenario's fault: the server "threw".
    IDispatch* more = Get(controls, L"Item", {Text(L"More")});
    Result caption;
    Call(more, L"Caption", DISPATCH_PROPERTYGET, {}, &caption);
    Check(caption.hr == RPC_E_SERVERFAULT, "injected fault: " + Hex(caption.hr));
    Release(more);
    // One of the server's own objects passed back to it arrives as that object.
    VARIANT self;
    self.vt = VT_DISPATCH;
    self.pdispVal = bar;
    Result byObject;
    Call(bars, L"Item", DISPATCH_PROPERTYGET, {self}, &byObject);
    Check(byObject.hr == DISP_E_TYPEMISMATCH, "Item(a bar): " + Hex(byObject.hr));
    // Setting a property is refused, and journaled with the value.
    DISPID visible = DISPID_UNKNOWN;
    LPOLESTR name[] = {const_cast<LPOLESTR>(L"Visible")};
    VARIANT value = Boolean(true);
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &put, 1, 1};
    HRESULT set = word ? word->GetIDsOfNames(IID_NULL, name, 1, LOCALE_USER_DEFAULT, &visible) : E_POINTER;
    if (SUCCEEDED(set))
      set = word->Invoke(visible, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                         nullptr);
    Check(set == DISP_E_MEMBERNOTFOUND, "Visible = True: " + Hex(set));
  }
  Release(button);
  Release(control);
  Release(bar);
  Release(bars);
  Release(word);

  // `controls` is still held when the server stops: the state reports it.
  dir.Write(L"stop", "");
  Check(Finish(server, 20000) == 0, "the running server did not stop cleanly");
  Release(controls);

  const std::string state = dir.Read(L"state.txt");
  Check(Contains(state, "references held: 1\n"), "state.txt should show the one reference still held:\n" + state);
  Check(Contains(state, "bar 'Merrowin Software'\n    popup 'More'\n  bar 'Menu Bar'"),
        "state.txt should show the bar without its button:\n" + state);

  const std::string journal = dir.Read(L"journal.txt");
  const std::string expected =
      "1 ROT.GetActiveObject(\"Word.Application\") -> attached\n"
      "2 Word.CommandBars() -> Word bars\n"
      "3 Word bars.Item(BSTR \"Merrowin Software\") -> bar 'Merrowin Software'\n"
      "4 bar 'Merrowin Software'.Controls() -> controls of 'Merrowin Software'\n"
      "5 controls of 'Merrowin Software'.Count() -> I4 2\n"
      "6 controls of 'Merrowin Software'.Item(I4 1) -> button 'Find'\n"
      "7 button 'Find'.QueryInterface({000C030E-0000-0000-C000-000000000046}) -> ok\n"
      "8 button 'Find'.QueryInterface({000C030A-0000-0000-C000-000000000046}) -> failed 0x80004002 no interface\n"
      "9 button 'Find'.Parameter() -> BSTR \"merrowin.find\"\n"
      "10 button 'Find'.Delete() -> nothing\n"
      "11 controls of 'Merrowin Software'.Count() -> I4 1\n"
      "12 Word bars.Item(BSTR \"No Such Bar\") -> failed 0x80070057 no bar named No Such Bar\n"
      "13 Word bars.Item() -> failed 0x8002000E wrong argument count\n"
      "14 controls of 'Merrowin Software'.Count() -> failed 0x80020003 a property, not a method\n"
      "15 controls of 'Merrowin Software'.Item(BSTR \"More\") -> popup 'More'\n"
      "16 popup 'More'.Caption() -> failed 0x80010105 injected failure\n"
      "17 Word bars.Item(bar 'Merrowin Software') -> failed 0x80020005 Index must be a bar name\n"
      "18 Word.Visible(BOOL true) -> failed 0x80020003 the stand-in sets no properties\n";
  Check(journal == expected, "journal.txt:\n" + journal);

  const std::string names = dir.Read(L"getidsofnames.txt");
  Check(Contains(names, "1 Word.GetIDsOfNames(\"commandBARS\") -> DISPID "), "getidsofnames.txt:\n" + names);
  Check(Contains(names, "bar 'Merrowin Software'.GetIDsOfNames(\"Count\") -> failed 0x80020006"),
        "getidsofnames.txt should show the refused name:\n" + names);
  Check(CountOf(names, "GetIDsOfNames") == 16, "getidsofnames.txt should have one line per lookup:\n" + names);
}

// Word not running: CoCreateInstance starts the server; Quit(SaveChanges:=True) saves the bars, and the
// server ends as soon as the client lets go.
void StartedWord() {
  StateDir dir(L"started");
  dir.Write(L"scenario.txt",
            "word installed\n  bar \"Merrowin Software\"\n    button \"Find\"\n  bar \"Standard\" builtin\n");
  Check(Run(L"/register " + StateArg(dir)) == 0, "/register");

  CLSID clsid{};
  CLSIDFromProgID(L"Word.Application", &clsid);
  IUnknown* running = nullptr;
  Check(FAILED(GetActiveObject(clsid, nullptr, &running)), "a Word that is only installed is not running");
  if (running) running->Release();

  IDispatch* word = nullptr;
  const HRESULT created =
      CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(&word));
  Check(created == S_OK && word, "CoCreateInstance returned " + Hex(created));
  IDispatch* bars = Get(word, L"CommandBars");
  IDispatch* bar = Get(bars, L"Item", {Text(L"Merrowin Software")});
  Result deleted;
  Call(bar, L"Delete", DISPATCH_METHOD, {}, &deleted);
  Check(deleted.hr == S_OK, "bar Delete returned " + Hex(deleted.hr));
  Result quit;
  Call(word, L"Quit", DISPATCH_METHOD, {Boolean(true)}, &quit);
  Check(quit.hr == S_OK, "Quit returned " + Hex(quit.hr));
  Release(bar);
  Release(bars);
  Release(word);

  Check(dir.WaitFor(L"state.txt", 10000), "the started server did not end after the client let go");
  const std::string state = dir.Read(L"state.txt");
  Check(Contains(state, "word: running no, started yes, quit 1, saved yes"), "state.txt:\n" + state);
  Check(Contains(state, "references held: 0\n"), "state.txt should show no references held:\n" + state);
  const std::string saved = dir.Read(L"saved_word.txt");
  Check(saved == "bar 'Merrowin Software' deleted\n  button 'Find'\nbar 'Standard'\n", "saved_word.txt:\n" + saved);
  Check(Contains(dir.Read(L"journal.txt"), "1 COM.CoCreateInstance(\"Word.Application\") -> started\n"),
        "journal.txt should start with the CoCreateInstance:\n" + dir.Read(L"journal.txt"));
}

// A client that keeps an object after Quit: the server does not wait for it for ever, and says so.
void QuitWithReferenceHeld() {
  StateDir dir(L"quit_held");
  dir.Write(L"scenario.txt", "word installed\n  bar \"Merrowin Software\"\n");
  Check(Run(L"/register " + StateArg(dir)) == 0, "/register");
  CLSID clsid{};
  CLSIDFromProgID(L"Word.Application", &clsid);
  IDispatch* word = nullptr;
  CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(&word));
  IDispatch* bars = Get(word, L"CommandBars");
  Result quit;
  Call(word, L"Quit", DISPATCH_METHOD, {}, &quit);
  Release(word);
  Check(dir.WaitFor(L"state.txt", 15000), "the server should end a few seconds after Quit");
  const std::string state = dir.Read(L"state.txt");
  Check(Contains(state, "quit 1, saved no") && Contains(state, "references held: 1\n"), "state.txt:\n" + state);
  Check(!dir.Exists(L"saved_word.txt"), "Quit without SaveChanges saves nothing");
  Release(bars);
}

// The child process of ClientEndsHoldingReferences: starts Word, takes its bars and ends without a release.
int LeakingClient() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  CLSID clsid{};
  CLSIDFromProgID(L"Word.Application", &clsid);
  IDispatch* word = nullptr;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(&word)))) {
    return 1;
  }
  IDispatch* bars = Get(word, L"CommandBars");
  // Neither `word` nor `bars` is released.
  ExitProcess(bars != nullptr ? 0 : 1);
}

// A client that ends without releasing what it holds: the server it launched ends soon after (Wine never
// runs such references down), and its state shows them still held.
void ClientEndsHoldingReferences() {
  StateDir dir(L"leak");
  dir.Write(L"scenario.txt", "word installed\n  bar \"Merrowin Software\"\n");
  Check(Run(L"/register " + StateArg(dir)) == 0, "/register");
  std::wstring command = L"\"" + Beside(L"standin_smoke.exe") + L"\" --leaking-client";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  Check(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process),
        "cannot start the leaking client");
  CloseHandle(process.hThread);
  Check(Finish(process.hProcess, 20000) == 0, "the leaking client failed");
  Check(dir.WaitFor(L"state.txt", 10000), "the server did not end after its client did");
  const std::string state = dir.Read(L"state.txt");
  Check(Contains(state, "references held: 2\n"), "state.txt should show Word and its bars still held:\n" + state);
}

std::string Bitness(REGSAM view) { return view == KEY_WOW64_32KEY ? "32-bit" : "64-bit"; }

// Whether HKLM\Software\Classes\<key> exists in a registry view.
bool ClassesKey(REGSAM view, const std::wstring& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + key).c_str(), 0, KEY_READ | view, &handle) !=
      ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(handle);
  return true;
}

// Whether TypeLib\{the stand-in's library}<below> exists in a registry view.
bool TypeLibraryKey(REGSAM view, const wchar_t* below) {
  return ClassesKey(view, std::wstring(L"TypeLib\\{39DA69FD-F32B-4541-B923-E40BC2246448}") + below);
}

// A scenario the model rejects, and the removal of every registration.
void BadScenarioAndUnregister() {
  StateDir dir(L"bad");
  dir.Write(L"scenario.txt", "word running\n  bar Unquoted\n");
  Check(Run(L"/register " + StateArg(dir)) == 2, "/register of a bad scenario should exit with 2");
  Check(Contains(dir.Read(L"error.txt"), "line 2"), "error.txt:\n" + dir.Read(L"error.txt"));

  Check(Run(L"/unregister") == 0, "/unregister");
  CLSID clsid{};
  Check(FAILED(CLSIDFromProgID(L"Word.Application", &clsid)), "Word.Application is still registered");
  const GUID library = {0x39DA69FD, 0xF32B, 0x4541, {0xB9, 0x23, 0xE4, 0x0B, 0xC2, 0x24, 0x64, 0x48}};
  BSTR path = nullptr;
  Check(FAILED(QueryPathOfRegTypeLib(library, 1, 0, LOCALE_NEUTRAL, &path)), "the type library is still registered");
  SysFreeString(path);
  for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
    Check(!TypeLibraryKey(view, L""), "the type library's key is still there for " + Bitness(view) + " clients");
  }
}

// Registered for both bitnesses: the type library names a file for 32- and for 64-bit clients.
void TypeLibraryForBothBitnesses() {
  StateDir dir(L"typelib");
  dir.Write(L"scenario.txt", "word installed\n");
  Check(Run(L"/register " + StateArg(dir)) == 0, "/register");
  for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
    const wchar_t* platform = view == KEY_WOW64_32KEY ? L"\\1.0\\0\\win32" : L"\\1.0\\0\\win64";
    Check(TypeLibraryKey(view, platform), "no type library registered for " + Bitness(view) + " clients");
    Check(ClassesKey(view, L"Interface\\{000C030E-0000-0000-C000-000000000046}\\ProxyStubClsid32"),
          "_CommandBarButton is not registered for " + Bitness(view) + " clients");
  }
  Check(Run(L"/register " + StateArg(dir) + L" --typelib none") == 0, "/register --typelib none");
  for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
    Check(!TypeLibraryKey(view, L""), "--typelib none left a type library for " + Bitness(view) + " clients");
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && std::wstring(argv[1]) == L"--leaking-client") return LeakingClient();
  g_server = argc > 2 && std::wstring(argv[1]) == L"--server" ? argv[2] : Beside(L"office_standin.exe");
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  RunningWord();
  StartedWord();
  QuitWithReferenceHeld();
  ClientEndsHoldingReferences();
  TypeLibraryForBothBitnesses();
  BadScenarioAndUnregister();
  CoUninitialize();
  std::printf(failures == 0 ? "standin_smoke: all checks passed\n" : "standin_smoke: %d checks failed\n", failures);
  return failures == 0 ? 0 : 1;
}
