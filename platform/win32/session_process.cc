// Looking for a running application by its process in the caller's session.
#include <windows.h>

#include <tlhelp32.h>

#include <string>

#include "office/registered_version.h"
#include "platform/win32/com_automation.h"
#include "platform/win32/unique_handle.h"

namespace corvix::win32 {

bool ComAutomation::HasProcessInSession(std::wstring_view imageName) {
  // A snapshot lists every process of the machine, each by its program file's name (szExeFile), but not
  // their sessions: each one of that name is asked for its session. A process whose session cannot be read
  // (ProcessIdToSessionId needs PROCESS_QUERY_INFORMATION: another user's, a protected one) is not counted;
  // one at a higher integrity level in this session still shows itself by its main window (the functions'
  // documentation: docs/sources.md).
  DWORD ownSession = 0;
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &ownSession)) return false;
  const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  bool found = false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more && !found;
       more = Process32NextW(snapshot.get(), &entry)) {
    DWORD session = 0;
    found = SameNameIgnoringCase(imageName, entry.szExeFile) && ProcessIdToSessionId(entry.th32ProcessID, &session) &&
            session == ownSession;
  }
  return found;
}

}  // namespace corvix::win32
