// The stand-in Office: an in-memory model of Office applications, their command bars and controls, which
// both ways in (in-process and the COM server) call through Office::Invoke. See standin/README.md.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace standin {

class Node;
using NodeRef = std::shared_ptr<Node>;

// An argument left out of a call (VT_ERROR with DISP_E_PARAMNOTFOUND over COM).
struct Missing {};

using Value = std::variant<std::monostate, Missing, bool, std::int16_t, std::int32_t, std::wstring, NodeRef>;

// How a member is invoked: bits as in IDispatch::Invoke's wFlags.
// A property put passes the value as its one argument.
enum InvokeFlags : unsigned { kMethod = 1, kGet = 2, kPut = 4 };

// Status codes, as HRESULTs.
namespace status {
inline constexpr std::int32_t kOk = 0;
inline constexpr std::int32_t kFail = static_cast<std::int32_t>(0x80004005);
inline constexpr std::int32_t kInvalidArg = static_cast<std::int32_t>(0x80070057);
inline constexpr std::int32_t kUnknownName = static_cast<std::int32_t>(0x80020006);
inline constexpr std::int32_t kMemberNotFound = static_cast<std::int32_t>(0x80020003);
inline constexpr std::int32_t kTypeMismatch = static_cast<std::int32_t>(0x80020005);
inline constexpr std::int32_t kBadParamCount = static_cast<std::int32_t>(0x8002000E);
// What an injected fault answers: the server threw an exception.
inline constexpr std::int32_t kInjected = static_cast<std::int32_t>(0x80010105);
// A call that gets no answer (journaled as "hung"); should the server ever end the wait, the call fails
// with this code (RPC_E_TIMEOUT).
inline constexpr std::int32_t kHung = static_cast<std::int32_t>(0x8001011F);
// A busy application's refusals of incoming calls: RPC_E_CALL_REJECTED, RPC_E_SERVERCALL_RETRYLATER.
inline constexpr std::int32_t kCallRejected = static_cast<std::int32_t>(0x80010001);
inline constexpr std::int32_t kRetryLater = static_cast<std::int32_t>(0x8001010A);
// Word's own run-time error 4198, "Command failed", as automation gets it (FACILITY_CONTROL).
inline constexpr std::int32_t kWordCommandFailed = static_cast<std::int32_t>(0x800A1066);
}  // namespace status

struct Reply {
  std::int32_t status = status::kOk;
  Value value;
  std::wstring description;

  static Reply Ok(Value value = {}) { return Reply{status::kOk, std::move(value), {}}; }
  static Reply Fail(std::int32_t code, std::wstring description) { return Reply{code, {}, std::move(description)}; }
  bool ok() const { return status >= 0; }
};

// Text forms used by the journal: "I4 4", "BSTR \"&Tools\"", "BOOL true", "missing", "bar 'X'".
std::wstring Describe(const Value& value);

// One call the model received.
struct JournalEntry {
  std::wstring target;             // label of the object called, e.g. "bar 'Merrowin Software'"
  std::wstring member;             // member name, "(default)" for the default member
  std::vector<std::wstring> args;  // Describe() of each argument
  std::int32_t status = 0;
  std::wstring result;  // Describe() of the result, or the failure's description
  bool put = false;     // a property put, of args[0]

  // "bar 'X'.Delete() -> ok", "controls of 'X'.Item(I4 3) -> button 'Find'", "... -> failed 0x80070057 ...";
  // a property put: "Word.DisplayAlerts = I4 0 -> nothing"
  std::wstring ToString() const;
};

class Office;

// One automation object of the model.
class Node : public std::enable_shared_from_this<Node> {
 public:
  explicit Node(Office& office) : office_(office) {}
  virtual ~Node() = default;
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  // The object's type, e.g. "CommandBar", and a label that names this object in the journal.
  virtual std::wstring TypeName() const = 0;
  virtual std::wstring Label() const = 0;
  // Answers a call; `member` is empty for the default member. Called by Office::Invoke only.
  virtual Reply Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) = 0;
  // The readable state of what the object holds (an application's bars), indented by `indent`.
  virtual std::wstring StateText(const std::wstring& /*indent*/) const { return {}; }

 protected:
  Office& office_;
};

