// The debugger channel's writer under Wine, with a debug monitor in this process: nothing without a monitor,
// every line to a live one in order, and a channel held by another thread's DBWinMutex that neither the
// writers of lines nor the end of the run wait for. Run under Wine by CTest; a write that waited would
// hold this program until CTest's time-out.
//
// Prints each failed check and exits with the number of failures (tests/win32/check.h).
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/debug_channel.h"
#include "tests/win32/check.h"

namespace {

using corvix::win32::testing::Check;
using corvix::win32::testing::CheckEqual;

// A debug monitor as DebugView is one: the shared buffer, its two events, and a thread that takes each line.
class Monitor {
 public:
  Monitor() {
    InitializeCriticalSection(&lock_);
    buffer_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER");
    view_ = buffer_ == nullptr ? nullptr : MapViewOfFile(buffer_, FILE_MAP_READ, 0, 0, 0);
    bufferReady_ = CreateEventW(nullptr, FALSE, TRUE, L"DBWIN_BUFFER_READY");
    dataReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (view_ != nullptr && bufferReady_ != nullptr && dataReady_ != nullptr && stop_ != nullptr) {
      thread_ = CreateThread(nullptr, 0, Take, this, 0, nullptr);
    }
  }
  ~Monitor() {
    if (thread_ != nullptr) {
      SetEvent(stop_);
      WaitForSingleObject(thread_, 10000);
      CloseHandle(thread_);
    }
    for (const HANDLE handle : {stop_, dataReady_, bufferReady_}) {
      if (handle != nullptr) CloseHandle(handle);
    }
    if (view_ != nullptr) UnmapViewOfFile(view_);
    if (buffer_ != nullptr) CloseHandle(buffer_);
    DeleteCriticalSection(&lock_);
  }
  Monitor(const Monitor&) = delete;
  Monitor& operator=(const Monitor&) = delete;

  bool listening() const { return thread_ != nullptr; }

  std::vector<std::string> lines() {
    EnterCriticalSection(&lock_);
    std::vector<std::string> copy = lines_;
    LeaveCriticalSection(&lock_);
    return copy;
  }

  // Waits until `count` lines have come (10 s at most).
  std::vector<std::string> WaitFor(std::size_t count) {
    for (int i = 0; i < 1000 && lines().size() < count; ++i) Sleep(10);
    return lines();
  }

 private:
  static DWORD WINAPI Take(void* parameter) {
    auto& monitor = *static_cast<Monitor*>(parameter);
    const HANDLE waits[] = {monitor.stop_, monitor.dataReady_};
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
      const char* text = static_cast<const char*>(monitor.view_) + sizeof(DWORD);
      EnterCriticalSection(&monitor.lock_);
      monitor.lines_.emplace_back(text, strnlen(text, 4096 - sizeof(DWORD)));
      LeaveCriticalSection(&monitor.lock_);
      SetEvent(monitor.bufferReady_);
    }
    return 0;
  }

  CRITICAL_SECTION lock_;
  HANDLE buffer_ = nullptr;
  void* view_ = nullptr;
  HANDLE bufferReady_ = nullptr;
  HANDLE dataReady_ = nullptr;
  HANDLE stop_ = nullptr;
  HANDLE thread_ = nullptr;
  std::vector<std::string> lines_;
};

// Holds DBWinMutex on a thread of its own (the mutex does not keep its owner thread out) until let go.
class MutexHolder {
 public:
  MutexHolder() {
    held_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Hold, this, 0, nullptr);
    holds_ = thread_ != nullptr && WaitForSingleObject(held_, 10000) == WAIT_OBJECT_0;
  }
  ~MutexHolder() {
    LetGo();
    if (thread_ != nullptr) CloseHandle(thread_);
    CloseHandle(release_);
    CloseHandle(held_);
  }
  MutexHolder(const MutexHolder&) = delete;
  MutexHolder& operator=(const MutexHolder&) = delete;

  bool holds() const { return holds_; }
  void LetGo() {
    SetEvent(release_);
    if (thread_ != nullptr) WaitForSingleObject(thread_, 10000);
  }

 private:
  static DWORD WINAPI Hold(void* parameter) {
    auto& holder = *static_cast<MutexHolder*>(parameter);
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, L"DBWinMutex");
    if (mutex == nullptr) return 1;
    const DWORD taken = WaitForSingleObject(mutex, 10000);
    if (taken == WAIT_OBJECT_0 || taken == WAIT_ABANDONED) {
      SetEvent(holder.held_);
      WaitForSingleObject(holder.release_, INFINITE);
      ReleaseMutex(mutex);
    }
    CloseHandle(mutex);
    return 0;
  }

  HANDLE held_ = nullptr;
  HANDLE release_ = nullptr;
  HANDLE thread_ = nullptr;
  bool holds_ = false;
};

namespace win32 = corvix::win32;

}  // namespace

int main() {
  win32::DebugChannel channel;
  // Nobody listens: no debugger here, and no monitor's buffer yet. The line goes nowhere, and the end has
  // nothing to wait for.
  Check(!win32::SomeoneListens(), "nobody listens before the monitor is there");
  channel.Write(L"Corvix: unheard");
  win32::FinishDebugChannel();
  {
    Monitor monitor;
    Check(monitor.listening(), "the monitor came up");
    Check(win32::SomeoneListens(), "the monitor's buffer counts as a listener");
    channel.Write(L"Corvix: one");
    channel.Write(L"Corvix: two");
    win32::FinishDebugChannel();
    CheckEqual(monitor.WaitFor(2), std::vector<std::string>{"Corvix: one", "Corvix: two"},
               "a live monitor takes every line, in order, and none written before it was there");
    {
      // Another thread holds the channel: the write of the next line waits on it for ever.
      MutexHolder holder;
      Check(holder.holds(), "DBWinMutex was taken");
      channel.Write(L"Corvix: stuck");
      // The end of the run gives the stuck write up instead of waiting for it; then lines are dropped.
      win32::FinishDebugChannel();
      channel.Write(L"Corvix: dropped");
      win32::FinishDebugChannel();
      holder.LetGo();
      // The write that was in flight goes through once the mutex is free; the dropped line never comes.
      monitor.WaitFor(3);
      Sleep(300);
      CheckEqual(monitor.lines(), std::vector<std::string>{"Corvix: one", "Corvix: two", "Corvix: stuck"},
                 "after the stuck write the channel stays given up");
    }
  }
  Check(!win32::SomeoneListens(), "nobody listens once the monitor has gone");
  return corvix::win32::testing::Finish();
}
