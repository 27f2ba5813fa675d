// The stand-in Outlook: application, MAPI namespace, Inbox and its items, main windows and item windows.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "standin/model/command_bar_model.h"
#include "standin/model/office_model.h"

namespace standin {

class OutlookApplicationNode;

// A main window (explorer). All main windows share the explorer command bars, as Outlook's customisation is.
class ExplorerNode : public Node {
 public:
  ExplorerNode(Office& office, OutlookApplicationNode& app, int number) : Node(office), app_(app), number_(number) {}
  std::wstring TypeName() const override { return L"Explorer"; }
  std::wstring Label() const override { return L"explorer " + std::to_wstring(number_); }
  Reply Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) override;

 private:
  OutlookApplicationNode& app_;
  int number_;
};

enum class ItemKind { Mail, Meeting, Report };

// An item of the Inbox. A mail item has an item window (inspector) with command bars of its own.
class ItemNode : public Node {
 public:
  ItemNode(Office& office, ItemKind kind, std::wstring subject);
  std::wstring TypeName() const override { return L"Item"; }
  std::wstring Label() const override;
  Reply Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) override;
  std::wstring StateText(const std::wstring& indent) const override;

  CommandBarsNode& inspector_bars() { return *inspectorBars_; }

 private:
  ItemKind kind_;
  std::wstring subject_;
  std::shared_ptr<CommandBarsNode> inspectorBars_;
  NodeRef inspector_;  // created on first GetInspector, never displayed
};

class OutlookApplicationNode : public Node {
 public:
  OutlookApplicationNode(Office& office, Application& app);
  std::wstring TypeName() const override { return L"Outlook.Application"; }
  std::wstring Label() const override { return L"Outlook"; }
  Reply Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) override;
  std::wstring StateText(const std::wstring& indent) const override;

  CommandBarsNode& explorer_bars() { return *explorerBars_; }
  const std::shared_ptr<CommandBarsNode>& explorer_bars_ref() const { return explorerBars_; }
  // Opens the initial main window (an Outlook already running with a window).
  void OpenMainWindow();
  // The user has an item window open (an Outlook already running with a message open).
  void OpenItemWindow() { ++openItemWindows_; }
  // The user takes this Outlook up once a client shows a main window in it: opens a main window and an item
  // window of their own.
  void TakenUpOnDisplay() { takenUpOnDisplay_ = true; }
  std::int32_t explorer_count() const { return static_cast<std::int32_t>(explorerList_.size()); }
  std::shared_ptr<ItemNode> AddItem(ItemKind kind, std::wstring subject);

  // Used by the main windows and their collection.
  NodeRef AddExplorer(const NodeRef& folder, std::int32_t mode);
  void Display(ExplorerNode& explorer);
  const NodeRef& inbox() const { return inbox_; }

 private:
  Application& app_;
  std::shared_ptr<CommandBarsNode> explorerBars_;
  NodeRef nameSpace_;
  NodeRef inbox_;
  NodeRef items_;
  NodeRef explorers_;
  NodeRef inspectors_;
  std::int32_t openItemWindows_ = 0;
  bool takenUpOnDisplay_ = false;
  std::vector<NodeRef> explorerList_;
  NodeRef active_;
  std::vector<std::wstring> windowLog_;  // what happened to main windows, for the state
  std::vector<std::shared_ptr<ItemNode>> itemList_;
  friend class ItemsNode;
};

}  // namespace standin
