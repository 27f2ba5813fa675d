// The stand-in Word: its application object.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "standin/model/command_bar_model.h"
#include "standin/model/office_model.h"

namespace standin {

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

 private:
  Application& app_;
  std::shared_ptr<CommandBarsNode> bars_;
  std::vector<std::wstring> documents_;
  NodeRef documentsNode_;
};

}  // namespace standin
