// The in-process way into the stand-in Office. Each reference it hands out is counted by the model.
#include "standin/memory/memory_automation.h"

namespace standin {

namespace {

class MemoryDispatch : public corvix::Dispatch {
 public:
  MemoryDispatch(Office& office, NodeRef node) : office_(office), node_(std::move(node)) { office_.Retain(node_); }
  ~MemoryDispatch() override { office_.Release(*node_); }
  MemoryDispatch(const MemoryDispatch&) = delete;
  MemoryDispatch& operator=(const MemoryDispatch&) = delete;

  corvix::CallResult Get(const corvix::Interface&, std::wstring_view member,
                         const std::vector<corvix::Arg>& args) override {
    return Invoke(member, kGet, args);
  }
  corvix::CallResult Call(const corvix::Interface&, std::wstring_view member,
                          const std::vector<corvix::Arg>& args) override {
    return Invoke(member, kMethod, args);
  }
  corvix::CallResult Put(const corvix::Interface&, std::wstring_view member, const corvix::Arg& value) override {
    return Invoke(member, kPut, {value});
  }
  corvix::CallResult CallDefault(const std::vector<corvix::Arg>& args) override {
    return Invoke({}, kMethod | kGet, args);
  }

  const NodeRef& node() const { return node_; }

 private:
  corvix::CallResult Invoke(std::wstring_view member, unsigned flags, const std::vector<corvix::Arg>& args);

  Office& office_;
  NodeRef node_;
};

Value ToValue(const corvix::Arg& arg) {
  struct Visitor {
    Value operator()(corvix::Omitted) const { return Missing{}; }
    Value operator()(bool b) const { return b; }
    Value operator()(std::int16_t i) const { return i; }
    Value operator()(std::int32_t i) const { return i; }
    Value operator()(const std::wstring& s) const { return s; }
    Value operator()(const corvix::Object* object) const {
      const auto* backend = object ? dynamic_cast<const MemoryDispatch*>(object->backend()) : nullptr;
      return backend ? Value(backend->node()) : Value();
    }
  };
  return std::visit(Visitor{}, arg);
}

corvix::CallResult MemoryDispatch::Invoke(std::wstring_view member, unsigned flags,
                                          const std::vector<corvix::Arg>& args) {
  std::vector<Value> values;
  values.reserve(args.size());
  for (const auto& arg : args) values.push_back(ToValue(arg));
  Reply reply = office_.Invoke(*node_, member, flags, values);
  if (!reply.ok()) return corvix::CallResult::Failed(reply.status, reply.description);

  struct Visitor {
    Office& office;
    corvix::CallResult operator()(std::monostate) const { return {}; }
    corvix::CallResult operator()(Missing) const { return {}; }
    corvix::CallResult operator()(bool b) const { return corvix::CallResult(b); }
    corvix::CallResult operator()(std::int16_t i) const { return corvix::CallResult(i); }
    corvix::CallResult operator()(std::int32_t i) const { return corvix::CallResult(i); }
    corvix::CallResult operator()(const std::wstring& s) const { return corvix::CallResult(s); }
    corvix::CallResult operator()(const NodeRef& node) const {
      if (!node) return {};
      static constexpr corvix::Interface kDispatch{L"IDispatch"};
      return corvix::CallResult(
          std::make_unique<corvix::Object>(std::make_unique<MemoryDispatch>(office, node), kDispatch));
    }
  };
  return std::visit(Visitor{office_}, reply.value);
}

// What COM answers when nothing of the class is in the running object table (MK_E_UNAVAILABLE), and when
// the class cannot be started (REGDB_E_CLASSNOTREG: the model does not tell "not installed" from "broken").
constexpr std::int32_t kNotRunning = static_cast<std::int32_t>(0x800401E3);
constexpr std::int32_t kCannotStart = static_cast<std::int32_t>(0x80040154);
}  // namespace

corvix::Found<corvix::Object> MemoryAutomation::Attach(std::wstring_view progId, const corvix::Interface& type) {
  NodeRef app = office_.Attach(progId);
  if (!app) return {{}, {kNotRunning, {}}};
  return {corvix::Object(std::make_unique<MemoryDispatch>(office_, app), type), {}};
}

corvix::Found<corvix::Object> MemoryAutomation::Start(std::wstring_view progId, const corvix::Interface& type) {
  NodeRef app = office_.Start(progId);
  if (!app) return {{}, {kCannotStart, {}}};
  return {corvix::Object(std::make_unique<MemoryDispatch>(office_, app), type), {}};
}

namespace {

// A file of the test's, read from a copy of its bytes.
class MemoryFile final : public corvix::ReadableFile {
 public:
  explicit MemoryFile(std::string bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  bool Read(std::uint64_t offset, void* into, std::size_t count) override {
    if (offset > bytes_.size() || count > bytes_.size() - offset) return false;
    bytes_.copy(static_cast<char*>(into), count, static_cast<std::size_t>(offset));
    return true;
  }

 private:
  std::string bytes_;
};

// ERROR_FILE_NOT_FOUND as an HRESULT.
constexpr std::int32_t kFileNotFound = static_cast<std::int32_t>(0x80070002);

}  // namespace

std::unique_ptr<corvix::ReadableFile> MemoryAutomation::OpenForReading(std::wstring_view path,
                                                                       corvix::Outcome& outcome) {
  const auto file = files.find(path);
  if (file == files.end()) {
    outcome = {kFileNotFound, L"no such file"};
    return nullptr;
  }
  outcome = {};
  return std::make_unique<MemoryFile>(file->second);
}

corvix::UserRegistryValue MemoryAutomation::ReadUserRegistryValue(std::wstring_view key, std::wstring_view name) {
  if (const auto value = userRegistry.find(std::wstring(key) + L"\\" + std::wstring(name));
      value != userRegistry.end()) {
    return {corvix::UserRegistryValue::State::kRead, value->second};
  }
  const auto text = office_.UserRegistryValueOf(key, name);
  if (!text) return {};
  return {corvix::UserRegistryValue::State::kRead, *text};
}

}  // namespace standin
