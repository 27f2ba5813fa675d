// Which file a LocalSystem run's copies start from: the decision on realistic owners and DACLs, the folders it
// reads, and the comparison of the held file's name with the running image's.
#include "app/copy_source.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvix {
namespace {

const std::wstring kBA = L"S-1-5-32-544";
const std::wstring kSY = L"S-1-5-18";
const std::wstring kTI = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
const std::wstring kBU = L"S-1-5-32-545";
const std::wstring kAU = L"S-1-5-11";
const std::wstring kWD = L"S-1-1-0";
const std::wstring kCO = L"S-1-3-0";                 // CREATOR OWNER
const std::wstring kAC = L"S-1-15-2-1";              // ALL APPLICATION PACKAGES
const std::wstring kAlice = L"S-1-5-21-1-2-3-1001";  // a standard user

constexpr std::uint32_t kFA = 0x1f01ff;      // full control
constexpr std::uint32_t kModify = 0x1301bf;  // read, write, run and delete
constexpr std::uint32_t kRX = 0x1200a9;      // read and run
constexpr std::uint32_t kGA = 0x10000000;
constexpr std::uint32_t kGRGX = 0xa0000000;
constexpr std::uint32_t kGW = 0x40000000;

AceFacts Allow(const std::wstring& sid, std::uint32_t mask) { return {sid, mask, true, false}; }
AceFacts Deny(const std::wstring& sid, std::uint32_t mask) { return {sid, mask, false, false}; }
AceFacts InheritOnly(const std::wstring& sid, std::uint32_t mask) { return {sid, mask, true, true}; }

// C:\ as Windows installs it: every signed-in user may add folders to it, and gets Modify on what they add
// (inherit-only).
const ObjectSecurity kDriveRoot{
    kSY, false, {Allow(kBA, kFA), Allow(kSY, kFA), Allow(kBU, kRX), InheritOnly(kAU, 0xe0010000), Allow(kAU, 0x4)}};
const ObjectSecurity kProgramFiles{
    kTI,
    false,
    {Allow(kTI, kFA), InheritOnly(kTI, kGA), Allow(kSY, kModify), InheritOnly(kSY, kGA), Allow(kBA, kModify),
     InheritOnly(kBA, kGA), Allow(kBU, kRX), InheritOnly(kBU, kGRGX), InheritOnly(kCO, kGA), Allow(kAC, kRX),
     InheritOnly(kAC, kGRGX)}};
// What an installer's folder and file under Program Files inherit.
const ObjectSecurity kVendorFolder{
    kBA, false, {Allow(kSY, kFA), Allow(kBA, kFA), Allow(kBU, kRX), InheritOnly(kCO, kGA), Allow(kAC, kRX)}};
const ObjectSecurity kInstalledFile{kBA, false, {Allow(kSY, kFA), Allow(kBA, kFA), Allow(kBU, kRX), Allow(kAC, kRX)}};
// A deployment tool's package cache (C:\Windows\ccmcache\1a): the administrators and SYSTEM alone.
const ObjectSecurity kAdminsOnly{kSY, false, {Allow(kSY, kFA), Allow(kBA, kFA)}};
const ObjectSecurity kWindows{kTI,
                              false,
                              {Allow(kTI, kFA), Allow(kSY, kModify), Allow(kBA, kModify), Allow(kBU, kRX),
                               InheritOnly(kCO, kGA), Allow(kAC, kRX)}};
// C:\ProgramData, and a folder an installer made in it: the users may add files and folders to it.
const ObjectSecurity kProgramData{
    kSY, false, {Allow(kSY, kFA), Allow(kBA, kFA), InheritOnly(kCO, kGA), Allow(kBU, kRX), {kBU, 0x116, true, false}}};
const ObjectSecurity kProgramDataFolder = kProgramData;
const ObjectSecurity kProgramDataFile{kBA, false, {Allow(kSY, kFA), Allow(kBA, kFA), Allow(kBU, kRX)}};
// A user's Downloads: the user has full control, and owns what is in it.
const ObjectSecurity kUserOwned{kAlice, false, {Allow(kSY, kFA), Allow(kBA, kFA), Allow(kAlice, kFA)}};
// A folder an administrator made at the drive's root: it inherits the users' Modify.
const ObjectSecurity kMadeAtRoot{
    kBA, false, {Allow(kBA, kFA), Allow(kSY, kFA), Allow(kBU, kRX), Allow(kAU, kModify), InheritOnly(kAU, kGA)}};

SourceFacts Facts(const ObjectSecurity& file, std::vector<ObjectSecurity> folders) {
  SourceFacts facts;
  facts.localDrive = true;
  facts.file = file;
  for (const auto& folder : folders) facts.folders.emplace_back(folder);
  return facts;
}

const char* Name(SourceFinding finding) {
  switch (finding) {
    case SourceFinding::kSafe:
      return "safe";
    case SourceFinding::kUnreadable:
      return "unreadable";
    case SourceFinding::kNotLocal:
      return "not local";
    case SourceFinding::kFileChangeable:
      return "file changeable";
    case SourceFinding::kFolderChangeable:
      return "folder changeable";
    case SourceFinding::kAboveChangeable:
      return "above changeable";
    case SourceFinding::kUsersCannotRun:
      return "users cannot run";
  }
  return "?";
}

TEST(CopySource, WhereCorvixLies) {
  ObjectSecurity nullDacl = kInstalledFile;
  nullDacl.nullDacl = true;
  nullDacl.aces.clear();
  ObjectSecurity userOwnsFile = kInstalledFile;
  userOwnsFile.owner = kAlice;
  ObjectSecurity usersMayWrite = kInstalledFile;
  usersMayWrite.aces.push_back(Allow(kBU, kGW));
  ObjectSecurity unknownEntry = kInstalledFile;
  unknownEntry.aces.push_back({L"", 0x1, true, false});
  ObjectSecurity creatorOwnerApplies = kVendorFolder;
  creatorOwnerApplies.aces.push_back(Allow(kCO, kGA));
  ObjectSecurity runDenied = kInstalledFile;
  runDenied.aces.insert(runDenied.aces.begin(), Deny(kAlice, 0x20));
  // Read for everyone and run for the users: every user has both.
  const ObjectSecurity splitRights{kBA, false, {Allow(kBA, kFA), Allow(kWD, 0x1), Allow(kBU, 0x20000000)}};
  const ObjectSecurity readOnly{kBA, false, {Allow(kBA, kFA), Allow(kBU, 0x120089)}};
  // Read and run for the application packages: not for every user.
  const ObjectSecurity packagesOnly{kBA, false, {Allow(kBA, kFA), Allow(kAC, kRX)}};

  const struct {
    const char* where;
    SourceFacts facts;
    SourceFinding expected;
  } rows[] = {
      {"Program Files as installed", Facts(kInstalledFile, {kVendorFolder, kProgramFiles, kDriveRoot}),
       SourceFinding::kSafe},
      {"ccmcache: admins only", Facts(kAdminsOnly, {kAdminsOnly, kAdminsOnly, kWindows, kDriveRoot}),
       SourceFinding::kUsersCannotRun},
      {"a folder in ProgramData", Facts(kProgramDataFile, {kProgramDataFolder, kProgramData, kDriveRoot}),
       SourceFinding::kFolderChangeable},
      {"a user's Downloads", Facts(kUserOwned, {kUserOwned, kUserOwned, kAdminsOnly, kDriveRoot}),
       SourceFinding::kFileChangeable},
      {"a null DACL", Facts(nullDacl, {kVendorFolder, kProgramFiles, kDriveRoot}), SourceFinding::kFileChangeable},
      {"a user owns the file", Facts(userOwnsFile, {kVendorFolder, kProgramFiles, kDriveRoot}),
       SourceFinding::kFileChangeable},
      {"a user owns the folder", Facts(kInstalledFile, {kUserOwned, kProgramFiles, kDriveRoot}),
       SourceFinding::kFolderChangeable},
      {"users may write the file", Facts(usersMayWrite, {kVendorFolder, kProgramFiles, kDriveRoot}),
       SourceFinding::kFileChangeable},
      {"an entry not understood", Facts(unknownEntry, {kVendorFolder, kProgramFiles, kDriveRoot}),
       SourceFinding::kFileChangeable},
      {"CREATOR OWNER applying to the folder itself",
       Facts(kInstalledFile, {creatorOwnerApplies, kProgramFiles, kDriveRoot}), SourceFinding::kFolderChangeable},
      {"a protected folder in one users may rename", Facts(kInstalledFile, {kVendorFolder, kMadeAtRoot, kDriveRoot}),
       SourceFinding::kAboveChangeable},
      {"a protected folder in a user's profile", Facts(kInstalledFile, {kVendorFolder, kUserOwned, kDriveRoot}),
       SourceFinding::kAboveChangeable},
      {"running denied to one user", Facts(runDenied, {kVendorFolder, kProgramFiles, kDriveRoot}),
       SourceFinding::kUsersCannotRun},
      {"read for everyone, run for the users", Facts(splitRights, {kVendorFolder, kProgramFiles, kDriveRoot}),
       SourceFinding::kSafe},
      {"read only", Facts(readOnly, {kVendorFolder, kProgramFiles, kDriveRoot}), SourceFinding::kUsersCannotRun},
      {"application packages only", Facts(packagesOnly, {kVendorFolder, kProgramFiles, kDriveRoot}),
       SourceFinding::kUsersCannotRun},
  };
  for (const auto& row : rows) {
    EXPECT_STREQ(Name(row.expected), Name(DecideSource(row.facts))) << row.where;
  }
}

TEST(CopySource, WhatCannotBeReadIsNeverSafe) {
  SourceFacts share = Facts(kInstalledFile, {kVendorFolder, kProgramFiles, kDriveRoot});
  share.localDrive = false;
  EXPECT_EQ(SourceFinding::kNotLocal, DecideSource(share));
  SourceFacts noFile = Facts(kInstalledFile, {kVendorFolder, kProgramFiles, kDriveRoot});
  noFile.file.reset();
  EXPECT_EQ(SourceFinding::kUnreadable, DecideSource(noFile));
  SourceFacts noRoot = Facts(kInstalledFile, {kVendorFolder, kProgramFiles, kDriveRoot});
  noRoot.folders.back().reset();
  EXPECT_EQ(SourceFinding::kUnreadable, DecideSource(noRoot));
  EXPECT_EQ(SourceFinding::kUnreadable, DecideSource(Facts(kInstalledFile, {})));
  ObjectSecurity noOwner = kInstalledFile;
  noOwner.owner.clear();
  EXPECT_EQ(SourceFinding::kFileChangeable, DecideSource(Facts(noOwner, {kVendorFolder, kProgramFiles, kDriveRoot})));
}

TEST(CopySource, TheProtectedFolderPassesTheDecision) {
  // What the protected folder and its file are made with: the copies then start from it without another copy.
  const ObjectSecurity folder{kBA, false, {Allow(kBA, kFA), Allow(kSY, kFA), Allow(kAU, kRX)}};
  EXPECT_EQ(SourceFinding::kSafe, DecideSource(Facts(folder, {folder, kWindows, kDriveRoot})));
}

TEST(CopySource, TheFoldersAboveAFile) {
  EXPECT_EQ((std::vector<std::wstring>{L"C:\\Program Files\\Merrowin", L"C:\\Program Files", L"C:\\"}),
            FoldersAbove(L"C:\\Program Files\\Merrowin\\Corvix.exe"));
  EXPECT_EQ((std::vector<std::wstring>{L"\\\\?\\d:\\cache", L"\\\\?\\d:\\"}),
            FoldersAbove(L"\\\\?\\d:\\cache\\Corvix.exe"));
  EXPECT_EQ((std::vector<std::wstring>{L"C:\\"}), FoldersAbove(L"C:\\Corvix.exe"));
  // A share, a path relative to a drive, and names that are not plain: nothing to read.
  for (const wchar_t* path :
       {L"\\\\server\\share\\Corvix.exe", L"\\\\?\\UNC\\server\\share\\Corvix.exe", L"C:Corvix.exe", L"C:\\",
        L"C:\\a\\..\\Corvix.exe", L"C:\\a\\\\Corvix.exe", L"C:\\a\\", L"C:\\.\\Corvix.exe", L""}) {
    EXPECT_TRUE(FoldersAbove(path).empty()) << testing::PrintToString(std::wstring(path));
  }
}

TEST(CopySource, TheMappedNameComparesWithTheHeldFilesNtName) {
  const std::wstring held = L"\\Device\\HarddiskVolume3\\Program Files\\Merrowin\\Corvix.exe";
  // Windows' device form, the same path in another case.
  EXPECT_TRUE(SameNtName(held, MappedNameAsDevice(L"\\Device\\HarddiskVolume3\\PROGRAM FILES\\merrowin\\corvix.exe",
                                                  L"\\Device\\HarddiskVolume9")));
  // Wine's drive form.
  const std::wstring wine = L"\\??\\C:\\Program Files\\Merrowin\\Corvix.exe";
  EXPECT_EQ(L"C:", MappedNameDrive(wine));
  EXPECT_TRUE(SameNtName(held, MappedNameAsDevice(wine, L"\\Device\\HarddiskVolume3")));
  EXPECT_FALSE(SameNtName(held, MappedNameAsDevice(wine, L"\\Device\\HarddiskVolume4")));
  // Another file, another volume, nothing.
  EXPECT_FALSE(SameNtName(held, L"\\Device\\HarddiskVolume3\\Program Files\\Merrowin\\Corvix.exe.old"));
  EXPECT_FALSE(SameNtName(held, L"\\Device\\HarddiskVolume2\\Program Files\\Merrowin\\Corvix.exe"));
  EXPECT_FALSE(SameNtName(L"", L""));
  EXPECT_EQ(L"", MappedNameDrive(held));
}

}  // namespace
}  // namespace corvix
