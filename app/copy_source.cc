// Which file a LocalSystem run's per-session copies start from.
#include "app/copy_source.h"

#include <array>

#include "app/sids.h"
#include "base/ascii.h"

namespace corvix {
namespace {

// A file's and a folder's access rights (winnt.h), and what the generic rights stand for on a file.
namespace access {
constexpr std::uint32_t kReadData = 0x1;        // FILE_READ_DATA, FILE_LIST_DIRECTORY
constexpr std::uint32_t kWriteData = 0x2;       // FILE_WRITE_DATA, FILE_ADD_FILE
constexpr std::uint32_t kAppendData = 0x4;      // FILE_APPEND_DATA, FILE_ADD_SUBDIRECTORY
constexpr std::uint32_t kWriteEa = 0x10;        // FILE_WRITE_EA
constexpr std::uint32_t kExecute = 0x20;        // FILE_EXECUTE, FILE_TRAVERSE
constexpr std::uint32_t kDeleteChild = 0x40;    // FILE_DELETE_CHILD
constexpr std::uint32_t kDelete = 0x10000;      // DELETE
constexpr std::uint32_t kWriteDac = 0x40000;    // WRITE_DAC
constexpr std::uint32_t kWriteOwner = 0x80000;  // WRITE_OWNER
constexpr std::uint32_t kMaximumAllowed = 0x2000000;
constexpr std::uint32_t kGenericAll = 0x10000000;
constexpr std::uint32_t kGenericExecute = 0x20000000;
constexpr std::uint32_t kGenericWrite = 0x40000000;
constexpr std::uint32_t kGenericRead = 0x80000000;
constexpr std::uint32_t kFileAll = 0x1f01ff;      // FILE_ALL_ACCESS
constexpr std::uint32_t kFileRead = 0x120089;     // FILE_GENERIC_READ
constexpr std::uint32_t kFileWrite = 0x120116;    // FILE_GENERIC_WRITE
constexpr std::uint32_t kFileExecute = 0x1200a0;  // FILE_GENERIC_EXECUTE

// What changes a file: its data, its extended attributes, its DACL or owner, or deleting it.
constexpr std::uint32_t kChangesFile = kWriteData | kAppendData | kWriteEa | kDelete | kWriteDac | kWriteOwner;
// A folder, besides: files and folders added to it (a DLL put beside the program), and its entries deleted.
constexpr std::uint32_t kChangesFolder = kChangesFile | kDeleteChild;
// A folder above: what lets it, or the folder below it, be renamed away and another put in its place, or its
// DACL rewritten. Adding to it does not (every signed-in user may add folders to a drive's root).
constexpr std::uint32_t kReplacesAbove = kDelete | kDeleteChild | kWriteDac | kWriteOwner;
// What starting a program needs of its file.
constexpr std::uint32_t kRun = kReadData | kExecute;
static_assert((kFileWrite & kChangesFile) != 0 && (kFileRead & kRun) == kReadData && (kFileExecute & kRun) == kExecute,
              "the generic rights map onto the rights decided on");
}  // namespace access

// The specific rights an entry's mask stands for on a file; MAXIMUM_ALLOWED, which has no place in an entry,
// as every right.
std::uint32_t Specific(std::uint32_t mask) {
  if ((mask & (access::kGenericAll | access::kMaximumAllowed)) != 0) mask |= access::kFileAll;
  if ((mask & access::kGenericRead) != 0) mask |= access::kFileRead;
  if ((mask & access::kGenericWrite) != 0) mask |= access::kFileWrite;
  if ((mask & access::kGenericExecute) != 0) mask |= access::kFileExecute;
  return mask & access::kFileAll;
}

bool Trusted(std::wstring_view sid) {
  return sid == kAdministratorsSid || sid == kLocalSystemSid || sid == kTrustedInstallerSid;
}

// Whether anyone but the trusted SIDs has any of `rights` on the object: its owner (who may always rewrite its
// DACL), an entry allowing them, or no DACL at all.
bool OthersHave(const ObjectSecurity& security, std::uint32_t rights) {
  if (security.nullDacl || !Trusted(security.owner)) return true;
  for (const AceFacts& ace : security.aces) {
    // An entry not understood might allow anything.
    const std::uint32_t allowed = ace.sid.empty() ? access::kFileAll : Specific(ace.mask);
    if (ace.allow && !ace.inheritOnly && !Trusted(ace.sid) && (allowed & rights) != 0) return true;
  }
  return false;
}

// Whether every signed-in user may read and run the file: allowed to a group that every one of them is in,
// and no entry denying either right to anyone (it might be one of them).
bool UsersCanRun(const ObjectSecurity& security) {
  if (security.nullDacl) return true;
  static constexpr std::array<std::wstring_view, 4> kEveryUser = {
      L"S-1-1-0",       // Everyone
      L"S-1-5-11",      // Authenticated Users
      L"S-1-5-32-545",  // Users
      L"S-1-5-4",       // Interactive
  };
  std::uint32_t allowed = 0;
  for (const AceFacts& ace : security.aces) {
    if (ace.inheritOnly) continue;
    const std::uint32_t rights = Specific(ace.mask) & access::kRun;
    if (!ace.allow) {
      if (rights != 0) return false;
      continue;
    }
    for (const std::wstring_view group : kEveryUser) {
      if (ace.sid == group) allowed |= rights;
    }
  }
  return allowed == access::kRun;
}

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

}  // namespace

SourceFinding DecideSource(const SourceFacts& facts) {
  if (!facts.localDrive) return SourceFinding::kNotLocal;
  if (!facts.file || facts.folders.empty()) return SourceFinding::kUnreadable;
  for (const auto& folder : facts.folders) {
    if (!folder) return SourceFinding::kUnreadable;
  }
  if (OthersHave(*facts.file, access::kChangesFile)) return SourceFinding::kFileChangeable;
  if (OthersHave(*facts.folders.front(), access::kChangesFolder)) return SourceFinding::kFolderChangeable;
  for (std::size_t i = 1; i < facts.folders.size(); ++i) {
    if (OthersHave(*facts.folders[i], access::kReplacesAbove)) return SourceFinding::kAboveChangeable;
  }
  if (!UsersCanRun(*facts.file)) return SourceFinding::kUsersCannotRun;
  return SourceFinding::kSafe;
}

std::vector<std::wstring> FoldersAbove(std::wstring_view path) {
  std::wstring_view prefix;
  if (path.substr(0, 4) == L"\\\\?\\") {
    prefix = path.substr(0, 4);
    path.remove_prefix(4);
  }
  std::vector<std::wstring> folders;
  // "C:\" and at least one name after it.
  if (path.size() < 4 || !IsDriveLetter(path[0]) || path[1] != L':' || path[2] != L'\\') return folders;
  for (std::size_t end = path.size();;) {
    const std::size_t start = path.find_last_of(L'\\', end - 1);
    const std::wstring_view name = path.substr(start + 1, end - start - 1);
    // Every name plain: no empty one, no "." or "..".
    if (name.empty() || name == L"." || name == L"..") return {};
    if (start == 2) break;
    folders.emplace_back(std::wstring(prefix) + std::wstring(path.substr(0, start)));
    end = start;
  }
  folders.emplace_back(std::wstring(prefix) + std::wstring(path.substr(0, 3)));
  return folders;
}

std::wstring MappedNameDrive(std::wstring_view mapped) {
  if (mapped.size() < 6 || mapped.substr(0, 4) != L"\\??\\" || !IsDriveLetter(mapped[4]) || mapped[5] != L':') {
    return {};
  }
  return std::wstring(mapped.substr(4, 2));
}

std::wstring MappedNameAsDevice(std::wstring_view mapped, std::wstring_view driveDevice) {
  if (MappedNameDrive(mapped).empty()) return std::wstring(mapped);
  return std::wstring(driveDevice) + std::wstring(mapped.substr(6));
}

bool SameNtName(std::wstring_view a, std::wstring_view b) { return !a.empty() && SameIgnoringAsciiCase(a, b); }

}  // namespace corvix
