// COM for the calling thread, for the lifetime of one owner.
#pragma once

#include <windows.h>

#include <objbase.h>

namespace corvix::win32 {

// Joins the thread to a single-threaded apartment and leaves it when the owner goes. Declare the owner
// before any COM reference so that it is destroyed after all of them.
//
// COINIT_DISABLE_OLE1DDE ("disables DDE for OLE1 support", Microsoft's COINIT documentation): Corvix talks
// to no OLE 1 server, so its apartments need not support one.
class ScopedComInit {
 public:
  ScopedComInit() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
  ~ScopedComInit() {
    // S_FALSE (already initialised on this thread) still counts and is balanced; a failure is not.
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ScopedComInit(const ScopedComInit&) = delete;
  ScopedComInit& operator=(const ScopedComInit&) = delete;

  // Leaves the thread in its apartment when the owner goes (LeaveApartment, platform/win32/give_up.h).
  void Abandon() { result_ = E_ABORT; }

  bool ok() const { return SUCCEEDED(result_); }
  HRESULT result() const { return result_; }

 private:
  HRESULT result_;
};

}  // namespace corvix::win32
