// The version of an Office application that a start would run, found without starting it.
//
// Portable: the class registry's answers come through Installation (the Windows program reads them); this unit
// says what they mean and in which order they are asked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "office/installation.h"

namespace corvix {

// A version and where it was read, for the debugger channel.
struct RegisteredVersion {
  std::optional<std::uint32_t> major;  // empty: neither the ProgID's CurVer nor its server says
  std::wstring source;                 // "file version of the server", or "CurVer \"Outlook.Application.16\""
};

// The version in a versioned ProgID: 16 from "Outlook.Application.16" for "Outlook.Application" (the
// ProgID compared without regard to case); empty when the text is not the ProgID, a dot and a number.
std::optional<std::uint32_t> VersionOfProgId(std::wstring_view versioned, std::wstring_view progId);

// The version a start by `progId` would run: the major file version of the class's local server, the very
// file a start runs (every Outlook version registers the same class, so side-by-side installs can leave CurVer
// naming another one); only where no server file can be read, the version its CurVer names.
RegisteredVersion FindRegisteredVersion(Installation& installation, std::wstring_view progId);

// The program file of a LocalServer32 command line: a quoted path; or an unquoted one up to its ".exe"
// (such a path may hold spaces); or, without ".exe", up to the first space.
std::wstring ServerProgramOf(std::wstring_view commandLine);

}  // namespace corvix
