// A Windows-side check of office_standin.exe's IDispatch contract, run under Wine by CTest: what the
// end-to-end tests never see, because Corvix makes no such mistake. It serves a running Word, makes the
// calls a careless client would and checks each answer, the journal and the final state. Every wait has
// a limit; the files are read once the server has ended, when they are whole.
#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "base/hex.h"
#include "platform/win32/module_path.h"
#include "standin/server/utf8.h"
#include "tests/win32/check.h"

namespace {

using corvix::win32::testing::Check;

void Expect(HRESULT expected, HRESULT actual, const std::string& what) {
  Check(expected == actual, (what + ": " + corvix::win32::Utf8(corvix::Hex(static_cast<std::uint32_t>(actual))) +
                             ", not " + corvix::win32::Utf8(corvix::Hex(static_cast<std::uint32_t>(expected))))
                                .c_str());
}

void ExpectText(const std::string& expected, const std::string& actual, const char* file) {
  Check(expected == actual, (std::string(file) + " is\n" + actual + "\nnot\n" + expected).c_str());
}

std::wstring Folder(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

// A fresh state directory under %TEMP%.
std::wstring MakeStateDir() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring dir = std::wstring(temp) + L"standin_smoke_" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(dir.c_str(), nullptr);
  for (const wchar_t* name : {L"journal.txt", L"getidsofnames.txt", L"state.txt", L"ready", L"stop", L"error.txt"})
    DeleteFileW((dir + L"\\" + name).c_str());
  return dir;
}

std::string ReadText(const std::wstring& path) {
  std::string out;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return out;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
  CloseHandle(file);
  return out;
}

void WriteText(const std::wstring& path, const std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

HANDLE Start(const std::wstring& server, const std::wstring& args) {
  std::wstring command = L"\"" + server + L"\" " + args;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return nullptr;
  CloseHandle(process.hThread);
  return process.hProcess;
}

// The exit code, or -1 when the process did not end within `ms` (it is then ended).
int Finish(HANDLE process, DWORD ms) {
  if (process == nullptr) return -2;
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process, ms) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process, &code);
  } else {
    TerminateProcess(process, static_cast<UINT>(-1));
  }
  CloseHandle(process);
  return static_cast<int>(code);
}

// One call by name; arguments first first. The arguments' strings are freed.
struct Call {
  HRESULT hr = E_FAIL;
  VARIANT value;
  EXCEPINFO exception{};

  Call(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> args = {}) {
    VariantInit(&value);
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    hr = object != nullptr ? object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id) : E_POINTER;
    if (SUCCEEDED(hr)) {
      std::vector<VARIANT> reversed(args.rbegin(), args.rend());
      DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
      hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &value, &exception, nullptr);
    }
    for (VARIANT& arg : args) VariantClear(&arg);
  }
  ~Call() {
    VariantClear(&value);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  // The object answered, with a reference of the caller's own.
  IDispatch* Take() {
    if (hr != S_OK || value.vt != VT_DISPATCH || value.pdispVal == nullptr) return nullptr;
    IDispatch* object = value.pdispVal;
    value.vt = VT_EMPTY;
    return object;
  }
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

IDispatch* Get(IDispatch* object, const wchar_t* name, std::vector<VARIANT> args = {}) {
  Call call(object, name, DISPATCH_PROPERTYGET, std::move(args));
  Expect(S_OK, call.hr, "get " + corvix::win32::Utf8(name));
  return call.Take();
}

void Release(IDispatch*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

// The calls a careless client makes, on a Word found in the running object table. Returns the bar's controls,
// still held.
IDispatch* Misuse(IDispatch* word) {
  // Names are case-insensitive; the model sees its own spelling.
  IDispatch* bars = Get(word, L"commandBARS");
  IDispatch* bar = Get(bars, L"Item", {Text(L"Merrowin Software")});
  IDispatch* controls = Get(bar, L"Controls");
  {
    // An object's own failure is an exception with its code, its description and the stand-in as source.
    Call missing(bars, L"Item", DISPATCH_PROPERTYGET, {Text(L"No Such Bar")});
    Expect(DISP_E_EXCEPTION, missing.hr, "Item of a missing bar");
    Expect(E_INVALIDARG, missing.exception.scode, "its exception's code");
    Check(missing.exception.bstrDescription != nullptr &&
              wcsstr(missing.exception.bstrDescription, L"No Such Bar") != nullptr,
          "the exception names the missing bar");
    Check(missing.exception.bstrSource != nullptr && wcscmp(missing.exception.bstrSource, L"standin") == 0,
          "the exception's source is the stand-in");
  }
  // Dispatch errors come back as they are.
  Expect(DISP_E_BADPARAMCOUNT, Call(bars, L"Item", DISPATCH_PROPERTYGET).hr, "Item without an argument");
  Expect(DISP_E_MEMBERNOTFOUND, Call(controls, L"Count", DISPATCH_METHOD).hr, "Count called as a method");
  Expect(DISP_E_UNKNOWNNAME, Call(bar, L"Count", DISPATCH_PROPERTYGET).hr, "Count of a bar, which has none");
  {
    // One of the server's own objects passed back to it arrives as that object.
    VARIANT self;
    self.vt = VT_DISPATCH;
    self.pdispVal = bar;
    bar->AddRef();
    Expect(DISP_E_TYPEMISMATCH, Call(bars, L"Item", DISPATCH_PROPERTYGET, {self}).hr, "Item(a bar)");
  }
  {
    // A scenario's fault: the server "threw".
    IDispatch* more = Get(controls, L"Item", {Number(2)});
    Expect(RPC_E_SERVERFAULT, Call(more, L"Caption", DISPATCH_PROPERTYGET).hr, "an injected fault");
    Release(more);
  }
  {
    // Setting a property is refused, and journaled with the value.
    DISPID visible = DISPID_UNKNOWN;
    LPOLESTR name[] = {const_cast<LPOLESTR>(L"Visible")};
    VARIANT value;
    value.vt = VT_BOOL;
    value.boolVal = VARIANT_TRUE;
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &put, 1, 1};
    HRESULT set = word->GetIDsOfNames(IID_NULL, name, 1, LOCALE_USER_DEFAULT, &visible);
    if (SUCCEEDED(set))
      set = word->Invoke(visible, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                         nullptr);
    Expect(DISP_E_MEMBERNOTFOUND, set, "Visible = True");
  }
  Release(bar);
  Release(bars);
  return controls;
}

const char kScenario[] =
    "word running\n"
    "  bar \"Merrowin Software\"\n"
    "    button \"Find\" parameter \"merrowin.find\"\n"
    "    popup \"More\"\n"
    "fail Caption on \"popup 'More'\"\n";

}  // namespace

