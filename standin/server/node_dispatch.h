// One model object served over IDispatch.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string>
#include <vector>

#include "standin/model/office_model.h"

namespace standin::server {

class Session;

// Each reference the model hands a client becomes one of these. Calls go to Office::Invoke, so they are
// journaled and faults apply. It is an IDispatch and nothing more: QueryInterface answers IUnknown and
// IDispatch only.
class NodeDispatch final : public IDispatch {
 public:
  NodeDispatch(Session& session, NodeRef node);
  NodeDispatch(const NodeDispatch&) = delete;
  NodeDispatch& operator=(const NodeDispatch&) = delete;

  const NodeRef& node() const { return node_; }
  // For an application object in the running object table: the first call a client makes on it is
  // journaled as the client's GetActiveObject (Office::Attach), which the server cannot see itself.
  void ArmAttach(std::wstring progId) { attachProgId_ = std::move(progId); }
  void Disarm() { attachProgId_.clear(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argumentError) override;

 private:
  ~NodeDispatch();

  // Journals the first contact of a client that found the application in the running object table.
  // False when that contact was made to hang (the call then fails).
  bool NoteContact();
  bool ToValue(const VARIANT& in, Value* out) const;
  void FromValue(const Value& value, VARIANT* out);
  // A call rejected before the model saw it: journaled with Office::Note.
  HRESULT Reject(const std::wstring& member, std::vector<std::wstring> args, HRESULT code,
                 const std::wstring& description, EXCEPINFO* exception);

  Session& session_;
  NodeRef node_;
  ULONG references_ = 1;
  std::wstring attachProgId_;
};

}  // namespace standin::server