// A fault to inject: the matching call fails with status::kInjected and has no effect; or, a hang, gets no
// answer at all (status::kHung): it is journaled, and the COM server then leaves it waiting.
struct Fault {
  std::wstring member;  // member name; empty with callNumber
  std::wstring target;  // substring of the target's label; empty matches any object
  int nth = 0;          // fail only the nth matching call (1-based); 0 fails every matching call
  int callNumber = 0;   // fail the call with this number in the journal (1-based), whatever it is
  bool hang = false;    // the call gets no answer instead of failing
};

// How a busy Office answers an incoming call before any object sees it (IMessageFilter::HandleInComingCall).
enum class Admission { kHandled, kRetryLater, kRejected };

// The state of one application in the model.
struct Application {
  std::wstring name;    // "word"
  std::wstring progId;  // "Word.Application"
  bool installed = false;
  bool running = false;  // already running before the client came
  // A running application is in the running object table, unless it is not there (yet): then attaching
  // fails, but its class object serves every start (multiple use), which reaches this instance.
  bool listed = true;
  std::wstring windowClass;  // the class of its main window: "OpusApp", "rctrl_renwnd32"
  bool mainWindow = false;   // a running application shows its main window (a top-level window)
  std::wstring imageName;    // its program file, as a process snapshot names it: "WINWORD.EXE", "OUTLOOK.EXE"
  bool process = false;      // a running application's process is seen by that name in the client's session
  std::optional<std::uint32_t> currentVersion;     // the version its ProgID's CurVer names, when it names one
  std::optional<std::uint32_t> serverFileVersion;  // the major file version of its local server, when it has one
  bool serverInOtherView = false;                  // its class is registered in the other registry view only
  bool started = false;                            // started by a client
  int quitCount = 0;
  std::optional<bool> savedOnQuit;  // SaveChanges of the first Quit
  bool visible = false;
  NodeRef object;  // the application object
};

class Office {
 public:
  Office();
  ~Office();
  Office(const Office&) = delete;
  Office& operator=(const Office&) = delete;

  // Builds the model from a scenario text. On a syntax error returns null and sets `error`.
  static std::unique_ptr<Office> FromScenario(std::string_view text, std::string* error);

  // The application with this programmatic identifier, or null when it is not installed.
  Application* Find(std::wstring_view progId);
  const std::vector<std::unique_ptr<Application>>& Applications() const { return apps_; }

  // Attaching to a running instance: its application object, or null when it is not running (or not in the
  // running object table).
  NodeRef Attach(std::wstring_view progId);
  // Whether a running application shows a main window of this class. Not a call: nothing is journaled.
  bool HasTopLevelWindow(std::wstring_view windowClass) const;
  // Whether a running application's process of this program file name runs in the client's session. Not a
  // call: nothing is journaled.
  bool HasProcessInSession(std::wstring_view imageName) const;
  // The versioned ProgID that the application's CurVer names ("Outlook.Application.16"), empty when none;
  // and its server's major file version. Registry readings, not calls: nothing is journaled.
  std::wstring CurrentVersionOf(std::wstring_view progId);
  std::optional<std::uint32_t> ServerFileVersion(std::wstring_view progId);
  // A document that a user opens in Word once call number `afterCall` (or the first call to `afterMember`)
  // has been answered; with neither, Word holds it from the start.
  void AddDocument(std::wstring name, int afterCall, std::wstring afterMember);
  // Starting an instance: its application object, or null when it is not installed.
  NodeRef Start(std::wstring_view progId);

  // Every call goes through here: it is numbered, checked against the faults, answered and journaled.
  Reply Invoke(Node& target, std::wstring_view member, unsigned flags, const std::vector<Value>& args);
  // Records a call that a way in rejected before the model could answer it (an argument it cannot
  // convert, for instance). It takes the next call number, as any call does, but no fault applies to it.
  void Note(JournalEntry entry) { journal_.push_back(std::move(entry)); }

  void AddFault(Fault fault) { faults_.push_back(std::move(fault)); }
  // Whether the call journaled last is one that is to get no answer; asking clears it.
  bool TakeHang() {
    const bool hung = hangPending_;
    hangPending_ = false;
    return hung;
  }
  // The application (by name, "word") whose class a COM-started server never registers: its start never
  // completes.
  void HangStart(std::wstring name) { startHangs_.push_back(std::move(name)); }
  bool HangsOnStart(const Application& app) const;

