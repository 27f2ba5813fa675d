// The hand-over of a run to the desktop shell's copy.
#include "app/win32/handover.h"

#include <windows.h>
// after windows.h, which it needs
#include <aclapi.h>

#include <memory>

#include "base/hex.h"

namespace corvix::win32 {
namespace {

// The offer's block, under a fixed name in the session's own namespace ("Local\\"): a copy that the session's
// shell starts sees it, no other session's process does. Its event and mutex have names of their own to each
// offer, which the block gives: a copy still running from an earlier offer holds its own.
constexpr wchar_t kBlockName[] = L"Local\\Corvix.Handover";

constexpr std::uint32_t kMagic = 0x32585643;  // "CVX2"
constexpr LONG kOffered = 0;
constexpr LONG kTaken = 1;
constexpr LONG kWithdrawn = 2;
// The longest argument text that can be handed over; a longer one (nothing an installer passes) is not.
constexpr std::size_t kMaxArguments = 4096;

struct Block {
  std::uint32_t magic;
  volatile LONG state;
  // What makes the names of this offer's event and mutex: the parent's process id and the time of the offer.
  std::uint32_t maker;
  std::uint32_t madeMs;
  std::uint32_t length;
  wchar_t arguments[kMaxArguments];
};

// The names of an offer's event (the copy has reported in) and mutex (held while the copy's run lasts).
std::wstring ObjectName(const Block& block, const wchar_t* what) {
  return std::wstring(kBlockName) + L"." + Hex(block.maker) + L"." + Hex(block.madeMs) + L"." + what;
}

// Full access for LocalSystem, the administrators, this process's user and the desktop user; medium
// integrity, so that the desktop user's unelevated copy may write to what an elevated parent made. Owned by
// the administrators, which only an elevated administrator (or LocalSystem) can make an owner: the mark a
// copy trusts, and one that no unelevated process of the user can forge.
UniqueLocal MakeDescriptor(std::wstring_view self, std::wstring_view shellUser) {
  const std::wstring sddl = L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;" + std::wstring(self) + L")(A;;GA;;;" +
                            std::wstring(shellUser) + L")S:(ML;;NW;;;ME)";
  return SecurityDescriptor(sddl.c_str());
}

// A handle to a new object, none when it cannot be made or one of that name exists already.
UniqueHandle Fresh(HANDLE handle) {
  UniqueHandle owned(handle);
  if (owned && GetLastError() == ERROR_ALREADY_EXISTS) owned.reset();
  return owned;
}

// Whether `object` was made by the administrators (an elevated administrator's objects are theirs) or by
// LocalSystem: no unelevated process, of this user or another, can offer a run.
bool MadeByTrusted(HANDLE object) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const UniqueLocal held(descriptor);
  const std::wstring sid = SidText(owner);
  return sid == kAdministratorsSid || sid == kLocalSystemSid;
}

}  // namespace

std::optional<HandoverOffer> HandoverOffer::Make(std::wstring_view arguments, std::wstring_view self,
                                                 std::wstring_view shellUser) {
  if (arguments.size() > kMaxArguments || self.empty() || shellUser.empty()) return std::nullopt;
  const UniqueLocal descriptor = MakeDescriptor(self, shellUser);
  if (!descriptor) return std::nullopt;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  HandoverOffer offer;
  offer.block_ =
      Fresh(CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, sizeof(Block), kBlockName));
  if (!offer.block_) return std::nullopt;
  offer.view_.reset(MapViewOfFile(offer.block_.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(Block)));
  if (!offer.view_) return std::nullopt;
  auto* block = static_cast<Block*>(offer.view_.get());
  block->maker = GetCurrentProcessId();
  block->madeMs = offer.madeMs_ = GetTickCount();
  offer.reported_ = Fresh(CreateEventW(&attributes, TRUE, FALSE, ObjectName(*block, L"Reported").c_str()));
  offer.running_ = Fresh(CreateMutexW(&attributes, FALSE, ObjectName(*block, L"Running").c_str()));
  if (!offer.reported_ || !offer.running_) return std::nullopt;
  block->length = static_cast<std::uint32_t>(arguments.size());
  arguments.copy(block->arguments, arguments.size());
  InterlockedExchange(&block->state, kOffered);
  // Last: a block without its mark is no offer.
  InterlockedExchange(reinterpret_cast<volatile LONG*>(&block->magic), static_cast<LONG>(kMagic));
  return offer;
}

bool HandoverOffer::Withdraw() {
  auto* block = static_cast<Block*>(view_.get());
  return InterlockedCompareExchange(&block->state, kWithdrawn, kOffered) == kTaken;
}

CopyOutcome HandoverOffer::Await(std::uint32_t& reportedMs, std::uint32_t& endedMs) {
  if (WaitForSingleObject(reported_.get(), copies::kReportInMs) != WAIT_OBJECT_0) {
    if (!Withdraw()) return CopyOutcome::kNeverCame;
    // Taken at the last moment: it reports in at once, unless it ended first.
    if (WaitForSingleObject(reported_.get(), copies::kLateReportMs) != WAIT_OBJECT_0) return CopyOutcome::kEndedUnsaid;
  }
  reportedMs = GetTickCount() - madeMs_;
  const DWORD left = reportedMs >= copies::kChildWaitMs ? 0 : copies::kChildWaitMs - reportedMs;
  const DWORD ended = WaitForSingleObject(running_.get(), left);
  endedMs = GetTickCount() - madeMs_;
  if (ended == WAIT_OBJECT_0 || ended == WAIT_ABANDONED) ReleaseMutex(running_.get());
  if (ended == WAIT_OBJECT_0) return CopyOutcome::kEnded;
  return ended == WAIT_ABANDONED ? CopyOutcome::kEndedUnsaid : CopyOutcome::kStillRunning;
}

HandoverClaim::Result HandoverClaim::Take(std::wstring_view arguments) {
  const UniqueHandle block(OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE | READ_CONTROL, FALSE, kBlockName));
  if (!block || !MadeByTrusted(block.get())) return Result::kNone;
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
  running_.reset(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, ObjectName(*offered, L"Running").c_str()));
  const DWORD held = running_ ? WaitForSingleObject(running_.get(), 0) : WAIT_FAILED;
  if (held != WAIT_OBJECT_0 && held != WAIT_ABANDONED) {
    running_.reset();
    return Result::kTaken;
  }
  const UniqueHandle reported(OpenEventW(EVENT_MODIFY_STATE, FALSE, ObjectName(*offered, L"Reported").c_str()));
  if (reported) SetEvent(reported.get());
  return Result::kTaken;
}

void HandoverClaim::End() {
  if (!running_) return;
  ReleaseMutex(running_.get());
  running_.reset();
}

}  // namespace corvix::win32
