// The late-bound automation surface: owning references to automation objects and calls by member name.
//
// Portable: no platform types appear here. A backend (COM on Windows, the in-memory stand-in in tests)
// implements Dispatch and Automation; the clean-up code only sees Object. What is asked about an application
// before it is reached (office/installation.h) is not automation: nothing there calls the application.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace corvix {

// The static type a reference is used as. `name` keys the backend's member-name cache. Every call goes
// through IDispatch by name, so a type is only a name: nothing is ever asked of an object by its interface
// (a test of what an object is reads one of its properties instead).
struct Interface {
  std::wstring_view name;
};

class Object;

// An argument that is left out of a call.
struct Omitted {};

// One argument of a call. An object argument is borrowed for the duration of the call.
using Arg = std::variant<Omitted, bool, std::int16_t, std::int32_t, std::wstring, const Object*>;

// Failure codes of the surface itself; backends report their own codes (HRESULTs on Windows).
inline constexpr std::int32_t kNoObject = static_cast<std::int32_t>(0x80004003);   // call on "none"
inline constexpr std::int32_t kWrongType = static_cast<std::int32_t>(0x80020005);  // result of another type

// How a call ended: its code (negative for a failure, the backend's HRESULT on Windows; otherwise a success)
// and, for a failure, the backend's description.
struct Outcome {
  std::int32_t status = 0;
  std::wstring description;
  bool ok() const { return status >= 0; }
};

// What a lookup gave: the reference (or a typed wrapper of one); or none, with how the lookup ended. None
// after a success means that the application answered that it has none.
template <typename T>
struct Found {
  T value;
  Outcome outcome;
  explicit operator bool() const { return static_cast<bool>(value); }
};

// The outcome of one call: a value, or a failure code with the backend's description.
// A failed call, and a call that returned nothing, both carry std::monostate.
class CallResult {
 public:
  using Value = std::variant<std::monostate, bool, std::int16_t, std::int32_t, std::wstring, std::unique_ptr<Object>>;

  CallResult() = default;
  explicit CallResult(Value value) : value_(std::move(value)) {}
  static CallResult Failed(std::int32_t status, std::wstring description = {});

  bool ok() const { return outcome_.ok(); }
  const Outcome& outcome() const { return outcome_; }
  const Value& value() const { return value_; }

  // The result as an object reference typed as `type`; none when the call failed or gave no object.
  Object TakeObject(const Interface& type);
  // The same, with how the call ended.
  Found<Object> TakeFound(const Interface& type);
  // The result as a string or integer; empty when the call failed or gave another type.
  std::optional<std::wstring> String() const;
  std::optional<std::int32_t> Int32() const;
  std::optional<bool> Bool() const;

 private:
  Value value_;
  Outcome outcome_;
};

// What a backend implements for one automation reference. Destroying it releases the reference.
class Dispatch {
 public:
  virtual ~Dispatch() = default;
  // Property get (`Item` with an argument is a property get too).
  virtual CallResult Get(const Interface& type, std::wstring_view member, const std::vector<Arg>& args) = 0;
  // Method call.
  virtual CallResult Call(const Interface& type, std::wstring_view member, const std::vector<Arg>& args) = 0;
  // Property put: `member` is set to `value` (an object value is passed as a reference, not its default value).
  virtual CallResult Put(const Interface& type, std::wstring_view member, const Arg& value) = 0;
  // Call of the object's default member (late-bound, no name lookup).
  virtual CallResult CallDefault(const std::vector<Arg>& args) = 0;
};

// An owning reference to an automation object, used as the static type `type()`. Empty means "none".
// Move-only: every reference has exactly one owner and is released when the owner goes.
// Every call on an empty Object fails with kNoObject, so a chain of calls that starts from "none"
// yields "none" without further checks.
class Object {
 public:
  Object() = default;
  Object(std::unique_ptr<Dispatch> impl, const Interface& type) : impl_(std::move(impl)), type_(&type) {}
  Object(Object&&) noexcept = default;
  Object& operator=(Object&&) noexcept = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  ~Object() = default;

  explicit operator bool() const { return impl_ != nullptr; }
  const Interface* type() const { return type_; }

  CallResult Get(std::wstring_view member, std::vector<Arg> args = {}) const;
  CallResult Call(std::wstring_view member, std::vector<Arg> args = {}) const;
  CallResult CallDefault(std::vector<Arg> args) const;
  CallResult Put(std::wstring_view member, Arg value) const;

  // Property get of an object-valued member; none when the call fails.
  // Defined here rather than in automation.cc: <windows.h> defines GetObject as a macro (GetObjectW), which
  // renames this member in every file that includes it first; inline, each file gets the body it calls.
  Object GetObject(std::wstring_view member, const Interface& resultType, std::vector<Arg> args = {}) const {
    return Get(member, std::move(args)).TakeObject(resultType);
  }
  // The same reference, from now on used as `type` (after a test has shown that the object is one).
  // Nothing is called: the reference moves, and this owner is left empty.
  Object UsedAs(const Interface& type) && { return impl_ ? Object(std::move(impl_), type) : Object(); }

  // Releases the reference now.
  void Reset() { impl_.reset(); }

  // The backend's reference, borrowed; null for none. Only for a backend that is handed this object as a
  // call argument and needs its own handle to the object (it checks that the reference is one of its own).
  const Dispatch* backend() const { return impl_.get(); }

 private:
  friend class CallResult;

  std::unique_ptr<Dispatch> impl_;
  const Interface* type_ = nullptr;
};

// Reaching an application by its programmatic identifier.
class Automation {
 public:
  virtual ~Automation() = default;
  // The running instance's application object; none when it is not running (or not installed).
  virtual Found<Object> Attach(std::wstring_view progId, const Interface& type) = 0;
  // A new instance's application object; none when it cannot be started.
  virtual Found<Object> Start(std::wstring_view progId, const Interface& type) = 0;
};

}  // namespace corvix
