// IDispatch calls: names to DISPIDs, arguments to VARIANTs, results and failures back.
#include "platform/win32/com_automation.h"

#include <objbase.h>
#include <oleauto.h>

#include <type_traits>
#include <utility>

#include "platform/win32/give_up.h"
#include "platform/win32/system_message.h"
#include "platform/win32/variant.h"

namespace corvix::win32 {

using Microsoft::WRL::ComPtr;

namespace {

// The type an object result carries until the caller names its own (CallResult::TakeObject).
constexpr Interface kIDispatch{L"IDispatch"};

// Names and argument conversions follow the user's locale, as a late-bound client's do.
constexpr LCID kLocale = LOCALE_USER_DEFAULT;

// Fills one VARIANT of the argument array from one argument.
class ArgumentWriter {
 public:
  explicit ArgumentWriter(VARIANT& target) : target_(target) {}

  HRESULT operator()(Omitted) {
    target_.vt = VT_ERROR;
    target_.scode = DISP_E_PARAMNOTFOUND;
    return S_OK;
  }
  HRESULT operator()(bool value) {
    target_.vt = VT_BOOL;
    target_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT operator()(std::int16_t value) {
    target_.vt = VT_I2;
    target_.iVal = value;
    return S_OK;
  }
  HRESULT operator()(std::int32_t value) {
    target_.vt = VT_I4;
    target_.lVal = value;
    return S_OK;
  }
  HRESULT operator()(const std::wstring& value) { return SetText(target_, value); }
  // Borrowed: the caller's reference stays the caller's; a callee that keeps the object AddRefs it.
  // "None" is passed as a null object (Nothing).
  HRESULT operator()(const Object* value) {
    IDispatch* pointer = nullptr;
    if (value != nullptr && value->backend() != nullptr) {
      const auto* own = dynamic_cast<const ComDispatch*>(value->backend());
      if (own == nullptr) return E_INVALIDARG;  // another backend's object means nothing to COM
      pointer = own->get();
    }
    target_.vt = VT_DISPATCH;
    target_.pdispVal = pointer;
    return S_OK;
  }

 private:
  VARIANT& target_;
};

// A successful call's result as a value of the surface. (Not const: VariantCopyInd takes its source
// as non-const in some SDKs' headers.)
CallResult FromVariant(VARIANT& result, const std::shared_ptr<ComContext>& context) {
  using Value = CallResult::Value;
  if ((result.vt & VT_BYREF) != 0) {
    Variant direct;
    if (FAILED(VariantCopyInd(direct.get(), &result))) return CallResult();
    return FromVariant(*direct.get(), context);
  }
  switch (result.vt) {
    case VT_BOOL:
      return CallResult(Value(std::in_place_type<bool>, result.boolVal != VARIANT_FALSE));
    case VT_I2:
      return CallResult(Value(std::in_place_type<std::int16_t>, result.iVal));
    case VT_I4:
      return CallResult(Value(std::in_place_type<std::int32_t>, result.lVal));
    case VT_INT:
      return CallResult(Value(std::in_place_type<std::int32_t>, result.intVal));
    case VT_BSTR:
      return CallResult(Value(std::in_place_type<std::wstring>, result.bstrVal == nullptr ? L"" : result.bstrVal,
                              SysStringLen(result.bstrVal)));
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      ComPtr<IDispatch> object;
      if (result.vt == VT_DISPATCH) {
        object = result.pdispVal;  // AddRef'd here; the result VARIANT's owner releases its own
      } else if (result.punkVal != nullptr) {
        const WatchedCall call(*context->watch, L"QueryInterface(IDispatch)");
        if (call.admitted()) result.punkVal->QueryInterface(IID_PPV_ARGS(object.GetAddressOf()));
      }
      if (!object) return CallResult();  // Nothing
      auto wrapped = std::make_unique<Object>(std::make_unique<ComDispatch>(std::move(object), context), kIDispatch);
      return CallResult(Value(std::in_place_type<std::unique_ptr<Object>>, std::move(wrapped)));
    }
    default:
      // Empty, Null, and types the clean-ups never read: a success without a value.
      return CallResult();
  }
}

// The whole IDispatch::Invoke contract for one call. `flags` says what kind of member `id` is; `name` says
// which member it is, for a give-up's diagnostics.
CallResult Invoke(IDispatch* object, DISPID id, WORD flags, const std::vector<Arg>& args,
                  const std::shared_ptr<ComContext>& context, std::wstring_view name) {
  // IDispatch takes the arguments last first.
  ArgumentArray arguments(args.size());
  for (std::size_t i = 0; i < args.size(); ++i) {
    const HRESULT written = std::visit(ArgumentWriter(arguments[args.size() - 1 - i]), args[i]);
    if (FAILED(written)) return CallResult::Failed(written);
  }
  DISPPARAMS params{};
  params.rgvarg = arguments.size() == 0 ? nullptr : arguments.data();
  params.cArgs = static_cast<UINT>(arguments.size());
  // A property put passes its value as the one named argument DISPID_PROPERTYPUT, and gets no result.
  DISPID putId = DISPID_PROPERTYPUT;
  const bool put = (flags & DISPATCH_PROPERTYPUT) != 0;
  if (put) {
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }

  Variant result;
  EXCEPINFO exception{};
  UINT badArgument = 0;
  HRESULT hr = kGivenUp;
  {
    const WatchedCall call(*context->watch, name);
    if (call.admitted())
      hr =
          object->Invoke(id, IID_NULL, kLocale, flags, &params, put ? nullptr : result.get(), &exception, &badArgument);
  }
  if (hr == DISP_E_EXCEPTION) {
    if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
    const Bstr source = Bstr::Adopt(exception.bstrSource);
    const Bstr description = Bstr::Adopt(exception.bstrDescription);
    const Bstr helpFile = Bstr::Adopt(exception.bstrHelpFile);
    // The object's own failure code when it gave one; the exception itself otherwise.
    const HRESULT status = FAILED(exception.scode) ? exception.scode : hr;
    return CallResult::Failed(status, std::wstring(description.view()));
  }
  if (FAILED(hr)) return CallResult::Failed(hr);
  return FromVariant(*result.get(), context);
}

}  // namespace

HRESULT NameCache::Resolve(IDispatch* object, const Interface& type, std::wstring_view member, DISPID* id) {
  std::wstring key;
  if (enabled_) {
    key.reserve(type.name.size() + 1 + member.size());
    key.append(type.name).append(1, L'\0').append(member);
    if (const auto known = ids_.find(key); known != ids_.end()) {
      *id = known->second;
      return S_OK;
    }
  }
  std::wstring name(member);
  LPOLESTR names[] = {name.data()};
  const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, kLocale, id);
  if (FAILED(hr)) return hr;
  if (enabled_) ids_.emplace(std::move(key), *id);
  return S_OK;
}

