// The give-up's mechanism, as COM and the COM backend use it: what the message filter answers for each
// refusal, which calls are admitted, which references are released and which abandoned, and the apartment
// of a given-up one. Run under Wine by CTest; Wine never asks a client's filter (it runs a refused call
// anyway), so only this test reaches RetryRejectedCall there.
//
// Prints each failed check and exits with the number of failures (tests/win32/check.h).
#include <windows.h>

#include <wrl/client.h>

#include "office/give_up_policy.h"
#include "platform/win32/com_init.h"
#include "platform/win32/give_up.h"
#include "tests/win32/check.h"

namespace {

using corvix::win32::testing::Check;
using corvix::win32::testing::CheckEqual;

// An object that counts its references and releases; it lives as long as the test that made it.
class Counted final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = IsEqualIID(riid, IID_IUnknown) ? static_cast<IUnknown*>(this) : nullptr;
    if (*object == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override {
    ++releases;
    return --references;
  }
  ULONG references = 0;
  ULONG releases = 0;
};

using corvix::CallRefusal;
using corvix::CallWatch;
using Microsoft::WRL::ComPtr;
namespace win32 = corvix::win32;

constexpr DWORD kCancel = 0xFFFFFFFF;  // RetryRejectedCall's "cancel the call"

void TheFilterAnswersEachRefusalAsTheWatchSays() {
  CallWatch watch;
  win32::RetryMessageFilter filter(watch);
  Check(watch.Begin(1000), "call admitted");
  CheckEqual(filter.RetryRejectedCall(nullptr, 0, SERVERCALL_RETRYLATER), 100, "first retry after 100 ms");
  const DWORD later = filter.RetryRejectedCall(nullptr, 700, SERVERCALL_RETRYLATER);
  CheckEqual(later, *corvix::AnswerRefusal(CallRefusal::kRetryLater, 700, 0).retryAfterMs, "a busy refusal's back-off");
  // The kind of refusal is told apart: at the rejection's limit only a rejection is cancelled.
  const DWORD busy = filter.RetryRejectedCall(nullptr, corvix::retry::kRejectedLimitMs, SERVERCALL_RETRYLATER);
  Check(busy != kCancel, "a busy refusal still retried at the rejection's limit");
  const DWORD rejected = filter.RetryRejectedCall(nullptr, corvix::retry::kRejectedLimitMs, SERVERCALL_REJECTED);
  CheckEqual(rejected, kCancel, "a rejection cancelled at its limit");
  watch.End();
  Check(!watch.givenUp(), "a rejected call fails alone");
  CheckEqual(watch.refusals(), 4, "every refusal reaches the watch");
  Check(watch.Begin(5000), "the next call is made");
  watch.End();
}

void RefusalsThatSpendTheBudgetCancelTheCallAndGiveTheCleanUpUp() {
  CallWatch watch;
  win32::RetryMessageFilter filter(watch);
  // A first call refused for 20 s, then answered.
  Check(watch.Begin(1000), "first call admitted");
  DWORD elapsed = 0;
  while (elapsed < 20000) {
    const DWORD wait = filter.RetryRejectedCall(nullptr, elapsed, SERVERCALL_RETRYLATER);
    Check(wait != kCancel && wait >= 100 && wait <= 1000, "retried within the budget");
    if (wait == kCancel) return;
    elapsed += wait;
  }
  watch.End();
  Check(!watch.givenUp(), "a busy spell that passed is no give-up");
  // The second call gets what is left, then is cancelled and the clean-up given up.
  Check(watch.Begin(30000), "second call admitted");
  const DWORD spent = filter.RetryRejectedCall(nullptr, corvix::refusal::kBudgetMs - elapsed, SERVERCALL_RETRYLATER);
  CheckEqual(spent, kCancel, "cancelled when the budget is spent");
  Check(watch.givenUp() && watch.refusedOut(), "the clean-up is given up for its refusals");
  watch.End();
  Check(!watch.Begin(40000), "no further call is made");
}

void CallsAreAdmittedAndCountedUntilTheCleanUpIsGivenUp() {
  CallWatch watch;
  {
    const win32::WatchedCall call(watch, L"test call");
    Check(call.admitted(), "a call of a live clean-up is made");
    CheckEqual(watch.name(), L"test call", "the call in flight is named");
  }
  CheckEqual(watch.answered(), 1, "the call's end is reported");
  watch.GiveUp();
  {
    const win32::WatchedCall call(watch, L"test call");
    Check(!call.admitted(), "no call is made once given up");
  }
  CheckEqual(watch.answered(), 1, "a call not made is not answered");
}

void ReferencesAreReleasedUntilTheCleanUpIsGivenUpThenAbandoned() {
  Counted object;
  CallWatch watch;
  ComPtr<IUnknown> first(&object);
  win32::LetGo(first, watch);
  Check(object.releases == 1 && !first, "released while the clean-up lives");
  CheckEqual(watch.answered(), 1, "the release is one watched call");
  ComPtr<IUnknown> second(&object);
  watch.GiveUp();
  win32::LetGo(second, watch);
  CheckEqual(object.releases, 1, "not released once given up");
  Check(!second, "abandoned: the owner holds nothing");
  CheckEqual(object.references, 1, "the abandoned reference stays counted");
}

// Whether the calling thread is still in a COM apartment: joining again then only counts (S_FALSE). The
// probe's own join is balanced.
bool InApartment() {
  const HRESULT joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (SUCCEEDED(joined)) CoUninitialize();
  return joined == S_FALSE;
}

void AGivenUpCleanUpStaysInItsApartment() {
  Check(!InApartment(), "the test starts outside COM");
  {
    CallWatch live;
    win32::ScopedComInit com;
    Check(com.ok() && InApartment(), "COM initialised");
    win32::LeaveApartment(com, live);
  }
  Check(!InApartment(), "a live clean-up's thread leaves its apartment when the owner goes");
  {
    CallWatch givenUp;
    givenUp.GiveUp();
    win32::ScopedComInit com;
    win32::LeaveApartment(com, givenUp);
  }
  Check(InApartment(), "a given-up one's thread stays in it");
  CoUninitialize();  // what the abandoned owner left, for this test's balance
  Check(!InApartment(), "balanced");
}

}  // namespace

int main() {
  TheFilterAnswersEachRefusalAsTheWatchSays();
  RefusalsThatSpendTheBudgetCancelTheCallAndGiveTheCleanUpUp();
  CallsAreAdmittedAndCountedUntilTheCleanUpIsGivenUp();
  ReferencesAreReleasedUntilTheCleanUpIsGivenUpThenAbandoned();
  AGivenUpCleanUpStaysInItsApartment();
  return corvix::win32::testing::Finish();
}
