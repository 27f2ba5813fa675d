// The protected copy of the running file that a LocalSystem run's copies start from: made from the running
// image's own file only, byte for byte, in a new protected folder that goes with its owner, or at the next
// restart while a copy still runs from it. Run under Wine by CTest, as an administrator (no process runs as
// LocalSystem under Wine; the copy needs only what an administrator has).
//
// Prints each failed check and exits with the number of failures (tests/win32/check.h).
#include <windows.h>
// after windows.h, which they need
#include <aclapi.h>
#include <psapi.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/win32/copy_source.h"
#include "platform/win32/module_path.h"
#include "platform/win32/unique_handle.h"
#include "tests/win32/check.h"

namespace {

using corvix::SourceFinding;
using corvix::win32::CopySource;
using corvix::win32::HoldRunningImage;
using corvix::win32::ModulePath;
using corvix::win32::UniqueLocal;
using corvix::win32::testing::Check;
using corvix::win32::testing::CheckEqual;

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

std::vector<char> Bytes(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring TempFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  return std::wstring(temp, length);
}

bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

// The name Windows (or Wine) gives the file mapped at `address`.
std::wstring MappedName(const void* address) {
  wchar_t name[MAX_PATH * 2] = {};
  const DWORD length = K32GetMappedFileNameW(GetCurrentProcess(), const_cast<void*>(address), name, MAX_PATH * 2);
  return std::wstring(name, length);
}

// The restart's pending renames and deletions (a REG_MULTI_SZ), as one string with its nulls; none: empty.
std::wstring PendingRenames() {
  corvix::win32::UniqueKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return {};
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), kPendingRenames, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) return {};
  std::wstring value(size / sizeof(wchar_t), L'\0');
  RegQueryValueExW(key.get(), kPendingRenames, nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()), &size);
  return value;
}

// Puts the pending renames back as they were before a test added to them.
void RestorePendingRenames(const std::wstring& before) {
  corvix::win32::UniqueKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return;
  if (before.empty()) {
    RegDeleteValueW(key.get(), kPendingRenames);
  } else {
    RegSetValueExW(key.get(), kPendingRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(before.data()),
                   static_cast<DWORD>(before.size() * sizeof(wchar_t)));
  }
}

// Whether the folder's DACL is protected and is exactly the one asked for; reports when Wine kept none.
bool FolderIsProtected(const std::wstring& folder, bool& kept) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const UniqueLocal held(descriptor);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  kept = (control & SE_DACL_PROTECTED) != 0;
  const auto security = corvix::win32::ReadSecurity(folder);
  if (!kept || !security || security->aces.size() != 3) return false;
  const struct {
    const wchar_t* sid;
    std::uint32_t mask;
  } expected[] = {{L"S-1-5-32-544", FILE_ALL_ACCESS}, {L"S-1-5-18", FILE_ALL_ACCESS}, {L"S-1-5-11", 0x1200a9}};
  for (std::size_t i = 0; i < 3; ++i) {
    const auto& ace = security->aces[i];
    if (ace.sid != expected[i].sid || ace.mask != expected[i].mask || !ace.allow || ace.inheritOnly) return false;
  }
  return security->owner == L"S-1-5-32-544";
}

void TheCopyIsTheRunningFileInAProtectedFolderThatGoesWithItsOwner() {
  const std::wstring self = ModulePath();
  const std::wstring temp = TempFolder();
  std::wstring folder;
  std::wstring program;
  {
    const CopySource source =
        CopySource::MakeProtectedCopy(self, GetModuleHandleW(nullptr), temp, SourceFinding::kUsersCannotRun);
    folder = source.Folder();
    program = source.Program();
    Check(!program.empty(), "a protected copy is made");
    std::printf("%ls\n", corvix::Describe(source.Event()).c_str());
    if (program.empty()) return;
    Check(folder.compare(0, temp.size(), temp) == 0 && program.compare(0, folder.size() + 1, folder + L"\\") == 0,
          "the copy lies in a new folder in the temporary folder");
    Check(Bytes(program) == Bytes(self) && !Bytes(self).empty(), "the copy's bytes are the running file's");
    Check(Contains(corvix::Describe(source.Event()),
                   L"context: the copies start from a protected copy of Corvix's running file: ") &&
              !Contains(corvix::Describe(source.Event()), L"S-1-5-21"),
          "the line says where the copies start from, and names no user");
    bool kept = false;
    const bool isProtected = FolderIsProtected(folder, kept);
    if (kept) {
      Check(isProtected, "the folder's DACL is protected and is the one asked for");
    } else {
      std::printf(
          "SKIPPED: Wine: keeps no security descriptor on this filesystem (it reads back one made from the "
          "Unix mode): the folder's DACL is not checked\n");
    }
    const CopySource second =
        CopySource::MakeProtectedCopy(self, GetModuleHandleW(nullptr), temp, SourceFinding::kUsersCannotRun);
    Check(!second.Folder().empty() && second.Folder() != folder, "each copy has a new folder of its own");
  }
  Check(!Exists(program) && !Exists(folder), "the copy and its folder are removed when the owner goes");
}

