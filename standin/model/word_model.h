// The stand-in Word: its application object.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "standin/model/command_bar_model.h"
#include "standin/model/office_model.h"

namespace standin {

class WordApplicationNode;

// One of Word's templates (Normal, or another that a macro made the CustomizationContext): its name, the file
// it was loaded from (`FullName`), whether it holds unsaved changes (`Saved`), and `Save`.
class TemplateNode : public Node {
 public:
  TemplateNode(Office& office, const WordApplicationNode& word, std::wstring name)
      : Node(office), word_(word), name_(std::move(name)), file_(name_) {}
  std::wstring TypeName() const override { return L"Template"; }
  std::wstring Label() const override { return name_ == L"Normal.dotm" ? L"Normal" : L"template '" + name_ + L"'"; }
  Reply Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) override;

  bool saved() const { return saved_; }
  void set_saved(bool saved) { saved_ = saved; }
  int saves() const { return saves_; }
  // The file, as a scenario names it (Office::FilePath gives FullName).
  const std::wstring& file() const { return file_; }
  void set_file(std::wstring file) { file_ = std::move(file); }

 private:
  const WordApplicationNode& word_;
  std::wstring name_;
  std::wstring file_;
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
  // The template the bars' changes go to: Normal, unless CustomizationContext was set to another.
  TemplateNode& context() { return *context_; }
  // Another template, loaded as a global template; CustomizationContext names it when `context`.
  TemplateNode& AddTemplate(std::wstring name, bool context);
  std::int32_t display_alerts() const { return displayAlerts_; }
  // Word's DisplayAlerts before any client came: wdAlertsAll (-1) unless a scenario says otherwise.
  void set_initial_display_alerts(std::int32_t alerts) { displayAlerts_ = initialAlerts_ = alerts; }
  // Whether `node` is one of this Word's bars or controls (whose deletion changes the Normal template).
  bool Holds(const Node& node) const;

 private:
  Application& app_;
  std::shared_ptr<CommandBarsNode> bars_;
  std::vector<std::wstring> documents_;
  NodeRef documentsNode_;
  std::shared_ptr<TemplateNode> normal_;
  std::vector<std::shared_ptr<TemplateNode>> templates_;  // Normal's companions
  std::shared_ptr<TemplateNode> context_;
  std::shared_ptr<TemplateNode> initialContext_;
  std::int32_t displayAlerts_ = -1;
  std::int32_t initialAlerts_ = -1;
};

}  // namespace standin
