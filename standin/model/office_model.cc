// The stand-in Office's root: applications, the journal, injected faults and reference counts.
#include "standin/model/office_model.h"

#include <algorithm>
#include <cstdio>
#include <cwctype>

#include "base/hex.h"
#include "standin/model/outlook_model.h"
#include "standin/model/word_model.h"

namespace standin {

std::wstring Describe(const Value& value) {
  struct Visitor {
    std::wstring operator()(std::monostate) const { return L"nothing"; }
    std::wstring operator()(Missing) const { return L"missing"; }
    std::wstring operator()(bool b) const { return b ? L"BOOL true" : L"BOOL false"; }
    std::wstring operator()(std::int16_t i) const { return L"I2 " + std::to_wstring(i); }
    std::wstring operator()(std::int32_t i) const { return L"I4 " + std::to_wstring(i); }
    std::wstring operator()(const std::wstring& s) const { return L"BSTR \"" + s + L"\""; }
    std::wstring operator()(const NodeRef& node) const { return node ? node->Label() : L"nothing"; }
  };
  return std::visit(Visitor{}, value);
}

std::wstring JournalEntry::ToString() const {
  std::wstring out = target + L"." + member;
  if (put && args.size() == 1) {
    out += L" = " + args[0] + L" -> ";
  } else {
    out += L"(";
    for (size_t i = 0; i < args.size(); ++i) out += (i ? L", " : L"") + args[i];
    out += L") -> ";
  }
  out += status >= 0 ? result : status == status::kHung ? L"hung" : L"failed " + corvix::Hex(status) + L" " + result;
  return out;
}

Office::Office() = default;
Office::~Office() = default;

Application& Office::AddApplication(std::wstring name, std::wstring progId) {
  auto app = std::make_unique<Application>();
  app->name = std::move(name);
  app->progId = std::move(progId);
  app->installed = true;
  if (app->progId == L"Word.Application") {
    app->object = std::make_shared<WordApplicationNode>(*this, *app);
    app->windowClass = L"OpusApp";
    app->imageName = L"WINWORD.EXE";
  }
  if (app->progId == L"Outlook.Application") {
    app->object = std::make_shared<OutlookApplicationNode>(*this, *app);
    app->windowClass = L"rctrl_renwnd32";
    app->imageName = L"OUTLOOK.EXE";
  }
  apps_.push_back(std::move(app));
  return *apps_.back();
}

Application* Office::Find(std::wstring_view progId) {
  for (auto& app : apps_) {
    if (app->installed && app->progId == progId) return app.get();
  }
  return nullptr;
}

NodeRef Office::Attach(std::wstring_view progId) {
  Application* app = Find(progId);
  const bool found = app != nullptr && ((app->running && app->listed) || app->started) && app->quitCount == 0;
  // Only a hang applies to attaching: the client's first contact with the instance gets no answer.
  const Fault* fault = MatchFault(L"ROT", L"GetActiveObject", static_cast<int>(journal_.size()) + 1);
  if (fault != nullptr && fault->hang) {
    journal_.push_back({L"ROT", L"GetActiveObject", {L"\"" + std::wstring(progId) + L"\""}, status::kHung, L""});
    hangPending_ = true;
    return nullptr;
  }
  journal_.push_back({L"ROT",
                      L"GetActiveObject",
                      {L"\"" + std::wstring(progId) + L"\""},
                      found ? status::kOk : static_cast<std::int32_t>(0x800401E3),
                      found ? L"attached" : L"not running"});
  return found ? app->object : nullptr;
}

NodeRef Office::Start(std::wstring_view progId) {
  Application* app = Find(progId);
  journal_.push_back({L"COM",
                      L"CoCreateInstance",
                      {L"\"" + std::wstring(progId) + L"\""},
                      app ? status::kOk : static_cast<std::int32_t>(0x800401F3),
                      app ? L"started" : L"not registered"});
  if (app == nullptr) return nullptr;
  app->started = true;
  return app->object;
}

bool Office::HasTopLevelWindow(std::wstring_view windowClass) const {
  for (const auto& app : apps_) {
    if (app->running && app->mainWindow && app->quitCount == 0 && app->windowClass == windowClass) return true;
  }
  return false;
}

bool Office::HasProcessInSession(std::wstring_view imageName) const {
  auto same = [](std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      if (std::towupper(a[i]) != std::towupper(b[i])) return false;
    }
    return true;
  };
  for (const auto& app : apps_) {
    if (app->running && app->process && app->quitCount == 0 && same(app->imageName, imageName)) return true;
  }
  return false;
}

