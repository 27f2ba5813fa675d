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

  bool enabled() const { return enabled_; }
  // How many names were asked of an object (a figure for benchmarks).
  std::size_t lookups() const { return lookups_; }

 private:
  bool enabled_;
  std::size_t lookups_ = 0;
  std::unordered_map<std::wstring, DISPID> ids_;
};

// One IDispatch reference. Destroying it releases the reference.
class ComDispatch final : public Dispatch {
 public:
  ComDispatch(Microsoft::WRL::ComPtr<IDispatch> object, std::shared_ptr<NameCache> names)
      : object_(std::move(object)), names_(std::move(names)) {}

  CallResult Get(const Interface& type, std::wstring_view member, const std::vector<Arg>& args) override;
  CallResult Call(const Interface& type, std::wstring_view member, const std::vector<Arg>& args) override;
  CallResult CallDefault(const std::vector<Arg>& args) override;

  // The reference, borrowed.
  IDispatch* get() const { return object_.Get(); }

 private:
  CallResult CallByName(const Interface& type, std::wstring_view member, WORD flags, const std::vector<Arg>& args);

  Microsoft::WRL::ComPtr<IDispatch> object_;
  std::shared_ptr<NameCache> names_;
};

// Reaching applications through the class registry and the running object table. COM must be initialised
// on the calling thread (ScopedComInit) for as long as any reference it gives out lives.
class ComAutomation final : public Automation {
 public:
  explicit ComAutomation(bool cacheNames = CORVIX_NAME_CACHE != 0) : names_(std::make_shared<NameCache>(cacheNames)) {}

  // GetActiveObject for the ProgID's class; none when the class is unknown or no instance is registered.
  Object Attach(std::wstring_view progId, const Interface& type) override;
  // A new instance from its local server; none when the class is unknown or the server cannot start.
  Object Start(std::wstring_view progId, const Interface& type) override;

  const NameCache& names() const { return *names_; }

 private:
  std::shared_ptr<NameCache> names_;
};

// An object reference as one of these backends' own, typed `type`; none for a null pointer.
Object WrapDispatch(Microsoft::WRL::ComPtr<IDispatch> object, std::shared_ptr<NameCache> names, const Interface& type);

}  // namespace corvix::win32
