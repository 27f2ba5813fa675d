// The stand-in's command bars.
#include "standin/model/command_bar_model.h"

namespace standin {

namespace {

std::wstring Quoted(const std::wstring& text) { return L"'" + text + L"'"; }

Reply Deleted(const std::wstring& label) { return Reply::Fail(status::kFail, label + L" has been deleted"); }

}  // namespace

Reply NoMember(std::wstring_view member) {
  return Reply::Fail(status::kUnknownName, L"no member " + std::wstring(member));
}

Reply CountNode::Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) {
  if (member != L"Count") return NoMember(member);
  if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
  return Reply::Ok(count_());
}

std::optional<Reply> CheckCall(unsigned flags, unsigned wanted, const std::vector<Value>& args, size_t least,
                               size_t most) {
  if ((flags & wanted) == 0) {
    return Reply::Fail(status::kMemberNotFound, (flags & kPut) != 0 ? L"a property that cannot be set"
                                                : wanted == kGet    ? L"a property, not a method"
                                                                    : L"a method");
  }
  if (args.size() < least || args.size() > most) return Reply::Fail(status::kBadParamCount, L"wrong argument count");
  return std::nullopt;
}

// ---- controls

std::int32_t ControlNode::type() const {
  return kind_ == ControlKind::Button ? 1 : kind_ == ControlKind::Popup ? 10 : 4;
}

ControlNode::ControlNode(Office& office, ControlKind kind, std::wstring caption, std::wstring parameter)
    : Node(office), kind_(kind), caption_(std::move(caption)), parameter_(std::move(parameter)) {
  if (kind_ == ControlKind::Popup) submenu_ = std::make_shared<BarNode>(office, caption_);
}

std::wstring ControlNode::TypeName() const {
  switch (kind_) {
    case ControlKind::Button:
      return L"CommandBarButton";
    case ControlKind::Popup:
      return L"CommandBarPopup";
    case ControlKind::ComboBox:
      return L"CommandBarComboBox";
  }
  return L"CommandBarControl";
}

std::wstring ControlNode::Label() const {
  switch (kind_) {
    case ControlKind::Button:
      return L"button " + Quoted(caption_);
    case ControlKind::Popup:
      return L"popup " + Quoted(caption_);
    case ControlKind::ComboBox:
      return L"combobox " + Quoted(caption_);
  }
  return L"control " + Quoted(caption_);
}

Reply ControlNode::Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) {
  if (deleted_) return Deleted(Label());
  if (member == L"Caption" || member == L"Parameter" || member == L"Type" || member == L"Id") {
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    if (member == L"Caption") return Reply::Ok(caption_);
    if (member == L"Parameter") return Reply::Ok(parameter_);
    if (member == L"Id") return Reply::Ok(id_);
    return Reply::Ok(type());
  }
  if (member == L"Delete") {
    if (auto bad = CheckCall(flags, kMethod, args, 0, 1)) return *bad;
    if (args.size() == 1 && !std::holds_alternative<bool>(args[0]) && !std::holds_alternative<Missing>(args[0])) {
      return Reply::Fail(status::kTypeMismatch, L"Temporary must be a Boolean");
    }
    if (failingDelete_) return Reply::Fail(status::kFail, L"the control cannot be deleted");
    auto parent = parent_.lock();
    deleted_ = true;
    if (parent) parent->RemoveControl(*this);
    return Reply::Ok();
  }
  if (kind_ == ControlKind::Popup && (member == L"Controls" || member == L"CommandBar")) {
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    if (member == L"CommandBar") return Reply::Ok(NodeRef(submenu_));
    return submenu_->Answer(L"Controls", kGet, {});
  }
  return NoMember(member);
}

// ---- bars

BarNode::BarNode(Office& office, std::wstring name, std::wstring prefix)
    : Node(office), name_(std::move(name)), prefix_(std::move(prefix)) {}

std::wstring BarNode::Label() const { return prefix_ + L"bar " + Quoted(name_); }

std::shared_ptr<ControlNode> BarNode::AddControl(ControlKind kind, std::wstring caption, std::wstring parameter) {
  auto control = std::make_shared<ControlNode>(office_, kind, std::move(caption), std::move(parameter));
  control->set_parent(std::static_pointer_cast<BarNode>(shared_from_this()));
  controls_.push_back(control);
  return control;
}

std::shared_ptr<ControlNode> BarNode::Find(std::optional<std::int32_t> type, std::optional<std::int32_t> id,
                                           bool recursive) const {
  for (const auto& control : controls_) {
    if ((!type || *type == control->type()) && (!id || *id == control->id())) return control;
    if (recursive && control->submenu()) {
      if (auto inner = control->submenu()->Find(type, id, true)) return inner;
    }
  }
  return nullptr;
}

void BarNode::RemoveControl(const ControlNode& control) {
  for (auto it = controls_.begin(); it != controls_.end(); ++it) {
    if (it->get() == &control) {
      controls_.erase(it);
      return;
    }
  }
}

