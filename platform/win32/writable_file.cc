// Whether a file may be written now, asked of the file system without writing it.
#include <windows.h>

#include <string>

#include "platform/win32/com_automation.h"
#include "platform/win32/unique_handle.h"

namespace corvix::win32 {

bool ComAutomation::IsWritableFile(std::wstring_view path) {
  if (path.empty()) return false;
  const std::wstring name(path);
  // The read-only attribute is checked on its own: an administrator (and Wine's root) may open such a file
  // for writing, but Word refuses to save over it.
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) return false;
  // Opening for writing checks the file's access rights and any other program's lock on it (one that holds it
  // open without sharing it with writers). OPEN_EXISTING changes nothing in the file, not even its times.
  const UniqueHandle file(CreateFileW(name.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  return static_cast<bool>(file);
}

}  // namespace corvix::win32
