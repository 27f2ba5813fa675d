// The well-known accounts that Corvix tells apart, as SIDs in text ("S-1-5-18").
#pragma once

#include <string_view>

namespace corvix {

// LocalSystem: a service's or a deployment tool's account, nobody's desktop.
inline constexpr std::wstring_view kLocalSystemSid = L"S-1-5-18";
// BUILTIN\Administrators: the owner of what an elevated administrator makes.
inline constexpr std::wstring_view kAdministratorsSid = L"S-1-5-32-544";
// NT SERVICE\TrustedInstaller: the owner of what Windows Setup and servicing install.
inline constexpr std::wstring_view kTrustedInstallerSid =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

}  // namespace corvix
