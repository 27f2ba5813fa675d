// Which file a LocalSystem run's per-session copies start from: Corvix's own, or a protected copy of it.
//
// Portable: app/win32's copy_source reads the owners and DACLs of the file and of its folders into these
// facts, makes the protected copy this asks for, and removes it when the copies have ended.
//
// SYSTEM starts each copy as a session's user. When anyone but the administrators, SYSTEM and TrustedInstaller
// can change the file, its folder or a folder above it, one user could replace it and SYSTEM would run that
// user's code as another user; and a copy starts only from a file its user can read and run, which a
// deployment tool's package cache often is not. In either case the copies start from a copy of the running
// file in a folder that only the administrators and SYSTEM can change and every user can read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvix {

// One entry of a DACL, as far as deciding on it needs.
struct AceFacts {
  // The SID as text; empty for an entry of a kind not understood, which counts as anyone's and as allowing
  // every right.
  std::wstring sid;
  std::uint32_t mask = 0;
  bool allow = true;
  // The entry is only inherited by objects made below, and does not apply to this one.
  bool inheritOnly = false;
};

// An object's owner and DACL.
struct ObjectSecurity {
  // The owner's SID as text; empty when not read.
  std::wstring owner;
  // No DACL at all: everyone has every access.
  bool nullDacl = false;
  std::vector<AceFacts> aces;
};

struct SourceFacts {
  // The file's path is on a local drive ("C:\..."), not a share.
  bool localDrive = false;
  // The file's security; none when it could not be read.
  std::optional<ObjectSecurity> file;
  // The security of the file's folder, then of each folder above it up to the drive's root (FoldersAbove);
  // none for one that could not be read.
  std::vector<std::optional<ObjectSecurity>> folders;
};

enum class SourceFinding {
  kSafe,              // the copies start from Corvix's own file
  kUnreadable,        // the security of the file or of a folder could not be read
  kNotLocal,          // the file is not on a local drive
  kFileChangeable,    // someone else can change the file
  kFolderChangeable,  // someone else can change its folder, add to it or delete from it
  kAboveChangeable,   // someone else can replace or rewrite a folder above it
  kUsersCannotRun,    // the users cannot read and run the file (a deployment tool's cache)
};

// Whether the copies can start from Corvix's own file, or must start from a protected copy. When in doubt
// it is a protected copy: that costs only a copy of the file.
SourceFinding DecideSource(const SourceFacts& facts);

// The folders whose security the decision needs, for a file at `path`: its folder, then each folder above it,
// ending with the drive's root ("C:\"); empty for a path that is not on a local drive. "\\?\C:\..." is a local
// drive's path too.
std::vector<std::wstring> FoldersAbove(std::wstring_view path);

// The name of the running image's file as the system maps it ("\Device\HarddiskVolume3\..."), in the form of
// a held file's NT name, for comparing the two: a name that starts with a drive ("\??\C:\...", as Wine gives
// it) has the drive replaced by `driveDevice` (what the drive letter stands for, "\Device\HarddiskVolume3").
std::wstring MappedNameAsDevice(std::wstring_view mapped, std::wstring_view driveDevice);
// The drive ("C:") of a mapped name that starts with one ("\??\C:\..."); empty for one in device form.
std::wstring MappedNameDrive(std::wstring_view mapped);
// Whether two NT names name the same path, ignoring the case of ASCII letters.
bool SameNtName(std::wstring_view a, std::wstring_view b);

namespace source {
// The protected folder's security, in SDDL: owned by the administrators, not inheriting from the folder it is
// made in, full control for the administrators and SYSTEM, read and run for every signed-in user; its file
// inherits the same.
inline constexpr wchar_t kFolderSddl[] = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;AU)";
}  // namespace source

}  // namespace corvix
