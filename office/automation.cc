// The owning automation reference and call results.
#include "office/automation.h"

namespace corvix {

CallResult CallResult::Failed(std::int32_t status, std::wstring description) {
  CallResult result;
  result.outcome_ = Outcome{status, std::move(description)};
  return result;
}

Object CallResult::TakeObject(const Interface& type) {
  if (!ok()) return {};
  auto* held = std::get_if<std::unique_ptr<Object>>(&value_);
  if (held == nullptr || *held == nullptr) return {};
  Object object = std::move(**held);
  held->reset();
  if (!object) return {};
  return Object(std::move(object.impl_), type);
}

Found<Object> CallResult::TakeFound(const Interface& type) { return {TakeObject(type), outcome_}; }

std::optional<std::wstring> CallResult::String() const {
  if (const auto* text = std::get_if<std::wstring>(&value_)) return *text;
  return std::nullopt;
}

std::optional<std::int32_t> CallResult::Int32() const {
  if (const auto* number = std::get_if<std::int32_t>(&value_)) return *number;
  if (const auto* small = std::get_if<std::int16_t>(&value_)) return *small;
  return std::nullopt;
}

std::optional<bool> CallResult::Bool() const {
  if (const auto* flag = std::get_if<bool>(&value_)) return *flag;
  return std::nullopt;
}

CallResult Object::Get(std::wstring_view member, std::vector<Arg> args) const {
  if (!impl_) return CallResult::Failed(kNoObject);
  return impl_->Get(*type_, member, args);
}

CallResult Object::Call(std::wstring_view member, std::vector<Arg> args) const {
  if (!impl_) return CallResult::Failed(kNoObject);
  return impl_->Call(*type_, member, args);
}

CallResult Object::CallDefault(std::vector<Arg> args) const {
  if (!impl_) return CallResult::Failed(kNoObject);
  return impl_->CallDefault(args);
}

CallResult Object::Put(std::wstring_view member, Arg value) const {
  if (!impl_) return CallResult::Failed(kNoObject);
  return impl_->Put(*type_, member, value);
}

}  // namespace corvix