Reply BarNode::Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) {
  if (deleted_) return Deleted(Label());
  if (member == L"Controls") {
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    if (!controlsNode_) {
      controlsNode_ = std::make_shared<ControlsNode>(office_, std::static_pointer_cast<BarNode>(shared_from_this()));
    }
    return Reply::Ok(NodeRef(controlsNode_));
  }
  if (member == L"Name") {
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    return Reply::Ok(name_);
  }
  if (member == L"FindControl") {
    // FindControl(Type, Id, Tag, Visible, Recursive), all optional: the first control of this bar (and,
    // with Recursive, of its menus) that has the given Type and Id; Nothing when none has. Tag and
    // Visible are not modelled: given, they fail.
    if (auto bad = CheckCall(flags, kMethod, args, 0, 5)) return *bad;
    std::optional<std::int32_t> criteria[2];
    for (size_t i = 0; i < 2 && i < args.size(); ++i) {
      if (std::holds_alternative<Missing>(args[i])) continue;
      if (const auto* i4 = std::get_if<std::int32_t>(&args[i])) {
        criteria[i] = *i4;
      } else if (const auto* i2 = std::get_if<std::int16_t>(&args[i])) {
        criteria[i] = *i2;
      } else {
        return Reply::Fail(status::kTypeMismatch, i == 0 ? L"Type must be a number" : L"Id must be a number");
      }
    }
    for (size_t i = 2; i < 4 && i < args.size(); ++i) {
      if (!std::holds_alternative<Missing>(args[i]))
        return Reply::Fail(status::kInvalidArg, L"Tag and Visible are not modelled");
    }
    bool recursive = false;
    if (args.size() == 5 && !std::holds_alternative<Missing>(args[4])) {
      const auto* given = std::get_if<bool>(&args[4]);
      if (given == nullptr) return Reply::Fail(status::kTypeMismatch, L"Recursive must be a Boolean");
      recursive = *given;
    }
    if (auto found = Find(criteria[0], criteria[1], recursive)) return Reply::Ok(NodeRef(found));
    return Reply::Ok();  // Nothing
  }
  if (member == L"Delete") {
    if (auto bad = CheckCall(flags, kMethod, args, 0, 0)) return *bad;
    if (builtin_) return Reply::Fail(status::kFail, L"a built-in bar cannot be deleted");
    deleted_ = true;
    return Reply::Ok();
  }
  return NoMember(member);
}

// ---- a bar's controls

std::wstring ControlsNode::Label() const {
  auto bar = bar_.lock();
  return L"controls of " + (bar ? Quoted(bar->name()) : std::wstring(L"a gone bar"));
}

Reply ControlsNode::Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) {
  auto bar = bar_.lock();
  if (!bar || bar->deleted()) return Deleted(Label());
  const auto& controls = bar->controls();
  if (member == L"Count") {
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    return Reply::Ok(static_cast<std::int32_t>(controls.size()));
  }
  if (member == L"Item" || member.empty()) {
    if (auto bad = CheckCall(flags, kGet, args, 1, 1)) return *bad;
    if (const auto* caption = std::get_if<std::wstring>(&args[0])) {
      for (const auto& control : controls) {
        if (control->caption() == *caption) return Reply::Ok(NodeRef(control));
      }
      return Reply::Fail(status::kInvalidArg, L"no control with caption " + *caption);
    }
    std::int32_t position = 0;
    if (const auto* i4 = std::get_if<std::int32_t>(&args[0])) {
      position = *i4;
    } else if (const auto* i2 = std::get_if<std::int16_t>(&args[0])) {
      position = *i2;
    } else {
      return Reply::Fail(status::kTypeMismatch, L"Index must be a number or a caption");
    }
    if (position < 1 || static_cast<size_t>(position) > controls.size()) {
      return Reply::Fail(status::kInvalidArg, L"position out of range");
    }
    return Reply::Ok(NodeRef(controls[static_cast<size_t>(position) - 1]));
  }
  return NoMember(member);
}

// ---- all bars of a window

std::shared_ptr<BarNode> CommandBarsNode::AddBar(std::wstring name) {
  auto bar = std::make_shared<BarNode>(office_, std::move(name), barPrefix_);
  bars_.push_back(bar);
  return bar;
}

Reply CommandBarsNode::Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) {
  if (member == L"Item" || member.empty()) {
    if (auto bad = CheckCall(flags, kGet, args, 1, 1)) return *bad;
    const auto* name = std::get_if<std::wstring>(&args[0]);
    if (name == nullptr) return Reply::Fail(status::kTypeMismatch, L"Index must be a bar name");
    for (const auto& bar : bars_) {
      if (!bar->deleted() && bar->name() == *name) return Reply::Ok(NodeRef(bar));
    }
    return Reply::Fail(status::kInvalidArg, L"no bar named " + *name);
  }
  if (member == L"ActiveMenuBar") {
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    if (!activeMenuBar_ || activeMenuBar_->deleted()) return Reply::Ok();  // Nothing
    return Reply::Ok(NodeRef(activeMenuBar_));
  }
  if (member == L"Count") {
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    std::int32_t count = 0;
    for (const auto& bar : bars_) count += bar->deleted() ? 0 : 1;
    return Reply::Ok(count);
  }
  return NoMember(member);
}

namespace {

void AppendControls(std::wstring& out, const BarNode& bar, const std::wstring& indent) {
  for (const auto& control : bar.controls()) {
    out += indent + control->Label();
    if (!control->parameter().empty()) out += L" parameter " + Quoted(control->parameter());
    out += L"\n";
    if (control->submenu()) AppendControls(out, *control->submenu(), indent + L"  ");
  }
}

}  // namespace

std::wstring CommandBarsNode::StateText(const std::wstring& indent) const {
  std::wstring out;
  for (const auto& bar : bars_) {
    out += indent + bar->Label();
    if (bar == activeMenuBar_) out += L" (active menu bar)";
    out += bar->deleted() ? L" deleted\n" : L"\n";
    AppendControls(out, *bar, indent + L"  ");
  }
  return out;
}

}  // namespace standin
