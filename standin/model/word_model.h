// The stand-in Word: its application object.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "standin/model/command_bar_model.h"
#include "standin/model/office_model.h"

namespace standin {

// Word's Normal template: whether it holds unsaved changes (`Saved`), and `Save`.
class TemplateNode : public Node {
 public:
  explicit TemplateNode(Office& office) : Node(office) {}
  std::wstring TypeName() const override { return L"Template"; }
  std::wstring Label() const override { return L"Normal"; }
  Reply Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) override;

  bool saved() const { return saved_; }
  void set_saved(bool saved) { saved_ = saved; }
  int saves() const { return saves_; }

 private:
  bool saved_ = true;
  int saves_ = 0;
};

class WordApplicationNode : public Node {
 public:
  WordApplicationNode(Office& office, Application& app);

  std::wstring TypeName() const override { return L"Word.Application"; }
  std::wstring Label() const override { return L"Word"; }
  Reply Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) override;

  std::wstring StateText(const std::wstring& indent) const override;
  CommandBarsNode& bars() { return *bars_; }

  // A document the user opened in this Word.
  void OpenDocument(std::wstring name) { documents_.push_back(std::move(name)); }
  const std::vector<std::wstring>& documents() const { return documents_; }

  TemplateNode& normal() { return *normal_; }
  // Whether `node` is one of this Word's bars or controls (whose deletion changes the Normal template).
  bool Holds(const Node& node) const;

 private:
  Application& app_;
  std::shared_ptr<CommandBarsNode> bars_;
  std::vector<std::wstring> documents_;
  NodeRef documentsNode_;
  std::shared_ptr<TemplateNode> normal_;
};

}  // namespace standin
