// The program's COM message filter: calls that a busy Office turns away are tried again for a while.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <objidl.h>

#include "office/stall_policy.h"

namespace corvix::win32 {

// Answers COM for the calling thread's apartment: a call the server refuses (SERVERCALL_RETRYLATER or
// SERVERCALL_REJECTED) is tried again as office/retry_policy.h decides, then cancelled, so that the call
// fails and its step is skipped. With a clean-up's watch, the refusals also spend that clean-up's budget
// (office/refusal_policy.h): the call that spends it is cancelled at once and the clean-up is given up
// (platform/win32/give_up.h). Incoming calls are all handled; pending messages are processed as COM's default
// does.
class RetryMessageFilter final : public IMessageFilter {
 public:
  // `watch`: the calls' clean-up, or none (each refused call then on its own).
  explicit RetryMessageFilter(CallWatch* watch = nullptr) : watch_(watch) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  // Owned by its registration (ScopedMessageFilter), which outlives every call COM makes to it.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD callType, HTASK caller, DWORD tickCount,
                                             LPINTERFACEINFO interfaceInfo) override;
  DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK callee, DWORD tickCount, DWORD rejectType) override;
  DWORD STDMETHODCALLTYPE MessagePending(HTASK callee, DWORD tickCount, DWORD pendingType) override;

  // How many times COM asked whether to retry (a figure for benchmarks and checks).
  unsigned retries_asked() const { return retriesAsked_; }

 private:
  CallWatch* watch_;
  unsigned retriesAsked_ = 0;
};

// Registers the filter for the calling thread (COM must be initialised there) and puts back the one before
// it when the owner goes. Declare it after ScopedComInit and before any COM reference.
class ScopedMessageFilter {
 public:
  // `watch`: the clean-up whose calls the filter answers for, which must outlive the owner; or none.
  explicit ScopedMessageFilter(CallWatch* watch = nullptr);
  ~ScopedMessageFilter();
  ScopedMessageFilter(const ScopedMessageFilter&) = delete;
  ScopedMessageFilter& operator=(const ScopedMessageFilter&) = delete;

  bool registered() const { return registered_; }
  RetryMessageFilter& filter() { return filter_; }

 private:
  RetryMessageFilter filter_;
  IMessageFilter* previous_ = nullptr;
  bool registered_ = false;
};

}  // namespace corvix::win32