  // Office is busy for the next `calls` incoming calls: each is refused, as retry-later or as rejected.
  void SetBusy(int calls, Admission refusal) {
    busyCalls_ = calls;
    busyRefusal_ = refusal;
  }
  // An incoming call on `target` (an object's label) through `member` (e.g. "IDispatch::Invoke"): handled,
  // or refused while Office is still busy. Each refusal uses up one of the busy calls and is journaled,
  // taking the next call number (no fault applies to it).
  Admission AdmitCall(const std::wstring& target, const std::wstring& member);

  // How long the COM server takes over each call on the model's objects (a slow Office), in milliseconds.
  void SetCallDelay(int milliseconds) { callDelayMs_ = milliseconds; }
  int CallDelay() const { return callDelayMs_; }
  const std::vector<JournalEntry>& Journal() const { return journal_; }
  std::wstring JournalText() const;

  // References that clients hold: adapters count each reference they hand out and each they release.
  void Retain(const NodeRef& node);
  void Release(const Node& node);
  int HeldReferences() const;
  // Labels of the objects still held, with counts, for failure messages.
  std::wstring HeldText() const;

  // A readable dump of every application's state, its bars and controls.
  std::wstring StateText() const;

  // Called when an application is told to quit, with its SaveChanges (unset when omitted).
  void NoteQuit(Application& app, std::optional<bool> saveChanges);

  Application& AddApplication(std::wstring name, std::wstring progId);

  // The files the model's applications name (Word's templates), by the path a scenario gives them: one that
  // is not absolute is under the file root. Not calls: nothing is journaled.
  void SetFile(std::wstring path, bool exists, bool readOnly);
  // The root of the paths that are not absolute (the COM server's state directory); none in-process.
  void SetFileRoot(std::wstring root) { fileRoot_ = std::move(root); }
  // A scenario's path as the applications name it (FullName).
  std::wstring FilePath(const std::wstring& path) const;
  // Whether the file the applications name `path` exists and is not read-only.
  bool IsWritableFile(std::wstring_view path) const;
  struct File {
    std::wstring path;  // as the applications name it
    bool exists;
    bool readOnly;
  };
  std::vector<File> Files() const;

  // The user's settings that a client reads before it starts Outlook (its stored bars, its mail profile):
  // files under the user's roaming application data folder, and values of the user's registry (a key under
  // HKEY_CURRENT_USER). Not calls: nothing is journaled.
  static constexpr std::wstring_view kAppDataFolder = L"C:\\Users\\user\\AppData\\Roaming";
  void AddUserFile(std::wstring path) { userFiles_.push_back(std::move(path)); }
  bool IsUserFile(std::wstring_view path) const;
  void SetUserRegistryValue(const std::wstring& key, const std::wstring& name, std::wstring text) {
    userRegistry_[{key, name}] = std::move(text);
  }
  // The value's text; empty when the key or the value is not there.
  std::optional<std::wstring> UserRegistryValueOf(std::wstring_view key, std::wstring_view name) const;

 private:
  // The fault that applies to call `number`, or null.
  const Fault* MatchFault(const std::wstring& label, std::wstring_view member, int number);

  struct DocumentArrival {
    std::wstring name;
    int afterCall = 0;
    std::wstring afterMember;
  };
  // Opens the documents due after the call just journaled.
  void ArriveDocuments(int number, std::wstring_view member);
  // The user opens a document in Word.
  void OpenInWord(std::wstring name);

  std::vector<std::unique_ptr<Application>> apps_;
  std::vector<DocumentArrival> arrivals_;
  std::vector<Fault> faults_;
  bool hangPending_ = false;
  std::vector<std::wstring> startHangs_;
  int busyCalls_ = 0;
  Admission busyRefusal_ = Admission::kHandled;
  int callDelayMs_ = 0;
  std::map<std::pair<std::wstring, std::wstring>, int> matchCounts_;
  std::vector<JournalEntry> journal_;
  std::map<const Node*, std::pair<NodeRef, int>> held_;
  std::map<std::wstring, std::pair<bool, bool>> files_;  // scenario path: exists, read-only
  std::wstring fileRoot_;
  std::vector<std::wstring> userFiles_;
  std::map<std::pair<std::wstring, std::wstring>, std::wstring> userRegistry_;  // key, name: text
};

}  // namespace standin
