// What the class registry says of the version a start would run.
#include <gtest/gtest.h>

#include "office/registered_version.h"
#include "tests/unit/test_support.h"

namespace corvix {
namespace {

TEST(VersionOfProgId, OnlyTheProgIdADotAndANumber) {
  const std::wstring_view progId = L"Outlook.Application";
  EXPECT_EQ(16u, VersionOfProgId(L"Outlook.Application.16", progId));
  EXPECT_EQ(12u, VersionOfProgId(L"outlook.application.12", progId));  // ProgIDs are not case-sensitive
  for (const wchar_t* other :
       {L"", L"Outlook.Application", L"Outlook.Application.", L"Outlook.Application.16a", L"Outlook.Applications.16",
        L"Word.Application.16", L"Outlook.Application.-1", L"Outlook.Application.123456"}) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(other)));
    EXPECT_EQ(std::nullopt, VersionOfProgId(other, progId));
  }
}

TEST(ServerProgramOf, QuotedUnquotedAndWithSpaces) {
  struct Case {
    const wchar_t* command;
    const wchar_t* program;
  };
  for (const Case& c : {
           Case{L"\"C:\\Program Files\\Microsoft Office\\root\\Office16\\OUTLOOK.EXE\" /automation",
                L"C:\\Program Files\\Microsoft Office\\root\\Office16\\OUTLOOK.EXE"},
           Case{L"C:\\PROGRA~1\\MICROS~2\\Office12\\OUTLOOK.EXE /automation",
                L"C:\\PROGRA~1\\MICROS~2\\Office12\\OUTLOOK.EXE"},
           Case{L"C:\\Program Files\\Microsoft Office\\Office12\\Outlook.exe /automation",
                L"C:\\Program Files\\Microsoft Office\\Office12\\Outlook.exe"},
           Case{L"C:\\Office\\OUTLOOK.EXE", L"C:\\Office\\OUTLOOK.EXE"},
           Case{L"C:\\Office\\outlook /automation", L"C:\\Office\\outlook"},
           Case{L"\"C:\\unterminated", L"C:\\unterminated"},
           Case{L"", L""},
       }) {
    EXPECT_EQ(std::wstring(c.program), ServerProgramOf(c.command)) << c.command;
  }
}

// The server's file version decides, in whichever registry view the class is; CurVer only where no server
// file can be read.
TEST(FindRegisteredVersion, TheServersFileVersionThenCurVer) {
  struct Case {
    const char* outlook;
    std::optional<std::uint32_t> major;
    const wchar_t* source;
  };
  for (const Case& c : {
           Case{"outlook installed version 16 fileversion 12\n", 12, L"file version of the server"},
           Case{"outlook installed version 12 fileversion 16 otherview\n", 16,
                L"file version of the server in the other registry view"},
           Case{"outlook installed version 16\n", 16, L"CurVer \"Outlook.Application.16\""},
           Case{"outlook installed\n", std::nullopt, L""},
       }) {
    SCOPED_TRACE(c.outlook);
    auto office = testing::LoadScenario(c.outlook);
    standin::MemoryAutomation installation(*office);
    const RegisteredVersion version = FindRegisteredVersion(installation, L"Outlook.Application");
    EXPECT_EQ(c.major, version.major);
    EXPECT_EQ(std::wstring(c.source), version.source);
    EXPECT_TRUE(office->Journal().empty());  // nothing is asked of Outlook itself
  }
}

}  // namespace
}  // namespace corvix
