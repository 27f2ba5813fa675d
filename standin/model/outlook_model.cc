// The stand-in Outlook.
#include "standin/model/outlook_model.h"

namespace standin {

namespace {

std::optional<std::int32_t> Number(const Value& value) {
  if (const auto* i4 = std::get_if<std::int32_t>(&value)) return *i4;
  if (const auto* i2 = std::get_if<std::int16_t>(&value)) return *i2;
  return std::nullopt;
}

class NameSpaceNode : public Node {
 public:
  NameSpaceNode(Office& office, const OutlookApplicationNode& app) : Node(office), app_(app) {}
  std::wstring TypeName() const override { return L"NameSpace"; }
  std::wstring Label() const override { return L"MAPI"; }
  Reply Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) override {
    if (member != L"GetDefaultFolder") return NoMember(member);
    if (auto bad = CheckCall(flags, kMethod, args, 1, 1)) return *bad;
    const auto folder = Number(args[0]);
    if (!folder) return Reply::Fail(status::kTypeMismatch, L"FolderType must be a number");
    if (*folder != 6) return Reply::Fail(status::kInvalidArg, L"only the Inbox (6) is here");
    return Reply::Ok(app_.inbox());
  }

 private:
  const OutlookApplicationNode& app_;
};

class ItemsNode : public Node {
 public:
  ItemsNode(Office& office, const std::vector<std::shared_ptr<ItemNode>>& items) : Node(office), items_(items) {}
  std::wstring TypeName() const override { return L"Items"; }
  std::wstring Label() const override { return L"Inbox items"; }
  Reply Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) override {
    if (member == L"Count") {
      if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
      return Reply::Ok(static_cast<std::int32_t>(items_.size()));
    }
    if (!member.empty() && member != L"Item") return NoMember(member);
    if (auto bad = CheckCall(flags, member.empty() ? kGet | kMethod : kMethod, args, 1, 1)) return *bad;
    const auto index = Number(args[0]);
    if (!index) return Reply::Fail(status::kTypeMismatch, L"Index must be a number");
    if (*index < 1 || static_cast<size_t>(*index) > items_.size()) {
      return Reply::Fail(status::kInvalidArg, L"the folder has no item " + std::to_wstring(*index));
    }
    return Reply::Ok(NodeRef(items_[static_cast<size_t>(*index) - 1]));
  }

 private:
  const std::vector<std::shared_ptr<ItemNode>>& items_;
};

class FolderNode : public Node {
 public:
  FolderNode(Office& office, NodeRef items) : Node(office), items_(std::move(items)) {}
  std::wstring TypeName() const override { return L"MAPIFolder"; }
  std::wstring Label() const override { return L"Inbox"; }
  Reply Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) override {
    if (member == L"Items" || member == L"Name") {
      if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
      return member == L"Items" ? Reply::Ok(items_) : Reply::Ok(std::wstring(L"Inbox"));
    }
    return NoMember(member);
  }

 private:
  NodeRef items_;
};

class ExplorersNode : public Node {
 public:
  ExplorersNode(Office& office, OutlookApplicationNode& app) : Node(office), app_(app) {}
  std::wstring TypeName() const override { return L"Explorers"; }
  std::wstring Label() const override { return L"Explorers"; }
  Reply Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) override {
    if (member == L"Count") {
      if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
      return Reply::Ok(app_.explorer_count());
    }
    if (member != L"Add") return NoMember(member);
    if (auto bad = CheckCall(flags, kMethod, args, 1, 2)) return *bad;
    const auto* folder = std::get_if<NodeRef>(&args[0]);
    if (folder == nullptr || *folder == nullptr) return Reply::Fail(status::kTypeMismatch, L"Folder must be a folder");
    std::int32_t mode = 0;
    if (args.size() == 2 && !std::holds_alternative<Missing>(args[1])) {
      const auto given = Number(args[1]);
      if (!given) return Reply::Fail(status::kTypeMismatch, L"DisplayMode must be a number");
      mode = *given;
    }
    return Reply::Ok(app_.AddExplorer(*folder, mode));
  }

 private:
  OutlookApplicationNode& app_;
};

class InspectorNode : public Node {
 public:
  InspectorNode(Office& office, std::wstring subject, NodeRef bars)
      : Node(office), subject_(std::move(subject)), bars_(std::move(bars)) {}
  std::wstring TypeName() const override { return L"Inspector"; }
  std::wstring Label() const override { return L"inspector of '" + subject_ + L"'"; }
  Reply Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) override {
    if (member != L"CommandBars") return NoMember(member);
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    return Reply::Ok(bars_);
  }

 private:
  std::wstring subject_;
  NodeRef bars_;
};

}  // namespace

// ---- main windows

Reply ExplorerNode::Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) {
  if (member == L"CommandBars") {
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    return Reply::Ok(NodeRef(app_.explorer_bars_ref()));
  }
  if (member == L"Display") {
    if (auto bad = CheckCall(flags, kMethod, args, 0, 0)) return *bad;
    app_.Display(*this);
    return Reply::Ok();
  }
  return NoMember(member);
}

// ---- items

ItemNode::ItemNode(Office& office, ItemKind kind, std::wstring subject)
    : Node(office),
      kind_(kind),
      subject_(std::move(subject)),
      inspectorBars_(std::make_shared<CommandBarsNode>(office, L"inspector of '" + subject_ + L"'", L"inspector ")) {}

