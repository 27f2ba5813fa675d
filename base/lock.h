// A lock for a little shared state (a call's name, the ends of a queue), never held while anything is waited
// for. A thread that finds it held is put to sleep by the scheduler rather than spinning, so on one CPU the
// holder runs on and lets it go. Defined by the platform (platform/win32/lock.cc, platform/posix/lock.cc):
// MinGW-w64's default ("win32") thread model has no std::mutex.
#pragma once

namespace corvix {

class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void lock();
  void unlock();

 private:
  // The platform's lock, or a pointer to it.
  void* state_ = nullptr;
};

// Holds a Lock for its scope.
class LockGuard {
 public:
  explicit LockGuard(Lock& lock) : lock_(lock) { lock_.lock(); }
  ~LockGuard() { lock_.unlock(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock& lock_;
};

}  // namespace corvix
