// What the class registry says of the version a start would run.
#include "office/registered_version.h"

#include "base/ascii.h"

namespace corvix {

std::optional<std::uint32_t> VersionOfProgId(std::wstring_view versioned, std::wstring_view progId) {
  if (versioned.size() < progId.size() + 2 ||
      !SameIgnoringAsciiCase<wchar_t>(versioned.substr(0, progId.size()), progId) || versioned[progId.size()] != L'.') {
    return std::nullopt;
  }
  const std::wstring_view digits = versioned.substr(progId.size() + 1);
  if (digits.size() > 4) return std::nullopt;
  std::uint32_t version = 0;
  for (const wchar_t c : digits) {
    if (c < L'0' || c > L'9') return std::nullopt;
    version = version * 10 + static_cast<std::uint32_t>(c - L'0');
  }
  return version;
}

RegisteredVersion FindRegisteredVersion(Installation& installation, std::wstring_view progId) {
  if (const ServerVersion server = installation.ServerFileVersion(progId); server.major) {
    return {server.major, server.otherView ? L"file version of the server in the other registry view"
                                           : L"file version of the server"};
  }
  const std::wstring current = installation.CurrentVersionOf(progId);
  if (const auto major = VersionOfProgId(current, progId)) return {major, L"CurVer \"" + current + L"\""};
  return {};
}

std::wstring ServerProgramOf(std::wstring_view commandLine) {
  while (!commandLine.empty() && commandLine.front() == L' ') commandLine.remove_prefix(1);
  if (!commandLine.empty() && commandLine.front() == L'"') {
    const std::size_t end = commandLine.find(L'"', 1);
    return std::wstring(commandLine.substr(1, end == std::wstring_view::npos ? std::wstring_view::npos : end - 1));
  }
  for (std::size_t i = 0; i + 4 <= commandLine.size(); ++i) {
    if (SameIgnoringAsciiCase<wchar_t>(commandLine.substr(i, 4), L".exe") &&
        (i + 4 == commandLine.size() || commandLine[i + 4] == L' '))
      return std::wstring(commandLine.substr(0, i + 4));
  }
  return std::wstring(commandLine.substr(0, commandLine.find(L' ')));
}

}  // namespace corvix