std::wstring ItemNode::Label() const {
  const wchar_t* kind = kind_ == ItemKind::Mail ? L"mail" : kind_ == ItemKind::Meeting ? L"meeting" : L"report";
  return std::wstring(kind) + L" '" + subject_ + L"'";
}

Reply ItemNode::Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) {
  if (member == L"Subject") {
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    return Reply::Ok(subject_);
  }
  if (member == L"Class") {
    // Outlook's OlObjectClass: olMail 43, olMeetingRequest 53, olReport 46.
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    return Reply::Ok(std::int32_t{kind_ == ItemKind::Mail ? 43 : kind_ == ItemKind::Meeting ? 53 : 46});
  }
  if (member == L"GetInspector" && kind_ == ItemKind::Mail) {
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    if (!inspector_) inspector_ = std::make_shared<InspectorNode>(office_, subject_, inspectorBars_);
    return Reply::Ok(inspector_);
  }
  return NoMember(member);
}

std::wstring ItemNode::StateText(const std::wstring& indent) const {
  std::wstring out = indent + Label();
  if (kind_ == ItemKind::Mail) out += inspector_ ? L" (item window created, never displayed)" : L" (no item window)";
  out += L"\n";
  if (kind_ == ItemKind::Mail) out += inspectorBars_->StateText(indent + L"  ");
  return out;
}

// ---- the application

OutlookApplicationNode::OutlookApplicationNode(Office& office, Application& app)
    : Node(office),
      app_(app),
      explorerBars_(std::make_shared<CommandBarsNode>(office, L"Outlook main window", L"explorer ")) {
  items_ = std::make_shared<ItemsNode>(office, itemList_);
  inbox_ = std::make_shared<FolderNode>(office, items_);
  nameSpace_ = std::make_shared<NameSpaceNode>(office, *this);
  explorers_ = std::make_shared<ExplorersNode>(office, *this);
  // The item windows the user has open; their number only. An item window that a client creates without
  // displaying it (GetInspector) is not among them.
  inspectors_ = std::make_shared<CountNode>(office, L"Inspectors", [this] { return openItemWindows_; });
}

void OutlookApplicationNode::OpenMainWindow() {
  auto explorer = std::make_shared<ExplorerNode>(office_, *this, static_cast<int>(explorerList_.size()) + 1);
  explorerList_.push_back(explorer);
  active_ = explorer;
}

std::shared_ptr<ItemNode> OutlookApplicationNode::AddItem(ItemKind kind, std::wstring subject) {
  itemList_.push_back(std::make_shared<ItemNode>(office_, kind, std::move(subject)));
  return itemList_.back();
}

NodeRef OutlookApplicationNode::AddExplorer(const NodeRef& folder, std::int32_t mode) {
  auto explorer = std::make_shared<ExplorerNode>(office_, *this, static_cast<int>(explorerList_.size()) + 1);
  explorerList_.push_back(explorer);
  windowLog_.push_back(explorer->Label() + L" added on " + folder->Label() + L" in mode " + std::to_wstring(mode));
  return explorer;
}

void OutlookApplicationNode::Display(ExplorerNode& explorer) {
  windowLog_.push_back(explorer.Label() + L" displayed");
  active_ = explorer.shared_from_this();
  if (takenUpOnDisplay_) {
    takenUpOnDisplay_ = false;
    OpenMainWindow();
    active_ = explorer.shared_from_this();  // the user's window opens behind the one shown
    ++openItemWindows_;
    windowLog_.push_back(explorerList_.back()->Label() + L" and an item window opened by the user");
  }
}

Reply OutlookApplicationNode::Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) {
  if (member == L"ActiveExplorer") {
    if (auto bad = CheckCall(flags, kMethod, args, 0, 0)) return *bad;
    return Reply::Ok(active_);  // nothing when Outlook has no main window
  }
  if (member == L"GetNamespace") {
    if (auto bad = CheckCall(flags, kMethod, args, 1, 1)) return *bad;
    const auto* type = std::get_if<std::wstring>(&args[0]);
    if (type == nullptr || *type != L"MAPI") return Reply::Fail(status::kInvalidArg, L"only MAPI is here");
    return Reply::Ok(nameSpace_);
  }
  if (member == L"Explorers" || member == L"Inspectors") {
    if (auto bad = CheckCall(flags, kGet, args, 0, 0)) return *bad;
    return Reply::Ok(member == L"Explorers" ? explorers_ : inspectors_);
  }
  if (member == L"Quit") {
    if (auto bad = CheckCall(flags, kMethod, args, 0, 0)) return *bad;
    office_.NoteQuit(app_, std::nullopt);
    return Reply::Ok();
  }
  return NoMember(member);
}

std::wstring OutlookApplicationNode::StateText(const std::wstring& indent) const {
  std::wstring out = indent + L"main window: " + (active_ ? active_->Label() : L"none") + L"\n";
  if (openItemWindows_ > 0) out += indent + L"item windows open: " + std::to_wstring(openItemWindows_) + L"\n";
  for (const auto& line : windowLog_) out += indent + line + L"\n";
  out += indent + L"main window bars:\n" + explorerBars_->StateText(indent + L"  ");
  out += indent + L"inbox:" + (itemList_.empty() ? L" empty\n" : L"\n");
  for (const auto& item : itemList_) out += item->StateText(indent + L"  ");
  return out;
}

}  // namespace standin
