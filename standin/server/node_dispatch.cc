// IDispatch over a model node: names to DISPIDs, VARIANTs to model values and back, failures to HRESULTs.
#include "standin/server/node_dispatch.h"

#include <oleauto.h>

#include "base/hex.h"
#include "standin/server/dispatch_names.h"
#include "standin/server/session.h"

namespace standin::server {

namespace {

std::wstring Quoted(const wchar_t* text) { return L"\"" + std::wstring(text ? text : L"") + L"\""; }

// Dispatch errors (bad name, count, type, flags) and RPC errors (an injected fault stands for a server
// that threw) are what the IDispatch machinery itself returns; anything else is the object's own
// failure, which Office raises as an exception carrying the code and a description.
HRESULT Failure(std::int32_t status, const std::wstring& description, EXCEPINFO* exception) {
  const HRESULT code = static_cast<HRESULT>(status);
  const int facility = HRESULT_FACILITY(code);
  if (facility == FACILITY_DISPATCH || facility == FACILITY_RPC || exception == nullptr) return code;
  *exception = EXCEPINFO{};
  exception->scode = code;
  exception->bstrSource = SysAllocString(L"standin");
  exception->bstrDescription = SysAllocStringLen(description.data(), static_cast<UINT>(description.size()));
  return DISP_E_EXCEPTION;
}

}  // namespace

NodeDispatch::NodeDispatch(Session& session, NodeRef node) : session_(session), node_(std::move(node)) {
  session_.office().Retain(node_);
  session_.Added(this);
}

NodeDispatch::~NodeDispatch() {
  session_.office().Release(*node_);
  session_.Removed(this);
}

ULONG NodeDispatch::AddRef() { return ++references_; }

ULONG NodeDispatch::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

bool NodeDispatch::NoteContact() {
  if (attachProgId_.empty()) return true;
  const std::wstring progId = std::move(attachProgId_);
  attachProgId_.clear();
  session_.office().Attach(progId);
  session_.Flush();
  return !session_.HangIfDue();
}

HRESULT NodeDispatch::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  // Any other interface is COM's own business (IMarshal, IStdMarshalInfo, IExternalConnection, ...), or a
  // client's that converts by interface, which the stand-in does not serve: refused without a journal entry.
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch)) return E_NOINTERFACE;
  if (!NoteContact()) return status::kHung;
  *object = static_cast<IDispatch*>(this);
  AddRef();
  return S_OK;
}

HRESULT NodeDispatch::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT NodeDispatch::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info != nullptr) *info = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT NodeDispatch::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
  if (!NoteContact()) return status::kHung;
  std::wstring line = node_->Label() + L".GetIDsOfNames(";
  for (UINT i = 0; i < count; ++i) line += (i ? L", " : L"") + Quoted(names[i]);
  line += L") -> ";
  // The first name is the member; the others would name its arguments, which the stand-in does not take.
  const std::int32_t id = names[0] ? FindMember(node_->TypeName(), names[0]) : 0;
  ids[0] = id != 0 ? id : DISPID_UNKNOWN;
  for (UINT i = 1; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  const bool known = id != 0 && count == 1;
  line += known ? L"DISPID " + std::to_wstring(id) : L"failed " + corvix::Hex(DISP_E_UNKNOWNNAME, 0);
  session_.NoteNames(line);
  return known ? S_OK : DISP_E_UNKNOWNNAME;
}

bool NodeDispatch::ToValue(const VARIANT& in, Value* out) const {
  VARIANT direct;
  VariantInit(&direct);
  const VARIANT* value = &in;
  if ((in.vt & VT_BYREF) != 0) {
    if (FAILED(VariantCopyInd(&direct, const_cast<VARIANT*>(&in)))) return false;
    value = &direct;
  }
  bool converted = true;
  switch (value->vt) {
    case VT_EMPTY:
      *out = std::monostate{};
      break;
    case VT_BOOL:
      *out = value->boolVal != VARIANT_FALSE;
      break;
    case VT_I2:
      *out = std::int16_t{value->iVal};
      break;
    case VT_I4:
      *out = std::int32_t{value->lVal};
      break;
    case VT_BSTR:
      *out = std::wstring(value->bstrVal ? value->bstrVal : L"", SysStringLen(value->bstrVal));
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      // One of ours comes back as itself; any other object means nothing to the model.
      NodeRef node = session_.NodeOf(value->vt == VT_DISPATCH ? value->pdispVal : value->punkVal);
      if (node) {
        *out = std::move(node);
      } else {
        *out = std::monostate{};
      }
      break;
    }
    case VT_ERROR:
      converted = value->scode == DISP_E_PARAMNOTFOUND;
      if (converted) *out = Missing{};
      break;
    default:
      converted = false;
  }
  VariantClear(&direct);
  return converted;
}

