// The stand-in Word's application object.
#include "standin/model/word_model.h"

namespace standin {

WordApplicationNode::WordApplicationNode(Office& office, Application& app)
    : Node(office), app_(app), bars_(std::make_shared<CommandBarsNode>(office, L"Word")) {
  // Word's open documents: their number only.
  documentsNode_ = std::make_shared<CountNode>(office, L"Documents",
                                               [this] { return static_cast<std::int32_t>(documents_.size()); });
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