std::wstring Office::CurrentVersionOf(std::wstring_view progId) {
  const Application* app = Find(progId);
  if (app == nullptr || !app->currentVersion) return {};
  return app->progId + L"." + std::to_wstring(*app->currentVersion);
}

std::optional<std::uint32_t> Office::ServerFileVersion(std::wstring_view progId) {
  const Application* app = Find(progId);
  return app != nullptr ? app->serverFileVersion : std::nullopt;
}

void Office::AddDocument(std::wstring name, int afterCall, std::wstring afterMember) {
  if (afterCall == 0 && afterMember.empty()) {
    OpenInWord(std::move(name));
    return;
  }
  arrivals_.push_back({std::move(name), afterCall, std::move(afterMember)});
}

void Office::OpenInWord(std::wstring name) {
  for (auto& app : apps_) {
    if (app->progId == L"Word.Application") static_cast<WordApplicationNode&>(*app->object).OpenDocument(name);
  }
}

void Office::ArriveDocuments(int number, std::wstring_view member) {
  for (auto it = arrivals_.begin(); it != arrivals_.end();) {
    if (it->afterCall == number || (!it->afterMember.empty() && it->afterMember == member)) {
      OpenInWord(std::move(it->name));
      it = arrivals_.erase(it);
    } else {
      ++it;
    }
  }
}

const Fault* Office::MatchFault(const std::wstring& label, std::wstring_view member, int number) {
  for (const Fault& fault : faults_) {
    if (fault.callNumber != 0) {
      if (fault.callNumber == number) return &fault;
      continue;
    }
    if (fault.member != member) continue;
    if (!fault.target.empty() && label.find(fault.target) == std::wstring::npos) continue;
    if (fault.nth == 0) return &fault;
    int& seen = matchCounts_[{fault.member, fault.target}];
    if (++seen == fault.nth) return &fault;
  }
  return nullptr;
}

bool Office::HangsOnStart(const Application& app) const {
  for (const auto& name : startHangs_) {
    if (name == app.name) return true;
  }
  return false;
}

Reply Office::Invoke(Node& target, std::wstring_view member, unsigned flags, const std::vector<Value>& args) {
  const int number = static_cast<int>(journal_.size()) + 1;
  JournalEntry entry{target.Label(),     member.empty() ? L"(default)" : std::wstring(member), {}, 0, {},
                     (flags & kPut) != 0};
  for (const Value& arg : args) entry.args.push_back(Describe(arg));
  const Fault* fault = MatchFault(target.Label(), member.empty() ? L"(default)" : member, number);
  // A deletion among Word's bars changes the template its CustomizationContext names, where Word keeps them.
  WordApplicationNode* word = nullptr;
  if (member == L"Delete") {
    for (auto& app : apps_) {
      auto* node = dynamic_cast<WordApplicationNode*>(app->object.get());
      if (node != nullptr && node->Holds(target)) word = node;
    }
  }
  Reply reply = fault == nullptr ? target.Answer(member, flags, args)
                : fault->hang    ? Reply::Fail(status::kHung, L"")
                                 : Reply::Fail(status::kInjected, L"injected failure");
  if (word != nullptr && reply.ok()) word->context().set_saved(false);
  // An injected hang, or a call the model itself leaves without an answer (a dialog that Word shows).
  hangPending_ = reply.status == status::kHung;
  entry.status = reply.status;
  entry.result = reply.ok() ? Describe(reply.value) : reply.description;
  journal_.push_back(std::move(entry));
  ArriveDocuments(number, member);
  return reply;
}

