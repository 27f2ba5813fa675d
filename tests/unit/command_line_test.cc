// Splitting the program's path off the raw command line, as the run reads it.
#include <gtest/gtest.h>

#include "app/command_line.h"

namespace corvix {
namespace {

TEST(CommandLine, ArgumentTextIsKeptVerbatimAfterThePath) {
  const struct {
    const wchar_t* commandLine;
    const wchar_t* arguments;
  } cases[] = {
      {L"Corvix.exe", L""},
      {L"\"C:\\Program Files\\Merrowin\\Corvix.exe\"", L""},
      {L"Corvix.exe /s", L"/s"},
      {L"\"C:\\Program Files\\Merrowin\\Corvix.exe\" /s", L"/s"},
      {L"\"C:\\Program Files\\Corvix.exe\"/s", L"/s"},
      {L"Corvix.exe   /s", L"/s"},
      {L"Corvix.exe\t/s", L"/s"},
      {L"Corvix.exe /s ", L"/s "},
      {L"Corvix.exe /s x", L"/s x"},
      {L"Corvix.exe \"/s\"", L"\"/s\""},
      {L"C:\\Program Files\\Corvix.exe /s", L"Files\\Corvix.exe /s"},
      {L"\"C:\\unclosed /s", L""},
      {L"C:\\Corvix.exe \u00E9\t\"a b\"", L"\u00E9\t\"a b\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(c.commandLine)));
    EXPECT_EQ(std::wstring(c.arguments), ArgumentsFromCommandLine(c.commandLine));
  }
}

}  // namespace
}  // namespace corvix
