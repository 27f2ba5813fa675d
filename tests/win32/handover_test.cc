// The hand-over of a run to the desktop shell's copy, both sides in one process (the copy's on a thread of
// its own, as a mutex belongs to the thread that holds it): who may take an offer, and what the parent
// learns. Run under Wine by CTest.
//
// Prints each failed check and exits with the number of failures (tests/win32/check.h).
#include <windows.h>
// after windows.h, which they need
#include <aclapi.h>
#include <sddl.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/win32/handover.h"
#include "platform/win32/unique_handle.h"
#include "tests/win32/check.h"

namespace {

using corvix::CopyOutcome;
using corvix::win32::HandoverClaim;
using corvix::win32::HandoverOffer;
using corvix::win32::testing::Check;
using corvix::win32::testing::CheckEqual;

// Runs `body` on a thread of its own (MinGW's threads are Windows threads, without std::thread); Join waits
// for its end.
HANDLE Start(std::function<void()>& body) {
  return CreateThread(
      nullptr, 0,
      [](void* parameter) -> DWORD {
        (*static_cast<std::function<void()>*>(parameter))();
        return 0;
      },
      &body, 0, nullptr);
}

void Join(HANDLE thread) {
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

// This process's user, as a SID in text.
std::wstring OwnUser() {
  corvix::win32::UniqueHandle token;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put());
  std::vector<unsigned char> buffer(512);
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size)) return {};
  return corvix::win32::SidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
}

// What a Corvix with `arguments` makes of the open offer, on a thread of its own; a run it took ends at once.
HandoverClaim::Result TakeOnThread(const std::wstring& arguments) {
  HandoverClaim::Result result = HandoverClaim::Result::kNone;
  std::function<void()> copy = [&] {
    HandoverClaim claim;
    result = claim.Take(arguments);
  };
  Join(Start(copy));
  return result;
}

void OnlyACorvixWithTheSameArgumentTextTakesTheOffer() {
  const std::wstring user = OwnUser();
  std::optional<HandoverOffer> offer = HandoverOffer::Make(L"/s", user, user);
  Check(offer.has_value(), "an offer is made");
  if (!offer) return;
  // A user's own Corvix, started meanwhile with other argument text, is not taken for the copy: it does its
  // own run, with its own message.
  for (const wchar_t* other : {L"", L"/S", L"/s ", L" /s", L"/silent"}) {
    CheckEqual(TakeOnThread(other), HandoverClaim::Result::kNone, "other argument text takes no offer");
  }
  CheckEqual(TakeOnThread(L"/s"), HandoverClaim::Result::kTaken, "the administrators' offer is taken");
  // Taken once only.
  CheckEqual(TakeOnThread(L"/s"), HandoverClaim::Result::kNone, "a taken offer is not taken again");
  std::uint32_t reported = 0;
  std::uint32_t ended = 0;
  CheckEqual(offer->Await(reported, ended), CopyOutcome::kEnded, "the copy's run ended, and said so");
}

void TheParentHearsOfTheRunsEndNotOfTheCopys() {
  const std::wstring user = OwnUser();
  std::optional<HandoverOffer> offer = HandoverOffer::Make(L"", user, user);
  Check(offer.has_value(), "an offer for the empty argument text is made");
  if (!offer) return;
  const HANDLE heard = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::function<void()> copy = [&] {
    HandoverClaim claim;
    CheckEqual(claim.Take(L""), HandoverClaim::Result::kTaken, "the copy takes the offer");
    claim.End();
    // The copy lives on (its process ends after its run): the parent has heard all the same.
    CheckEqual(WaitForSingleObject(heard, 30000), WAIT_OBJECT_0, "the parent hears of the end while the copy lives");
  };
  const HANDLE thread = Start(copy);
  std::uint32_t reported = 0;
  std::uint32_t ended = 0;
  CheckEqual(offer->Await(reported, ended), CopyOutcome::kEnded, "the parent hears that the run ended");
  SetEvent(heard);
  Join(thread);
  CloseHandle(heard);
}

