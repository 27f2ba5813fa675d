// The give-up's mechanism, as the COM backend uses it: which calls are admitted, which references are
// released and which abandoned, when a stalled clean-up is given up, and the apartment of a given-up one.
// Run under Wine by CTest.
//
// Prints each failed check and exits with the number of failures (tests/win32/check.h).
#include <windows.h>

#include <wrl/client.h>

#include "office/stall_policy.h"
#include "platform/win32/com_init.h"
#include "platform/win32/give_up.h"
#include "tests/win32/check.h"

namespace {

using corvix::win32::testing::Check;

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

using corvix::CallWatch;
using Microsoft::WRL::ComPtr;
namespace win32 = corvix::win32;

void CallsAreAdmittedAndCountedUntilTheCleanUpIsGivenUp() {
  CallWatch watch;
  {
    const win32::WatchedCall call(&watch, L"test call");
    Check(call.admitted(), "a call of a live clean-up is made");
  }
  Check(watch.answered() == 1, "the call's end is reported");
  watch.GiveUp();
  {
    const win32::WatchedCall call(&watch, L"test call");
    Check(!call.admitted(), "no call is made once given up");
  }
  Check(watch.answered() == 1, "a call not made is not answered");
  const win32::WatchedCall unwatched(nullptr, L"test call");
  Check(unwatched.admitted(), "with no watch every call is made");
}

void ReferencesAreReleasedUntilTheCleanUpIsGivenUpThenAbandoned() {
  Counted object;
  CallWatch watch;
  ComPtr<IUnknown> first(&object);
  win32::LetGo(first, &watch);
  Check(object.releases == 1 && !first, "released while the clean-up lives");
  Check(watch.answered() == 1, "the release is one watched call");
  ComPtr<IUnknown> second(&object);
  watch.GiveUp();
  win32::LetGo(second, &watch);
  Check(object.releases == 1, "not released once given up");
  Check(!second, "abandoned: the owner holds nothing");
  Check(object.references == 1, "the abandoned reference stays counted");
}

void AStalledCallGivesTheCleanUpUpAtTheBound() {
  CallWatch watch;
  Check(watch.Begin(1000), "call begun");
  Check(!win32::GiveUpIfStalled(watch, 1000 + corvix::stall::kBoundMs - 1), "not before the bound");
  Check(!watch.givenUp(), "still live before the bound");
  Check(win32::GiveUpIfStalled(watch, 1000 + corvix::stall::kBoundMs), "given up at the bound");
  Check(watch.givenUp(), "the watch says so");
}

void AGivenUpCleanUpStaysInItsApartment() {
  CallWatch live;
  win32::ScopedComInit kept;
  Check(kept.ok(), "COM initialised");
  win32::LeaveApartment(kept, live);
  Check(kept.ok(), "a live clean-up leaves its apartment when the owner goes");
  CallWatch givenUp;
  givenUp.GiveUp();
  {
    win32::ScopedComInit abandoned;
    win32::LeaveApartment(abandoned, givenUp);
    Check(!abandoned.ok(), "a given-up one does not");
  }
  CoUninitialize();  // what the abandoned owner left, for this test's balance
}

}  // namespace

int main() {
  CallsAreAdmittedAndCountedUntilTheCleanUpIsGivenUp();
  ReferencesAreReleasedUntilTheCleanUpIsGivenUpThenAbandoned();
  AStalledCallGivesTheCleanUpUpAtTheBound();
  AGivenUpCleanUpStaysInItsApartment();
  return corvix::win32::testing::Finish();
}
