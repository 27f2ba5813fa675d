// The lock as a std::mutex, for the native build (the unit tests).
#include "base/lock.h"

#include <mutex>

namespace corvix {

namespace {

std::mutex* Mutex(void* state) { return static_cast<std::mutex*>(state); }

}  // namespace

Lock::Lock() : state_(new std::mutex) {}

Lock::~Lock() { delete Mutex(state_); }

void Lock::lock() { Mutex(state_)->lock(); }

void Lock::unlock() { Mutex(state_)->unlock(); }

}  // namespace corvix
