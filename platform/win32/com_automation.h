// The COM backend of the automation surface: late-bound calls through IDispatch.
#pragma once

#include <windows.h>

#include <oaidl.h>
#include <wrl/client.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "office/automation.h"
#include "office/give_up_policy.h"
#include "platform/win32/give_up.h"

// Whether member names are resolved once per process (1) or on every call (0). Set by the build.
#ifndef CORVIX_NAME_CACHE
#define CORVIX_NAME_CACHE 1
#endif

namespace corvix::win32 {

// The DISPIDs of member names. A name is resolved (GetIDsOfNames) the first time it is used on an interface
// and kept for every later call through that interface: the static type a reference is used as decides
// the name's DISPID, whichever object is behind it. With caching off every call resolves the name anew.
class NameCache {
 public:
  explicit NameCache(bool enabled) : enabled_(enabled) {}

  // The DISPID of `member` on `type`, asking `object` when it is not known yet; the failure otherwise.
  HRESULT Resolve(IDispatch* object, const Interface& type, std::wstring_view member, DISPID* id);

 private:
  bool enabled_;
  std::unordered_map<std::wstring, DISPID> ids_;
};

// What every reference of one ComAutomation shares: the name cache, and the watch that each call to Office
// reports to.
struct ComContext {
  ComContext(NameCache cache, std::shared_ptr<CallWatch> callWatch)
      : names(std::move(cache)), watch(std::move(callWatch)) {}
  NameCache names;
  const std::shared_ptr<CallWatch> watch;  // never null
};

// One IDispatch reference. Destroying it releases the reference, unless its clean-up was given up: then
// the reference is abandoned, since releasing it would wait on the same Office (platform/win32/give_up.h).
class ComDispatch final : public Dispatch {
 public:
  ComDispatch(Microsoft::WRL::ComPtr<IDispatch> object, std::shared_ptr<ComContext> context)
      : object_(std::move(object)), context_(std::move(context)) {}
  ~ComDispatch() override;
  ComDispatch(const ComDispatch&) = delete;
  ComDispatch& operator=(const ComDispatch&) = delete;

  CallResult Get(const Interface& type, std::wstring_view member, const std::vector<Arg>& args) override;
  CallResult Call(const Interface& type, std::wstring_view member, const std::vector<Arg>& args) override;
  CallResult CallDefault(const std::vector<Arg>& args) override;
  CallResult Put(const Interface& type, std::wstring_view member, const Arg& value) override;

  // The reference, borrowed.
  IDispatch* get() const { return object_.Get(); }

 private:
  CallResult CallByName(const Interface& type, std::wstring_view member, WORD flags, const std::vector<Arg>& args);

  Microsoft::WRL::ComPtr<IDispatch> object_;
  std::shared_ptr<ComContext> context_;
};

// The class a ProgID names in the class registry (CLSIDFromProgID), as an attach, a start and the registered
// server's version look it up.
HRESULT ClassFromProgId(std::wstring_view progId, CLSID* clsid);

// Reaching applications through the class registry and the running object table. COM must be initialised
// on the calling thread (ScopedComInit) for as long as any reference it gives out lives.
class ComAutomation final : public Automation {
 public:
  // Starting from the names that `names` already knows; every call (attaching and starting included, and
  // each reference's release) reports to `watch` (never null), and once it is given up no further call is made.
  ComAutomation(NameCache names, std::shared_ptr<CallWatch> watch)
      : context_(std::make_shared<ComContext>(std::move(names), std::move(watch))) {}

  // GetActiveObject for the ProgID's class; none when the class is unknown or no instance is registered.
  Found<Object> Attach(std::wstring_view progId, const Interface& type) override;
  // A new instance from its local server; none when the class is unknown or the server cannot start.
  Found<Object> Start(std::wstring_view progId, const Interface& type) override;

  const NameCache& names() const { return context_->names; }

 private:
  std::shared_ptr<ComContext> context_;
};

}  // namespace corvix::win32
