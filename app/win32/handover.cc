// The hand-over of a run to the desktop shell's copy.
#include "app/win32/handover.h"

#include <windows.h>
// after windows.h, which they need
#include <aclapi.h>
#include <sddl.h>

#include <memory>

namespace corvix::win32 {
namespace {

// The names in the session's own namespace ("Local\"): a copy that the session's shell starts sees them, no
// other session's process does.
constexpr wchar_t kBlockName[] = L"Local\\Corvix.Handover";
constexpr wchar_t kReportedName[] = L"Local\\Corvix.Handover.Reported";
constexpr wchar_t kRunningName[] = L"Local\\Corvix.Handover.Running";

constexpr std::uint32_t kMagic = 0x31585643;  // "CVX1"
constexpr LONG kOffered = 0;
constexpr LONG kTaken = 1;
constexpr LONG kWithdrawn = 2;
// The longest argument text that can be handed over; a longer one (nothing an installer passes) is not.
constexpr std::size_t kMaxArguments = 4096;
// A copy that took the run just as the parent was taking it back is given this long to report in.
constexpr DWORD kLateReportMs = 5000;

struct Block {
  std::uint32_t magic;
  volatile LONG state;
  std::uint32_t length;
  wchar_t arguments[kMaxArguments];
};

// Full access for LocalSystem, the administrators, this process's user and the desktop user; medium
// integrity, so that the desktop user's unelevated copy may write to what an elevated parent made. Owned by
// the administrators, which only an elevated administrator can make an owner: the mark a copy trusts.
// Without `administrators`, the owner is this process's default (its user, as a rule).
UniqueLocal MakeDescriptor(std::wstring_view self, std::wstring_view shellUser, bool administrators) {
  const std::wstring sddl = std::wstring(administrators ? L"O:BA" : L"") + L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;" +
                            std::wstring(self) + L")(A;;GA;;;" + std::wstring(shellUser) + L")S:(ML;;NW;;;ME)";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    return UniqueLocal();
  }
  return UniqueLocal(descriptor);
}

// A handle to a new object, none when it cannot be made or one of that name exists already.
UniqueHandle Fresh(HANDLE handle) {
  UniqueHandle owned(handle);
  if (owned && GetLastError() == ERROR_ALREADY_EXISTS) owned.reset();
  return owned;
}

// Whether `object` was made by `user`, by the administrators (an elevated administrator's objects are
// theirs) or by LocalSystem: no other user's process can offer a run to this one.
bool MadeByTrusted(HANDLE object, std::wstring_view user) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const UniqueLocal held(descriptor);
  const std::wstring sid = SidText(owner);
  return !sid.empty() && (sid == user || sid == L"S-1-5-32-544" || sid == kLocalSystemSid);
}

}  // namespace

std::optional<HandoverOffer> HandoverOffer::Make(std::wstring_view arguments, std::wstring_view self,
                                                 std::wstring_view shellUser) {
  if (arguments.size() > kMaxArguments || self.empty() || shellUser.empty()) return std::nullopt;
  for (const bool administrators : {true, false}) {
    const UniqueLocal descriptor = MakeDescriptor(self, shellUser, administrators);
    if (!descriptor) continue;
    if (auto offer = Make(arguments, descriptor.get())) return offer;
  }
  return std::nullopt;
}

std::optional<HandoverOffer> HandoverOffer::Make(std::wstring_view arguments, void* descriptor) {
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  HandoverOffer offer;
  offer.block_ =
      Fresh(CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, sizeof(Block), kBlockName));
  offer.reported_ = Fresh(CreateEventW(&attributes, TRUE, FALSE, kReportedName));
  offer.running_ = Fresh(CreateMutexW(&attributes, FALSE, kRunningName));
  if (!offer.block_ || !offer.reported_ || !offer.running_) return std::nullopt;
  offer.view_.reset(MapViewOfFile(offer.block_.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(Block)));
  if (!offer.view_) return std::nullopt;
  auto* block = static_cast<Block*>(offer.view_.get());
  block->length = static_cast<std::uint32_t>(arguments.size());
  arguments.copy(block->arguments, arguments.size());
  InterlockedExchange(&block->state, kOffered);
  // Last: a block without its mark is no offer.
  InterlockedExchange(reinterpret_cast<volatile LONG*>(&block->magic), static_cast<LONG>(kMagic));
  offer.madeMs_ = GetTickCount();
  return offer;
}

bool HandoverOffer::Withdraw() {
  auto* block = static_cast<Block*>(view_.get());
  return InterlockedCompareExchange(&block->state, kWithdrawn, kOffered) == kTaken;
}

CopyOutcome HandoverOffer::Await(std::uint32_t& reportedMs, std::uint32_t& endedMs) {
  if (WaitForSingleObject(reported_.get(), relaunch::kReportInMs) != WAIT_OBJECT_0) {
    if (!Withdraw()) return CopyOutcome::kNeverCame;
    // Taken at the last moment: it reports in at once, unless it ended first.
    if (WaitForSingleObject(reported_.get(), kLateReportMs) != WAIT_OBJECT_0) return CopyOutcome::kEndedUnsaid;
  }
  reportedMs = GetTickCount() - madeMs_;
  const DWORD left = reportedMs >= relaunch::kChildWaitMs ? 0 : relaunch::kChildWaitMs - reportedMs;
  const DWORD ended = WaitForSingleObject(running_.get(), left);
  endedMs = GetTickCount() - madeMs_;
  if (ended == WAIT_OBJECT_0 || ended == WAIT_ABANDONED) ReleaseMutex(running_.get());
  if (ended == WAIT_OBJECT_0) return CopyOutcome::kEnded;
  return ended == WAIT_ABANDONED ? CopyOutcome::kEndedUnsaid : CopyOutcome::kStillRunning;
}

HandoverClaim::Result HandoverClaim::Take(std::wstring_view arguments, std::wstring_view self) {
  const UniqueHandle block(OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE | READ_CONTROL, FALSE, kBlockName));
  if (!block || !MadeByTrusted(block.get(), self)) return Result::kNone;
  const UniqueView view(MapViewOfFile(block.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(Block)));
  if (!view) return Result::kNone;
  auto* offered = static_cast<Block*>(view.get());
  if (offered->magic != kMagic || offered->length > kMaxArguments ||
      std::wstring_view(offered->arguments, offered->length) != arguments) {
    return Result::kNone;
  }
  const LONG state = InterlockedCompareExchange(&offered->state, kTaken, kOffered);
  if (state == kWithdrawn) return Result::kLate;
  if (state != kOffered) return Result::kNone;  // another Corvix took it
  // The run is this process's now. The parent hears of it only once the mutex is held, so that its wait on
  // the mutex is a wait for this run's end.
  running_.reset(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kRunningName));
  const DWORD held = running_ ? WaitForSingleObject(running_.get(), 0) : WAIT_FAILED;
  if (held != WAIT_OBJECT_0 && held != WAIT_ABANDONED) {
    running_.reset();
    return Result::kTaken;
  }
  const UniqueHandle reported(OpenEventW(EVENT_MODIFY_STATE, FALSE, kReportedName));
  if (reported) SetEvent(reported.get());
  return Result::kTaken;
}

void HandoverClaim::End() {
  if (!running_) return;
  ReleaseMutex(running_.get());
  running_.reset();
}

}  // namespace corvix::win32
