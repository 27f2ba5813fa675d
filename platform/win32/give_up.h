// Giving a clean-up up: the COM message filter that answers a busy Office's refusals, the watched calls, the
// references let go or abandoned, and the apartment. The decisions are office/give_up_policy.h; the design:
// docs/robustness.md.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <objidl.h>
#include <wrl/client.h>

#include <string_view>

#include "office/give_up_policy.h"
#include "platform/win32/com_init.h"

namespace corvix::win32 {

// The failure of a call that is not made because its clean-up was given up (RPC_E_CALL_CANCELED).
inline constexpr HRESULT kGivenUp = static_cast<HRESULT>(0x80010002);

// Answers COM for the calling thread's apartment: a call the server refuses (SERVERCALL_RETRYLATER or
// SERVERCALL_REJECTED) is tried again or cancelled as the clean-up's watch says (CallWatch::Refused).
// Incoming calls are all handled; pending messages are processed as COM's default does.
class RetryMessageFilter final : public IMessageFilter {
 public:
  explicit RetryMessageFilter(CallWatch& watch) : watch_(watch) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  // Owned by its registration (ScopedMessageFilter), which outlives every call COM makes to it.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD callType, HTASK caller, DWORD tickCount,
                                             LPINTERFACEINFO interfaceInfo) override;
  DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK callee, DWORD tickCount, DWORD rejectType) override;
  DWORD STDMETHODCALLTYPE MessagePending(HTASK callee, DWORD tickCount, DWORD pendingType) override;

 private:
  CallWatch& watch_;
};

// Registers the filter for the calling thread (COM must be initialised there) and puts back the one before
// it when the owner goes. Declare it after ScopedComInit and before any COM reference.
class ScopedMessageFilter {
 public:
  // `watch`: the clean-up whose calls the filter answers for, which must outlive the owner.
  explicit ScopedMessageFilter(CallWatch& watch);
  ~ScopedMessageFilter();
  ScopedMessageFilter(const ScopedMessageFilter&) = delete;
  ScopedMessageFilter& operator=(const ScopedMessageFilter&) = delete;

 private:
  RetryMessageFilter filter_;
  IMessageFilter* previous_ = nullptr;
  bool registered_ = false;
};

// One call to Office as the watch sees it: begun here, answered when the owner goes. Not admitted once the
// clean-up was given up: the call must then not be made. Every call to Office passes through one. `name`
// says what the call is, for a give-up's diagnostics.
class WatchedCall {
 public:
  WatchedCall(CallWatch& watch, std::wstring_view name) : watch_(watch), admitted_(Admit(watch, name)) {}
  ~WatchedCall() {
    if (admitted_) watch_.End();
  }
  WatchedCall(const WatchedCall&) = delete;
  WatchedCall& operator=(const WatchedCall&) = delete;

  bool admitted() const { return admitted_; }

 private:
  static bool Admit(CallWatch& watch, std::wstring_view name) {
    watch.Name(name);
    return watch.Begin(GetTickCount());
  }

  CallWatch& watch_;
  bool admitted_;
};

// Leaves a reference as it is, unreleased: the process ends without it.
template <class T>
void Abandon(Microsoft::WRL::ComPtr<T>& reference) {
  static_cast<void>(reference.Detach());
}

// Releases a reference as one watched call; abandons it when the clean-up was given up (a release is a call
// to the same Office, and would wait on it).
template <class T>
void LetGo(Microsoft::WRL::ComPtr<T>& reference, CallWatch& watch) {
  if (!reference) return;
  const WatchedCall release(watch, L"Release");
  if (!release.admitted()) {
    Abandon(reference);
    return;
  }
  reference.Reset();
}

// At the end of a clean-up's thread: the apartment is left when the owner goes, unless the watch says it may
// not be (CallWatch::MayLeaveApartment).
void LeaveApartment(ScopedComInit& com, const CallWatch& watch);

}  // namespace corvix::win32