void NodeDispatch::FromValue(const Value& value, VARIANT* out) {
  VariantInit(out);
  if (const auto* b = std::get_if<bool>(&value)) {
    out->vt = VT_BOOL;
    out->boolVal = *b ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (const auto* i2 = std::get_if<std::int16_t>(&value)) {
    out->vt = VT_I2;
    out->iVal = *i2;
  } else if (const auto* i4 = std::get_if<std::int32_t>(&value)) {
    out->vt = VT_I4;
    out->lVal = *i4;
  } else if (const auto* text = std::get_if<std::wstring>(&value)) {
    out->vt = VT_BSTR;
    out->bstrVal = SysAllocStringLen(text->data(), static_cast<UINT>(text->size()));
  } else if (const auto* node = std::get_if<NodeRef>(&value); node != nullptr && *node) {
    // A new object, its one reference the client's.
    out->vt = VT_DISPATCH;
    out->pdispVal = session_.Wrap(*node);
  }
  // Nothing (and Missing, which no member returns) is VT_EMPTY.
}

HRESULT NodeDispatch::Reject(const std::wstring& member, std::vector<std::wstring> args, HRESULT code,
                             const std::wstring& description, EXCEPINFO* exception) {
  session_.office().Note({node_->Label(), member, std::move(args), static_cast<std::int32_t>(code), description});
  session_.Flush();
  return Failure(code, description, exception);
}

HRESULT NodeDispatch::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                             EXCEPINFO* exception, UINT* argumentError) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (!NoteContact()) return status::kHung;
  // The call may end the object's last outside reference (a Quit revokes the running object table's);
  // this one keeps it alive until the call returns.
  AddRef();
  struct Hold {
    NodeDispatch* self;
    ~Hold() { self->Release(); }
  } hold{this};

  std::wstring member;
  if (id != DISPID_VALUE) {
    const wchar_t* name = MemberName(id);
    member = name ? name : L"DISPID " + std::to_wstring(id);
    if (name == nullptr) return Reject(member, {}, DISP_E_MEMBERNOTFOUND, L"no member has this DISPID", exception);
  }
  const std::wstring journaled = member.empty() ? L"(default)" : member;

  const UINT count = params ? params->cArgs : 0;
  if (count > 0 && params->rgvarg == nullptr) return E_INVALIDARG;
  std::vector<Value> args(count);
  std::vector<std::wstring> described;
  int unconverted = -1;
  for (UINT i = 0; i < count; ++i) {
    // IDispatch passes the arguments last first.
    const VARIANT& arg = params->rgvarg[count - 1 - i];
    if (ToValue(arg, &args[i])) {
      described.push_back(Describe(args[i]));
    } else {
      described.push_back(L"unsupported VT " + corvix::Hex(arg.vt, 0));
      if (unconverted < 0) unconverted = static_cast<int>(count - 1 - i);
    }
  }
  if ((flags & DISPATCH_PROPERTYPUTREF) != 0) {
    // Word's settable members (DisplayAlerts, CustomizationContext) are property puts, object or not.
    return Reject(journaled, std::move(described), DISP_E_MEMBERNOTFOUND, L"the stand-in sets no property by reference",
                  exception);
  }
  const bool put = (flags & DISPATCH_PROPERTYPUT) != 0;
  if (put && (count != 1 || params->cNamedArgs != 1 || params->rgdispidNamedArgs == nullptr ||
              params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)) {
    // The value comes as the one named argument DISPID_PROPERTYPUT.
    return Reject(journaled, std::move(described), DISP_E_PARAMNOTOPTIONAL,
                  L"a put takes its value as DISPID_PROPERTYPUT", exception);
  }
  if (!put && params && params->cNamedArgs > 0) {
    return Reject(journaled, std::move(described), DISP_E_NONAMEDARGS, L"named arguments are not taken", exception);
  }
  if (unconverted >= 0) {
    if (argumentError) *argumentError = static_cast<UINT>(unconverted);
    return Reject(journaled, std::move(described), DISP_E_TYPEMISMATCH, L"an argument type the stand-in does not take",
                  exception);
  }

  if (const int delay = session_.office().CallDelay(); delay > 0) Sleep(static_cast<DWORD>(delay));
  const Reply reply = session_.office().Invoke(*node_, member, put ? kPut : flags & (kMethod | kGet), args);
  session_.Flush();
  session_.HangIfDue();
  if (!reply.ok()) return Failure(reply.status, reply.description, exception);
  if (result != nullptr) FromValue(reply.value, result);
  return S_OK;
}

}  // namespace standin::server