void ACopyThatDiesHoldingTheRunEndsUnsaid() {
  const std::wstring user = OwnUser();
  std::optional<HandoverOffer> offer = HandoverOffer::Make(L"/s", user, user);
  if (!offer) return Check(false, "an offer is made");
  // A thread that ends while it holds the mutex abandons it, as a copy's process does when it dies.
  HandoverClaim* claim = nullptr;
  std::function<void()> copy = [&] {
    claim = new HandoverClaim;
    CheckEqual(claim->Take(L"/s"), HandoverClaim::Result::kTaken, "the copy takes the offer");
    // Neither ended nor gone when its thread ends: the run is left as a crash leaves it.
  };
  Join(Start(copy));
  std::uint32_t reported = 0;
  std::uint32_t ended = 0;
  CheckEqual(offer->Await(reported, ended), CopyOutcome::kEndedUnsaid, "a copy that died holding the run");
  // Its handles go, as a dead process's do.
  delete claim;
}

void OneOfferAtATimeInASession() {
  const std::wstring user = OwnUser();
  std::optional<HandoverOffer> first = HandoverOffer::Make(L"/s", user, user);
  Check(first.has_value(), "the first offer is made");
  Check(!HandoverOffer::Make(L"/s", user, user).has_value(), "a second offer while the first is open is not");
  first.reset();
  Check(HandoverOffer::Make(L"/s", user, user).has_value(), "an offer once the first has gone");
  CheckEqual(TakeOnThread(L"/s"), HandoverClaim::Result::kNone, "no offer is left once its maker has gone");
}

// An offer that an unelevated process of the user could have made (owned by the user, not the administrators)
// is no offer: an elevated Corvix would otherwise take itself for a copy and run where it stands.
void AnOfferOwnedByTheUserIsRefused() {
  const std::wstring user = OwnUser();
  std::optional<HandoverOffer> offer = HandoverOffer::Make(L"/s", user, user);
  if (!offer) return Check(false, "an offer is made");
  const corvix::win32::UniqueHandle block(OpenFileMappingW(WRITE_OWNER, FALSE, L"Local\\Corvix.Handover"));
  PSID sid = nullptr;
  ConvertStringSidToSidW(user.c_str(), &sid);
  const corvix::win32::UniqueLocal held(sid);
  const DWORD owned =
      block ? SetSecurityInfo(block.get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, sid, nullptr, nullptr, nullptr)
            : GetLastError();
  CheckEqual(owned, static_cast<DWORD>(ERROR_SUCCESS), "the block is given to the user");
  CheckEqual(TakeOnThread(L"/s"), HandoverClaim::Result::kNone, "an offer owned by the user is refused");
}

// A copy left running (its user has not dismissed its message) holds its own offer's objects: the next
// elevated run can still make its offer, and its copy take it.
void ACopyStillRunningNeverBlocksTheNextOffer() {
  const std::wstring user = OwnUser();
  std::optional<HandoverOffer> first = HandoverOffer::Make(L"/s", user, user);
  if (!first) return Check(false, "the first offer is made");
  const HANDLE took = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::function<void()> running = [&] {
    HandoverClaim claim;
    CheckEqual(claim.Take(L"/s"), HandoverClaim::Result::kTaken, "the first copy takes the first offer");
    SetEvent(took);
    WaitForSingleObject(done, 30000);
  };
  const HANDLE thread = Start(running);
  WaitForSingleObject(took, 30000);
  first.reset();  // its parent ends at the bound; the copy runs on
  std::optional<HandoverOffer> second = HandoverOffer::Make(L"/s", user, user);
  Check(second.has_value(), "the next offer is made while the first copy still runs");
  CheckEqual(TakeOnThread(L"/s"), HandoverClaim::Result::kTaken, "the next copy takes the next offer");
  if (second) {
    std::uint32_t reported = 0;
    std::uint32_t ended = 0;
    CheckEqual(second->Await(reported, ended), CopyOutcome::kEnded, "the next parent hears of its own copy's end");
  }
  SetEvent(done);
  Join(thread);
  CloseHandle(took);
  CloseHandle(done);
}

}  // namespace

int main() {
  OnlyACorvixWithTheSameArgumentTextTakesTheOffer();
  TheParentHearsOfTheRunsEndNotOfTheCopys();
  ACopyThatDiesHoldingTheRunEndsUnsaid();
  OneOfferAtATimeInASession();
  AnOfferOwnedByTheUserIsRefused();
  ACopyStillRunningNeverBlocksTheNextOffer();
  return corvix::win32::testing::Finish();
}
