// The stand-in's command bars: CommandBars, CommandBar, CommandBarControls and the controls.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "standin/model/office_model.h"

namespace standin {

class BarNode;
class ControlsNode;

enum class ControlKind { Button, Popup, ComboBox };

class ControlNode : public Node {
 public:
  ControlNode(Office& office, ControlKind kind, std::wstring caption, std::wstring parameter);

  std::wstring TypeName() const override;
  std::wstring Label() const override;
  Reply Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) override;

  ControlKind kind() const { return kind_; }
  const std::wstring& caption() const { return caption_; }
  const std::wstring& parameter() const { return parameter_; }
  bool deleted() const { return deleted_; }
  // The bar a popup opens (null for other controls).
  const std::shared_ptr<BarNode>& submenu() const { return submenu_; }

  void set_parent(const std::shared_ptr<BarNode>& parent) { parent_ = parent; }
  void set_failing_delete(bool failing) { failingDelete_ = failing; }
  // The built-in control ID (Office's `Id`); 1, as for every custom control, unless the scenario gives one.
  std::int32_t id() const { return id_; }
  void set_id(std::int32_t id) { id_ = id; }
  // The MsoControlType: msoControlButton 1, msoControlPopup 10, msoControlComboBox 4.
  std::int32_t type() const;

 private:
  ControlKind kind_;
  std::wstring caption_;
  std::wstring parameter_;
  bool deleted_ = false;
  bool failingDelete_ = false;
  std::int32_t id_ = 1;
  std::weak_ptr<BarNode> parent_;
  std::shared_ptr<BarNode> submenu_;
};

class BarNode : public Node {
 public:
  // `prefix` tells bars of different windows apart in the journal ("explorer bar 'X'").
  BarNode(Office& office, std::wstring name, std::wstring prefix = {});

  std::wstring TypeName() const override { return L"CommandBar"; }
  std::wstring Label() const override;
  Reply Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) override;

  const std::wstring& name() const { return name_; }
  bool deleted() const { return deleted_; }
  // A built-in bar cannot be deleted, as in Office.
  void set_builtin(bool builtin) { builtin_ = builtin; }
  bool builtin() const { return builtin_; }

  std::shared_ptr<ControlNode> AddControl(ControlKind kind, std::wstring caption, std::wstring parameter);
  const std::vector<std::shared_ptr<ControlNode>>& controls() const { return controls_; }
  void RemoveControl(const ControlNode& control);
  // The first control with this type and ID (either may be left out), searching menus too when `recursive`.
  std::shared_ptr<ControlNode> Find(std::optional<std::int32_t> type, std::optional<std::int32_t> id,
                                    bool recursive) const;

 private:
  std::wstring name_;
  std::wstring prefix_;
  bool deleted_ = false;
  bool builtin_ = false;
  std::vector<std::shared_ptr<ControlNode>> controls_;
  std::shared_ptr<ControlsNode> controlsNode_;
};

// A bar's controls, positions 1 to Count.
class ControlsNode : public Node {
 public:
  ControlsNode(Office& office, std::weak_ptr<BarNode> bar) : Node(office), bar_(std::move(bar)) {}

  std::wstring TypeName() const override { return L"CommandBarControls"; }
  std::wstring Label() const override;
  Reply Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) override;

 private:
  std::weak_ptr<BarNode> bar_;
};

// All bars of one application or window.
class CommandBarsNode : public Node {
 public:
  CommandBarsNode(Office& office, std::wstring owner, std::wstring barPrefix = {})
      : Node(office), owner_(std::move(owner)), barPrefix_(std::move(barPrefix)) {}

  std::wstring TypeName() const override { return L"CommandBars"; }
  std::wstring Label() const override { return owner_ + L" bars"; }
  Reply Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) override;

  std::shared_ptr<BarNode> AddBar(std::wstring name);
  void set_active_menu_bar(const std::shared_ptr<BarNode>& bar) { activeMenuBar_ = bar; }
  const std::vector<std::shared_ptr<BarNode>>& bars() const { return bars_; }
  const std::shared_ptr<BarNode>& active_menu_bar() const { return activeMenuBar_; }

  // The readable state of every bar, indented by `indent`.
  std::wstring StateText(const std::wstring& indent) const;

 private:
  std::wstring owner_;
  std::wstring barPrefix_;
  std::vector<std::shared_ptr<BarNode>> bars_;
  std::shared_ptr<BarNode> activeMenuBar_;
};

// The answer to a member the object does not have.
Reply NoMember(std::wstring_view member);

// A collection of which only the number is modelled (Word's Documents, Outlook's Inspectors): it answers
// Count, from `count`, and nothing else.
class CountNode : public Node {
 public:
  CountNode(Office& office, std::wstring typeName, std::function<std::int32_t()> count)
      : Node(office), typeName_(std::move(typeName)), count_(std::move(count)) {}
  std::wstring TypeName() const override { return typeName_; }
  std::wstring Label() const override { return typeName_; }
  Reply Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) override;

 private:
  std::wstring typeName_;
  std::function<std::int32_t()> count_;
};

// Checks that a call has between `least` and `most` arguments and was invoked the right way.
// Returns a failure reply, or nothing when the call fits.
std::optional<Reply> CheckCall(unsigned flags, unsigned wanted, const std::vector<Value>& args, size_t least,
                               size_t most);

}  // namespace standin
