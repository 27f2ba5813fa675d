// What the machine and the user's profile say about an application, read without calling it: whether it runs,
// which version a start would run, and the user's settings and files that a start (or a save) would meet.
//
// Portable: no platform types appear here. The Windows program answers from windows, processes, the registry
// and files (platform/win32/installation.h); the unit tests from the stand-in's model. No question calls the
// application, so one answerer serves a whole run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "office/automation.h"

namespace corvix {

// The major file version of a class's registered local server; `otherView`: registered only in the other
// registry view than the caller's (a 32-bit Office seen from a 64-bit program, or the reverse).
struct ServerVersion {
  std::optional<std::uint32_t> major;
  bool otherView = false;
};

// A value of the user's registry (HKEY_CURRENT_USER): not there (no such key or value), read (its text: a string
// as stored (a REG_EXPAND_SZ with its environment references expanded); a DWORD in decimal), or there but not readable
// as either.
struct UserRegistryValue {
  enum class State { kAbsent, kRead, kUnreadable };
  State state = State::kAbsent;
  std::wstring text;
};

// A file opened for reading, in place: its size, and its bytes at an offset. Destroying it closes the file.
class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  virtual std::uint64_t Size() const = 0;
  // Reads exactly `count` bytes at `offset` into `into`; false when they cannot all be read.
  virtual bool Read(std::uint64_t offset, void* into, std::size_t count) = 0;
};

// The questions asked about an application before it is attached to or started.
class Installation {
 public:
  virtual ~Installation() = default;
  // Whether a top-level window of this class exists on the caller's desktop: a running instance shows itself
  // by its main window even when attaching to it fails (it is not in the running object table yet, or it
  // runs at another integrity level).
  virtual bool HasTopLevelWindow(std::wstring_view windowClass) = 0;
  // Whether a process of this program file name ("WINWORD.EXE", compared without regard to case) runs in the
  // caller's session: an application that runs without a window yet, or without any.
  virtual bool HasProcessInSession(std::wstring_view imageName) = 0;
  // What the class registry says a start by `progId` would run: the versioned identifier that the ProgID's
  // CurVer names ("Outlook.Application.16"), empty when it has none; and the major file version of the class's
  // local server, looked for as COM activates it (in the caller's own registry view, then in the other), empty
  // when no server is registered or its file cannot be read.
  virtual std::wstring CurrentVersionOf(std::wstring_view progId) = 0;
  virtual ServerVersion ServerFileVersion(std::wstring_view progId) = 0;
  // The user's settings and files: the user's roaming application data folder (%APPDATA%; empty when it cannot
  // be found), whether `path` names an existing file (not a directory), a value of the user's registry, and a
  // file opened for reading, shared with any writer (an application may hold it open): none, with how the open
  // ended in `outcome`, when it cannot be opened.
  virtual std::wstring RoamingAppDataFolder() = 0;
  virtual bool IsExistingFile(std::wstring_view path) = 0;
  // Whether `path` names an existing file (not a directory) that the caller may write now: its read-only
  // attribute is clear and opening it for writing succeeds. Nothing is written.
  virtual bool IsWritableFile(std::wstring_view path) = 0;
  virtual UserRegistryValue ReadUserRegistryValue(std::wstring_view key, std::wstring_view name) = 0;
  virtual std::unique_ptr<ReadableFile> OpenForReading(std::wstring_view path, Outcome& outcome) = 0;
};

// What a clean-up is handed: the answers about its application, and the way to attach to it or start it.
struct OfficeAccess {
  Installation& installation;
  Automation& automation;
};

}  // namespace corvix