void TheDecisionChoosesTheSource() {
  // Whatever Wine reports of the file and its folders, the copy is made exactly when the decision asks for it.
  const std::wstring self = ModulePath();
  const CopySource source = CopySource::Prepare(self, GetModuleHandleW(nullptr), TempFolder());
  const SourceFinding finding = corvix::DecideSource(corvix::win32::ReadSourceFacts(self));
  CheckEqual(source.Finding(), finding, "the owner tells the decision's finding");
  Check(finding == SourceFinding::kSafe ? source.Program() == self && source.Folder().empty()
                                        : !source.Folder().empty() && source.Program() != self,
        "the copies start from the file itself only when it is safe");
}

// `from` copied to a new file `to`.
bool CopyTo(const std::wstring& from, const std::wstring& to) { return CopyFileW(from.c_str(), to.c_str(), FALSE); }

void OnlyTheRunningImagesOwnFileIsCopied() {
  const std::wstring self = ModulePath();
  const std::wstring mappedPath = self + L".mapped.exe";
  const std::wstring twinPath = self + L".twin.exe";
  const std::wstring movedPath = self + L".moved.exe";
  if (!CopyTo(self, mappedPath) || !CopyTo(self, twinPath)) {
    Check(false, "the test's files are made");
    return;
  }
  {
    // An image of `mappedPath`, mapped as an image is; `twinPath` has the same bytes but is another file.
    const corvix::win32::UniqueLibrary mapped(
        LoadLibraryExW(mappedPath.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    Check(static_cast<bool>(mapped), "the image is mapped");
    const void* image = reinterpret_cast<const void*>(reinterpret_cast<ULONG_PTR>(mapped.get()) & ~ULONG_PTR{3});
    Check(static_cast<bool>(HoldRunningImage(mappedPath, image).file), "the image's own file is held");
    const auto twin = HoldRunningImage(twinPath, image);
    Check(!twin.file && twin.notRunning, "a file with the same bytes is not the image's");
    const CopySource refused =
        CopySource::MakeProtectedCopy(twinPath, image, TempFolder(), SourceFinding::kFileChangeable);
    Check(refused.Program().empty() && refused.Folder().empty(), "no copy and no folder are made of another file");
    Check(Contains(corvix::Describe(refused.Event()), L"context: no protected copy of Corvix could be made (") &&
              Contains(corvix::Describe(refused.Event()), L"not the one running") &&
              Contains(corvix::Describe(refused.Event()), L"no copy is started"),
          "the line says that no copy is started");

    // The mapped file renamed away, and another put at its path.
    if (!MoveFileW(mappedPath.c_str(), movedPath.c_str()) || !CopyTo(twinPath, mappedPath)) {
      std::printf("SKIPPED: Wine: a mapped image's file cannot be renamed here: the swap is not checked\n");
    } else if (Contains(MappedName(image), L".moved.exe")) {
      const auto swapped = HoldRunningImage(mappedPath, image);
      Check(!swapped.file && swapped.notRunning, "the file put in place of the running one is not copied");
    } else {
      std::printf(
          "SKIPPED: Wine: the mapped file's name does not follow its rename (still %ls): the swap cannot "
          "be seen by name here\n",
          MappedName(image).c_str());
    }
  }
  DeleteFileW(mappedPath.c_str());
  DeleteFileW(movedPath.c_str());
  DeleteFileW(twinPath.c_str());
}

void AFolderACopyStillUsesIsRemovedAtRestart() {
  const std::wstring before = PendingRenames();
  std::wstring folder;
  std::wstring program;
  PROCESS_INFORMATION child{};
  {
    const CopySource source =
        CopySource::MakeProtectedCopy(ModulePath(), GetModuleHandleW(nullptr), TempFolder(), SourceFinding::kSafe);
    folder = source.Folder();
    program = source.Program();
    std::wstring commandLine = L"\"" + program + L"\" --wait";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (program.empty() || !CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                           nullptr, &startup, &child)) {
      Check(false, "a copy starts from the protected copy");
      return;
    }
    // Until the child's image is mapped, its file is not in use.
    WaitForInputIdle(child.hProcess, 5000);
    Sleep(1000);
  }
  const std::wstring pending = PendingRenames();
  Check(Exists(program), "the file a copy still runs from stays");
  Check(Contains(pending, program) && Contains(pending, folder) && pending.find(program) < pending.rfind(folder),
        "the file, then its folder, are marked for removal at restart");
  TerminateProcess(child.hProcess, 0);
  WaitForSingleObject(child.hProcess, 10000);
  CloseHandle(child.hProcess);
  CloseHandle(child.hThread);
  DeleteFileW(program.c_str());
  RemoveDirectoryW(folder.c_str());
  RestorePendingRenames(before);
}

}  // namespace

int main(int argc, char** argv) {
  // The copy started from a protected copy: it only waits, holding its file, until it is ended.
  if (argc > 1 && std::string(argv[1]) == "--wait") {
    Sleep(60000);
    return 0;
  }
  TheCopyIsTheRunningFileInAProtectedFolderThatGoesWithItsOwner();
  TheDecisionChoosesTheSource();
  OnlyTheRunningImagesOwnFileIsCopied();
  AFolderACopyStillUsesIsRemovedAtRestart();
  return corvix::win32::testing::Finish();
}