Admission Office::AdmitCall(const std::wstring& target, const std::wstring& member) {
  if (busyCalls_ <= 0 || busyRefusal_ == Admission::kHandled) return Admission::kHandled;
  --busyCalls_;
  const bool later = busyRefusal_ == Admission::kRetryLater;
  journal_.push_back({target,
                      member,
                      {},
                      later ? status::kRetryLater : status::kCallRejected,
                      later ? L"busy: retry later" : L"busy: rejected"});
  return busyRefusal_;
}

std::wstring Office::JournalText() const {
  std::wstring out;
  for (size_t i = 0; i < journal_.size(); ++i) out += std::to_wstring(i + 1) + L" " + journal_[i].ToString() + L"\n";
  return out;
}

void Office::Retain(const NodeRef& node) {
  auto& slot = held_[node.get()];
  slot.first = node;
  ++slot.second;
}

void Office::Release(const Node& node) {
  auto it = held_.find(&node);
  if (it == held_.end()) return;
  if (--it->second.second == 0) held_.erase(it);
}

int Office::HeldReferences() const {
  int count = 0;
  for (const auto& [node, slot] : held_) count += slot.second;
  return count;
}

std::wstring Office::HeldText() const {
  std::wstring out;
  for (const auto& [node, slot] : held_) out += slot.first->Label() + L" x" + std::to_wstring(slot.second) + L"\n";
  return out;
}

void Office::NoteQuit(Application& app, std::optional<bool> saveChanges) {
  if (app.quitCount++ == 0) app.savedOnQuit = saveChanges;
}

std::wstring Office::StateText() const {
  std::wstring out;
  for (const auto& app : apps_) {
    out += app->name + L": running " +
           (app->running ? app->listed ? L"yes" : L"yes (not in the running object table)" : L"no") + L", started " +
           (app->started ? L"yes" : L"no") + L", quit " + std::to_wstring(app->quitCount) + L", saved " +
           (app->savedOnQuit.value_or(false) ? L"yes" : L"no") + L", visible " + (app->visible ? L"yes" : L"no") +
           L"\n";
    if (app->object) out += app->object->StateText(L"  ");
  }
  out += L"references held: " + std::to_wstring(HeldReferences()) + L"\n";
  return out;
}

void Office::SetFile(std::wstring path, bool exists, bool readOnly) { files_[std::move(path)] = {exists, readOnly}; }

std::wstring Office::FilePath(const std::wstring& path) const {
  const bool absolute = path.size() >= 2 && (path[1] == L':' || (path[0] == L'\\' && path[1] == L'\\'));
  if (absolute || fileRoot_.empty()) return path;
  return fileRoot_ + L"\\" + path;
}

bool Office::IsWritableFile(std::wstring_view path) const {
  for (const auto& [key, state] : files_) {
    if (FilePath(key) == path) return state.first && !state.second;
  }
  return false;
}

bool Office::IsUserFile(std::wstring_view path) const {
  return std::find(userFiles_.begin(), userFiles_.end(), path) != userFiles_.end();
}

std::optional<std::wstring> Office::UserRegistryValueOf(std::wstring_view key, std::wstring_view name) const {
  const auto found = userRegistry_.find({std::wstring(key), std::wstring(name)});
  if (found == userRegistry_.end()) return std::nullopt;
  return found->second;
}

std::vector<Office::File> Office::Files() const {
  std::vector<File> files;
  for (const auto& [key, state] : files_) files.push_back({FilePath(key), state.first, state.second});
  return files;
}

}  // namespace standin
