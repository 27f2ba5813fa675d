// The stand-in Word's application object.
#include "standin/model/word_model.h"

namespace standin {

namespace {

bool BarHolds(const BarNode& bar, const Node& node) {
  if (&bar == &node) return true;
  for (const auto& control : bar.controls()) {
    if (control.get() == &node || (control->submenu() && BarHolds(*control->submenu(), node))) return true;
  }
  return false;
}

}  // namespace

Reply TemplateNode::Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) {
  if (member == L"Saved") {
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    return Reply::Ok(saved_);
  }
  if (member == L"Save") {
    if (auto bad = CheckCall(flags, kMethod, args, 0, 0)) return *bad;
    ++saves_;
    saved_ = true;
    return Reply::Ok();
  }
  return NoMember(member);
}

WordApplicationNode::WordApplicationNode(Office& office, Application& app)
    : Node(office),
      app_(app),
      bars_(std::make_shared<CommandBarsNode>(office, L"Word")),
      normal_(std::make_shared<TemplateNode>(office)) {
  // Word's open documents: their number only.
  documentsNode_ = std::make_shared<CountNode>(office, L"Documents",
                                               [this] { return static_cast<std::int32_t>(documents_.size()); });
}

bool WordApplicationNode::Holds(const Node& node) const {
  for (const auto& bar : bars_->bars()) {
    if (BarHolds(*bar, node)) return true;
  }
  return false;
}

std::wstring WordApplicationNode::StateText(const std::wstring& indent) const {
  std::wstring out;
  for (const auto& document : documents_) out += indent + L"document '" + document + L"' open\n";
  out += bars_->StateText(indent);
  // Only a Normal template that changed, or was saved, is worth a line.
  if (!normal_->saved() || normal_->saves() > 0) {
    out += indent + L"normal template: saved " + (normal_->saved() ? L"yes" : L"no") + L", Save called " +
           std::to_wstring(normal_->saves()) + L" times\n";
  }
  return out;
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
  if (member == L"NormalTemplate") {
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    return Reply::Ok(NodeRef(normal_));
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
    // Saving on the way out stores the Normal template too.
    if (saveChanges == true) normal_->set_saved(true);
    office_.NoteQuit(app_, saveChanges);
    return Reply::Ok();
  }
  return NoMember(member);
}

}  // namespace standin
