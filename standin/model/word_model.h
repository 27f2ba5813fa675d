// The stand-in Word: its application object.
#pragma once

#include <memory>

#include "standin/model/command_bar_model.h"
#include "standin/model/office_model.h"

namespace standin {

class WordApplicationNode : public Node {
 public:
  WordApplicationNode(Office& office, Application& app);

  std::wstring TypeName() const override { return L"Word.Application"; }
  std::wstring Label() const override { return L"Word"; }
  Reply Answer(std::wstring_view member, unsigned flags, const std::vector<Value>& args) override;

  std::wstring StateText(const std::wstring& indent) const override { return bars_->StateText(indent); }
  CommandBarsNode& bars() { return *bars_; }

 private:
  Application& app_;
  std::shared_ptr<CommandBarsNode> bars_;
};

}  // namespace standin
