// What the machine and the user's profile say about an application, read with Win32 calls alone.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "office/installation.h"

namespace corvix::win32 {

// Answers from the caller's desktop, its session's processes, the registry and the file system. No application
// is called and nothing is kept between calls, so one instance serves every clean-up's thread.
class Win32Installation final : public Installation {
 public:
  // FindWindow by class on the calling thread's desktop.
  bool HasTopLevelWindow(std::wstring_view windowClass) override;
  // A process snapshot, each process of that name asked for its session.
  bool HasProcessInSession(std::wstring_view imageName) override;
  // HKCR\<progId>\CurVer; the version resource of the class's LocalServer32 program, in this process's registry
  // view, then in the other.
  std::wstring CurrentVersionOf(std::wstring_view progId) override;
  ServerVersion ServerFileVersion(std::wstring_view progId) override;
  // APPDATA of the environment, the file's attributes (and, to say it may be written, an open for writing that
  // every other opener may share), HKEY_CURRENT_USER, and CreateFileW shared with every writer.
  std::wstring RoamingAppDataFolder() override;
  bool IsExistingFile(std::wstring_view path) override;
  bool IsWritableFile(std::wstring_view path) override;
  UserRegistryValue ReadUserRegistryValue(std::wstring_view key, std::wstring_view name) override;
  std::unique_ptr<ReadableFile> OpenForReading(std::wstring_view path, Outcome& outcome) override;
};

}  // namespace corvix::win32