int wmain() {
  const std::wstring server = Folder(corvix::win32::ModulePath()) + L"\\office_standin.exe";
  const std::wstring dir = MakeStateDir();
  const std::wstring state = L"--state \"" + dir + L"\"";
  WriteText(dir + L"\\scenario.txt", "word running\n  bar Unquoted\n");
  Check(Finish(Start(server, L"/register " + state), 30000) == 2, "/register of a bad scenario exits with 2");
  Check(ReadText(dir + L"\\error.txt").find("line 2") != std::string::npos, "error.txt names the bad line");

  WriteText(dir + L"\\scenario.txt", kScenario);
  Check(Finish(Start(server, L"/register " + state), 30000) == 0, "/register");
  HANDLE running = Start(server, state + L" --running --timeout 60");
  for (int waited = 0; waited < 20000 && !Exists(dir + L"\\ready"); waited += 50) Sleep(50);
  Check(Exists(dir + L"\\ready"), "the running server got ready");

  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  CLSID clsid{};
  IUnknown* found = nullptr;
  IDispatch* word = nullptr;
  if (SUCCEEDED(CLSIDFromProgID(L"Word.Application", &clsid)) && SUCCEEDED(GetActiveObject(clsid, nullptr, &found)))
    found->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&word));
  if (found != nullptr) found->Release();
  Check(word != nullptr, "Word is in the running object table");
  IDispatch* controls = nullptr;
  if (word != nullptr) controls = Misuse(word);
  Release(word);
  // `controls` is still held when the server stops: its final state counts it.
  WriteText(dir + L"\\stop", "");
  Check(Finish(running, 20000) == 0, "the running server stopped cleanly");
  Release(controls);
  CoUninitialize();
  Finish(Start(server, L"/unregister"), 30000);

  ExpectText(
      "1 ROT.GetActiveObject(\"Word.Application\") -> attached\n"
      "2 Word.CommandBars() -> Word bars\n"
      "3 Word bars.Item(BSTR \"Merrowin Software\") -> bar 'Merrowin Software'\n"
      "4 bar 'Merrowin Software'.Controls() -> controls of 'Merrowin Software'\n"
      "5 Word bars.Item(BSTR \"No Such Bar\") -> failed 0x80070057 no bar named No Such Bar\n"
      "6 Word bars.Item() -> failed 0x8002000E wrong argument count\n"
      "7 controls of 'Merrowin Software'.Count() -> failed 0x80020003 a property, not a method\n"
      "8 Word bars.Item(bar 'Merrowin Software') -> failed 0x80020005 Index must be a bar name\n"
      "9 controls of 'Merrowin Software'.Item(I4 2) -> popup 'More'\n"
      "10 popup 'More'.Caption() -> failed 0x80010105 injected failure\n"
      "11 Word.Visible = BOOL true -> failed 0x80020003 a property that cannot be set\n",
      ReadText(dir + L"\\journal.txt"), "journal.txt");
  const std::string names = ReadText(dir + L"\\getidsofnames.txt");
  Check(names.find("1 Word.GetIDsOfNames(\"commandBARS\") -> DISPID 267\n") == 0, "the first lookup, by any case");
  Check(names.find("bar 'Merrowin Software'.GetIDsOfNames(\"Count\") -> failed 0x80020006\n") != std::string::npos,
        "the refused lookup is in getidsofnames.txt");
  const std::string finalState = ReadText(dir + L"\\state.txt");
  Check(finalState.find("references held: 1\n") != std::string::npos, "state.txt counts the one reference still held");
  return corvix::win32::testing::Finish();
}
