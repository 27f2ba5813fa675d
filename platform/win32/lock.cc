// The lock as a slim reader/writer lock, held exclusively: zero when free, so it needs no set-up or clean-up.
#include "base/lock.h"

#include <windows.h>

namespace corvix {

namespace {

static_assert(sizeof(SRWLOCK) == sizeof(void*) && alignof(SRWLOCK) == alignof(void*),
              "the SRW lock lives in the lock's pointer-sized state");

SRWLOCK* Srw(void** state) { return reinterpret_cast<SRWLOCK*>(state); }

}  // namespace

Lock::Lock() = default;  // a null state is SRWLOCK_INIT
Lock::~Lock() = default;

void Lock::lock() { AcquireSRWLockExclusive(Srw(&state_)); }

void Lock::unlock() { ReleaseSRWLockExclusive(Srw(&state_)); }

}  // namespace corvix
