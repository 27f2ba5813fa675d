// Giving a clean-up up: the message filter and the apartment.
#include "platform/win32/give_up.h"

namespace corvix::win32 {

HRESULT RetryMessageFilter::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMessageFilter)) return E_NOINTERFACE;
  *object = static_cast<IMessageFilter*>(this);
  return S_OK;
}

DWORD RetryMessageFilter::HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) { return SERVERCALL_ISHANDLED; }

DWORD RetryMessageFilter::RetryRejectedCall(HTASK, DWORD tickCount, DWORD rejectType) {
  const CallRefusal refusal = rejectType == SERVERCALL_RETRYLATER ? CallRefusal::kRetryLater : CallRefusal::kRejected;
  const auto delay = watch_.Refused(refusal, tickCount);
  // -1 cancels the call: it fails with RPC_E_CALL_REJECTED. Any other value is the wait before the retry.
  return delay ? static_cast<DWORD>(*delay) : static_cast<DWORD>(-1);
}

DWORD RetryMessageFilter::MessagePending(HTASK, DWORD, DWORD) { return PENDINGMSG_WAITDEFPROCESS; }

ScopedMessageFilter::ScopedMessageFilter(CallWatch& watch) : filter_(watch) {
  registered_ = SUCCEEDED(CoRegisterMessageFilter(&filter_, &previous_));
}

ScopedMessageFilter::~ScopedMessageFilter() {
  if (!registered_) return;
  IMessageFilter* ours = nullptr;
  CoRegisterMessageFilter(previous_, &ours);
  // COM handed back its reference to ours (not counted) and now holds one to the previous filter.
  if (previous_ != nullptr) previous_->Release();
}

void LeaveApartment(ScopedComInit& com, const CallWatch& watch) {
  if (!watch.MayLeaveApartment()) com.Abandon();
}

}  // namespace corvix::win32
