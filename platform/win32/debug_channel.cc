// The debugger channel's writer thread.
#include "platform/win32/debug_channel.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <string>

#include "base/channel_policy.h"
#include "platform/win32/unique_handle.h"

namespace corvix::win32 {

namespace {

// How often the end of the run looks whether the lines have been written.
constexpr DWORD kEndPollMs = 10;

// What the producers and the writer thread share. Made with the first line that has a listener and never
// freed: the writer may still be in a write while the process ends (static destructors run while other
// threads still run, and a run whose clean-up was given up ends with TerminateProcess).
struct Writer {
  Writer() : wake(CreateSemaphoreW(nullptr, 0, LONG_MAX, nullptr)) {
    if (!wake) lines.Kill();
  }

  ChannelQueue lines;
  // Released once per line handed over.
  UniqueHandle wake;
};

std::atomic<Writer*> g_writer{nullptr};

Writer& TheWriter() {
  if (Writer* const writer = g_writer.load()) return *writer;
  auto* made = new Writer();
  Writer* expected = nullptr;
  if (g_writer.compare_exchange_strong(expected, made)) return *made;
  delete made;  // another thread's came first
  return *expected;
}

// The writer thread. It writes with OutputDebugStringW rather than through the debug monitor's shared
// buffer and events itself, which would let each wait have a time-out: OutputDebugStringW is the documented
// interface (the buffer's layout and its mutex are not), it hands the line to an attached debugger first (in
// UTF-16 to one that asks for it) and to a monitor only when no debugger takes it, and whatever it waits on
// inside (the monitor's mutex, for ever; its buffer-ready event, 10 s), the queue gives the listener up once a
// write has not returned within the stall threshold. A write that never returns leaves this thread where it
// is, holding no lock of the process's; the process ends without it.
DWORD WINAPI WriteLines(void* parameter) {
  Writer& writer = *static_cast<Writer*>(parameter);
  for (;;) {
    WaitForSingleObject(writer.wake.get(), INFINITE);
    while (const auto line = writer.lines.Take(GetTickCount())) {
      OutputDebugStringW(line->c_str());
      writer.lines.Written();
    }
    if (writer.lines.Dead(GetTickCount())) return 0;
  }
}

}  // namespace

bool SomeoneListens() {
  if (IsDebuggerPresent()) return true;
  // The access OutputDebugStringW asks for: a buffer this process cannot write to takes none of its lines.
  return static_cast<bool>(UniqueHandle(OpenFileMappingW(FILE_MAP_WRITE, FALSE, L"DBWIN_BUFFER")));
}

void DebugChannel::Write(std::wstring_view line) {
  if (!SomeoneListens()) return;
  Writer& writer = TheWriter();
  const Handed handed = writer.lines.Push(std::wstring(line), GetTickCount());
  if (handed == Handed::kDropped) return;
  if (handed == Handed::kFirst) {
    // The thread runs on without its handle.
    if (!UniqueHandle(CreateThread(nullptr, 0, WriteLines, &writer, 0, nullptr))) {
      // No thread, no lines: never a write on the producer's own thread.
      writer.lines.Kill();
      return;
    }
  }
  ReleaseSemaphore(writer.wake.get(), 1, nullptr);
}

void FinishDebugChannel() {
  Writer* const writer = g_writer.load();
  if (writer == nullptr) return;
  const DWORD began = GetTickCount();
  for (;;) {
    const DWORD wait = writer->lines.EndWaitMs(GetTickCount(), began);
    if (wait == 0) return;
    Sleep(std::min(wait, kEndPollMs));
  }
}

}  // namespace corvix::win32