CallResult ComDispatch::Get(const Interface& type, std::wstring_view member, const std::vector<Arg>& args) {
  return CallByName(type, member, DISPATCH_PROPERTYGET, args);
}

CallResult ComDispatch::Call(const Interface& type, std::wstring_view member, const std::vector<Arg>& args) {
  return CallByName(type, member, DISPATCH_METHOD, args);
}

CallResult ComDispatch::Put(const Interface& type, std::wstring_view member, const Arg& value) {
  return CallByName(type, member, DISPATCH_PROPERTYPUT, {value});
}

ComDispatch::~ComDispatch() { LetGo(object_, *context_->watch); }

CallResult ComDispatch::CallDefault(const std::vector<Arg>& args) {
  return Invoke(object_.Get(), DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, context_,
                L"(default member)");
}

CallResult ComDispatch::CallByName(const Interface& type, std::wstring_view member, WORD flags,
                                   const std::vector<Arg>& args) {
  DISPID id = DISPID_UNKNOWN;
  HRESULT resolved = kGivenUp;
  std::wstring name(type.name);
  name.append(1, L'.').append(member);
  {
    // A name the cache knows costs no call, but is not made for a given-up clean-up either.
    const WatchedCall call(*context_->watch, name);
    if (call.admitted()) resolved = context_->names.Resolve(object_.Get(), type, member, &id);
  }
  if (FAILED(resolved)) return CallResult::Failed(resolved);
  return Invoke(object_.Get(), id, flags, args, context_, name);
}

namespace {

// An object reference as one of these backends' own, typed `type`; none for a null pointer.
Object WrapDispatch(ComPtr<IDispatch> object, std::shared_ptr<ComContext> context, const Interface& type) {
  if (!object) return {};
  return Object(std::make_unique<ComDispatch>(std::move(object), std::move(context)), type);
}

}  // namespace

HRESULT ClassFromProgId(std::wstring_view progId, CLSID* clsid) {
  const std::wstring text(progId);
  return CLSIDFromProgID(text.c_str(), clsid);
}

namespace {

// "None" for a failed attach or start, with the system's text for the failure where it has one.
Found<Object> Failed(HRESULT hr) {
  return {{}, {static_cast<std::int32_t>(hr), SystemMessage(static_cast<DWORD>(hr))}};
}

}  // namespace

Found<Object> ComAutomation::Attach(std::wstring_view progId, const Interface& type) {
  CLSID clsid{};
  if (const HRESULT known = ClassFromProgId(progId, &clsid); FAILED(known)) return Failed(known);
  // One call for the watch: the look-up in the running object table, the first contact with the instance
  // found there (the conversion), and letting go of the table's proxy, whichever of them hangs.
  const WatchedCall call(*context_->watch, L"GetActiveObject " + std::wstring(progId));
  if (!call.admitted()) return Failed(kGivenUp);
  ComPtr<IUnknown> running;
  if (const HRESULT found = GetActiveObject(clsid, nullptr, running.GetAddressOf()); FAILED(found) || !running) {
    return Failed(FAILED(found) ? found : E_POINTER);
  }
  ComPtr<IDispatch> application;
  const HRESULT converted = running.As(&application);
  if (context_->watch->givenUp()) {
    // The conversion came back after the clean-up was given up: nothing is released any more.
    Abandon(running);
    Abandon(application);
    return Failed(kGivenUp);
  }
  if (FAILED(converted)) return Failed(converted);
  return {WrapDispatch(std::move(application), context_, type), {}};
}

Found<Object> ComAutomation::Start(std::wstring_view progId, const Interface& type) {
  CLSID clsid{};
  if (const HRESULT known = ClassFromProgId(progId, &clsid); FAILED(known)) return Failed(known);
  ComPtr<IDispatch> application;
  {
    const WatchedCall call(*context_->watch, L"CoCreateInstance " + std::wstring(progId));
    if (!call.admitted()) return Failed(kGivenUp);
    const HRESULT created =
        CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(application.GetAddressOf()));
    if (FAILED(created)) return Failed(created);
  }
  return {WrapDispatch(std::move(application), context_, type), {}};
}

}  // namespace corvix::win32
