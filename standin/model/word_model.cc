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
  if (member == L"Name") {
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    return Reply::Ok(name_);
  }
  if (member == L"FullName") {
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    return Reply::Ok(office_.FilePath(file_));
  }
  if (member == L"Save") {
    if (auto bad = CheckCall(flags, kMethod, args, 0, 0)) return *bad;
    if (!office_.IsWritableFile(office_.FilePath(file_))) {
      // Word cannot write the file (read-only, or gone): with its alerts on it asks the user (a message, or
      // Save As), and the call waits for that answer; with DisplayAlerts at wdAlertsNone the call fails.
      if (word_.display_alerts() != 0) return Reply::Fail(status::kHung, L"");
      return Reply::Fail(status::kWordCommandFailed, L"This file is read-only.");
    }
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
      normal_(std::make_shared<TemplateNode>(office, *this, L"Normal.dotm")),
      context_(normal_),
      initialContext_(normal_) {
  // Word's open documents: their number only.
  documentsNode_ = std::make_shared<CountNode>(office, L"Documents",
                                               [this] { return static_cast<std::int32_t>(documents_.size()); });
  office.SetFile(normal_->file(), true, false);
}

TemplateNode& WordApplicationNode::AddTemplate(std::wstring name, bool context) {
  auto added = std::make_shared<TemplateNode>(office_, *this, std::move(name));
  office_.SetFile(added->file(), true, false);
  templates_.push_back(added);
  if (context) context_ = initialContext_ = added;
  return *added;
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
  // Only a template that changed, or was saved, is worth a line; and only settings a client left changed.
  std::vector<const TemplateNode*> all{normal_.get()};
  for (const auto& other : templates_) all.push_back(other.get());
  for (const TemplateNode* kept : all) {
    if (kept->saved() && kept->saves() == 0) continue;
    const std::wstring name = kept == normal_.get() ? L"normal template" : kept->Label();
    out += indent + name + L": saved " + (kept->saved() ? L"yes" : L"no") + L", Save called " +
           std::to_wstring(kept->saves()) + L" times\n";
  }
  if (displayAlerts_ != initialAlerts_) {
    out += indent + L"display alerts left at " + std::to_wstring(displayAlerts_) + L" (was " +
           std::to_wstring(initialAlerts_) + L")\n";
  }
  if (context_ != initialContext_) {
    out +=
        indent + L"customization context left at " + context_->Label() + L" (was " + initialContext_->Label() + L")\n";
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
  if (member == L"DisplayAlerts") {
    if (flags & kPut) {
      if (auto bad = CheckCall(flags, kPut, args, 1, 1)) return *bad;
      if (const auto* value = std::get_if<std::int32_t>(&args[0])) {
        displayAlerts_ = *value;
      } else if (const auto* small = std::get_if<std::int16_t>(&args[0])) {
        displayAlerts_ = *small;
      } else {
        return Reply::Fail(status::kTypeMismatch, L"DisplayAlerts takes a WdAlertLevel");
      }
      return Reply::Ok();
    }
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    return Reply::Ok(displayAlerts_);
  }
  if (member == L"CustomizationContext") {
    if (flags & kPut) {
      if (auto bad = CheckCall(flags, kPut, args, 1, 1)) return *bad;
      // Only a template of this Word's (the model has no documents to set it to).
      const auto* node = std::get_if<NodeRef>(&args[0]);
      std::shared_ptr<TemplateNode> target;
      if (node != nullptr && *node == normal_) target = normal_;
      for (const auto& other : templates_) {
        if (node != nullptr && *node == other) target = other;
      }
      if (!target) return Reply::Fail(status::kTypeMismatch, L"CustomizationContext takes a template");
      context_ = target;
      return Reply::Ok();
    }
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    return Reply::Ok(NodeRef(context_));
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
