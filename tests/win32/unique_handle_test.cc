// The owner of Win32 resources: each resource is closed once, when its last owner lets go of it, and never
// while it is still owned. Kernel handles are watched through GetHandleInformation, which fails on a closed
// one; the other kinds through a counting Close. Run under Wine by CTest.
//
// Prints each failed check and exits with the number of failures (tests/win32/check.h).
#include <windows.h>

#include <utility>
#include <vector>

#include "platform/win32/unique_handle.h"
#include "tests/win32/check.h"

namespace {

using corvix::win32::UniqueAny;
using corvix::win32::UniqueHandle;
using corvix::win32::UniqueLibrary;
using corvix::win32::testing::Check;
using corvix::win32::testing::CheckEqual;

bool IsOpen(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != 0;
}

HANDLE NewEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

std::vector<int> g_closed;
void CloseCounted(int value) { g_closed.push_back(value); }
using UniqueCounted = UniqueAny<int, CloseCounted>;

void TheOwnerClosesAtTheEndOfItsScope() {
  HANDLE raw = NewEvent();
  {
    const UniqueHandle owned(raw);
    Check(static_cast<bool>(owned) && IsOpen(raw), "an owned handle is open");
  }
  Check(!IsOpen(raw), "the handle is closed when its owner goes");
}

void AMoveTransfersTheHandle() {
  HANDLE raw = NewEvent();
  UniqueHandle first(raw);
  UniqueHandle second(std::move(first));
  Check(!first && first.get() == nullptr, "the moved-from owner holds nothing");
  Check(second.get() == raw && IsOpen(raw), "the new owner holds the open handle");
  UniqueHandle third;
  third = std::move(second);
  Check(third.get() == raw && IsOpen(raw), "a move assignment transfers it too");
  UniqueHandle& alias = third;
  third = std::move(alias);
  Check(third.get() == raw && IsOpen(raw), "a move onto itself keeps it open");
  third.reset();
  Check(!IsOpen(raw), "closed by the last owner");
}

void AMoveAssignmentClosesWhatTheTargetHeld() {
  HANDLE old = NewEvent();
  HANDLE kept = NewEvent();
  UniqueHandle target(old);
  target = UniqueHandle(kept);
  Check(!IsOpen(old), "the handle the target held is closed");
  Check(IsOpen(kept), "the handle moved in stays open");
}

void ResetAndPutCloseOnce() {
  UniqueCounted owned(7);
  owned.reset(8);
  CheckEqual(g_closed, std::vector<int>{7}, "reset closes the old value once");
  *owned.put() = 9;
  CheckEqual(g_closed, std::vector<int>{7, 8}, "put closes the held value before it is written");
  owned.reset();
  owned.reset();
  CheckEqual(g_closed, std::vector<int>{7, 8, 9}, "a second reset closes nothing");
  g_closed.clear();
}

void ReleaseGivesTheHandleUpUnclosed() {
  HANDLE raw = NewEvent();
  {
    UniqueHandle owned(raw);
    Check(owned.release() == raw && !owned, "release hands back the handle and holds nothing");
  }
  Check(IsOpen(raw), "a released handle stays open");
  CloseHandle(raw);
}

void NoneIsNeverClosed() {
  g_closed.clear();
  { const UniqueCounted none; }
  Check(g_closed.empty(), "an empty owner closes nothing");
  const UniqueHandle invalid(INVALID_HANDLE_VALUE);
  Check(!invalid, "INVALID_HANDLE_VALUE is no handle");
}

void ALibraryIsFreedByItsOwner() {
  // A library this process does not import, so that the owner's reference is the only one.
  {
    const UniqueLibrary library(LoadLibraryExW(L"msimg32.dll", nullptr, 0));
    Check(static_cast<bool>(library), "msimg32.dll loads");
    CheckEqual(GetModuleHandleW(L"msimg32.dll"), library.get(), "the owned library is loaded");
  }
  CheckEqual(GetModuleHandleW(L"msimg32.dll"), nullptr, "the library is freed when its owner goes");
}

}  // namespace

int main() {
  TheOwnerClosesAtTheEndOfItsScope();
  AMoveTransfersTheHandle();
  AMoveAssignmentClosesWhatTheTargetHeld();
  ResetAndPutCloseOnce();
  ReleaseGivesTheHandleUpUnclosed();
  NoneIsNeverClosed();
  ALibraryIsFreedByItsOwner();
  return corvix::win32::testing::Finish();
}
