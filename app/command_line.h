// The argument text of a Windows command line.
#pragma once

#include <string>
#include <string_view>

namespace corvix {

// What follows the program's own path in a full command line (as GetCommandLineW gives it), verbatim.
// The path ends at its closing quote when it starts with one (or at the end of the line when the quote is
// never closed), and otherwise at the first space or tab. The spaces and tabs that separate the path from
// the arguments are dropped; everything after them, trailing spaces included, is kept.
std::wstring ArgumentsFromCommandLine(std::wstring_view commandLine);

}  // namespace corvix
