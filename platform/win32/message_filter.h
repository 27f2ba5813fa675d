// The program's COM message filter: calls that a busy Office turns away are tried again for a while.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <objidl.h>

namespace corvix::win32 {

// Answers COM for the calling thread's apartment: a call the server refuses (SERVERCALL_RETRYLATER or
// SERVERCALL_REJECTED) is tried again as office/retry_policy.h decides, then given up, so that the call
// fails and its step is skipped. Incoming calls are all handled; pending messages are processed as COM's
// default does.
class RetryMessageFilter final : public IMessageFilter {
 public:
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
  unsigned retriesAsked_ = 0;
};

// Registers the filter for the calling thread (COM must be initialised there) and puts back the one before
// it when the owner goes. Declare it after ScopedComInit and before any COM reference.
class ScopedMessageFilter {
 public:
  ScopedMessageFilter();
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
