// The stand-in Word's application object.
#include "standin/model/word_model.h"

namespace standin {

namespace {

// Word's open documents: their number only.
class DocumentsNode : public Node {
 public:
  DocumentsNode(Office& office, const std::vector<std::wstring>& documents) : Node(office), documents_(documents) {}
  std::wstring TypeName() const override { return L"Documents"; }
  std::wstring Label() const override { return L"Documents"; }
  Reply Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) override {
    if (member != L"Count") return NoMember(member);
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    return Reply::Ok(static_cast<std::int32_t>(documents_.size()));
  }

 private:
  const std::vector<std::wstring>& documents_;
};

}  // namespace

WordApplicationNode::WordApplicationNode(Office& office, Application& app)
    : Node(office), app_(app), bars_(std::make_shared<CommandBarsNode>(office, L"Word")) {
  documentsNode_ = std::make_shared<DocumentsNode>(office, documents_);
}

std::wstring WordApplicationNode::StateText(const std::wstring& indent) const {
  std::wstring out;
  for (const auto& document : documents_) out += indent + L"document '" + document + L"' open\n";
  return out + bars_->StateText(indent);
}

Reply WordApplicationNode::Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) {
  if (member == L"CommandBars") {
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    return Reply::Ok(NodeRef(bars_));
  }
  if (member == L"Documents") {
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    return Reply::Ok(documentsNode_);
  }
  if (member == L"Visible") {
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    return Reply::Ok(app_.visible);
  }
  if (member == L"Name") {
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    return Reply::Ok(std::wstring(L"Microsoft Word"));
  }
  if (member == L"Quit") {
    // Quit(SaveChanges, OriginalFormat, RouteDocument), all optional.
    if (auto bad = CheckCall(flags, kMethod, args, 0, 3)) return *bad;
    std::optional<bool> saveChanges;
    if (!args.empty()) {
      if (const auto* save = std::get_if<bool>(&args[0])) {
        saveChanges = *save;
      } else if (!std::holds_alternative<Missing>(args[0])) {
        return Reply::Fail(status::kTypeMismatch, L"SaveChanges must be a Boolean");
      }
    }
    office_.NoteQuit(app_, saveChanges);
    return Reply::Ok();
  }
  return NoMember(member);
}

}  // namespace standin
