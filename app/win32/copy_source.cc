// The file a LocalSystem run's per-session copies start from, and the protected copy of the running file.
//
// The copy is made from the running image's own file: Corvix's file is opened with a share mode that lets no
// one write, rename or delete it while it is held, and only when the held file's NT name is the name of the
// file mapped as this process's image (which follows a rename of the running file) is it copied. The folder
// is new, under a name no one can guess, made with its protected DACL; one that already exists is never used.
#include "app/win32/copy_source.h"

#include <windows.h>
// after windows.h, which they need
#include <aclapi.h>
#include <objbase.h>
#include <psapi.h>

#include <utility>
#include <vector>

#include "platform/win32/module_path.h"

namespace corvix::win32 {
namespace {

// How many names a protected folder is tried under before giving up: another folder of that name is
// someone else's (or a guess), never to be used.
constexpr int kFolderTries = 8;
// How much of the file is copied at a time.
constexpr DWORD kCopyChunk = 64 * 1024;

std::int32_t LastFailure() {
  const DWORD error = GetLastError();
  return static_cast<std::int32_t>(error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error));
}

AceFacts ReadAce(const ACE_HEADER& header) {
  AceFacts facts;
  facts.inheritOnly = (header.AceFlags & INHERIT_ONLY_ACE) != 0;
  switch (header.AceType) {
    // The callback kinds begin as the plain ones do: mask, then SID.
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
    case ACCESS_DENIED_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_ACE_TYPE: {
      const auto& ace = reinterpret_cast<const ACCESS_ALLOWED_ACE&>(header);
      facts.allow = header.AceType == ACCESS_ALLOWED_ACE_TYPE || header.AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
      facts.mask = ace.Mask;
      facts.sid = SidText(const_cast<DWORD*>(&ace.SidStart));
      // A SID that cannot be read is anyone's.
      if (facts.sid.empty()) facts.allow = true;
      break;
    }
    default:
      // Not understood: an empty SID, anyone's.
      break;
  }
  return facts;
}

// The name of the file mapped at `address` in this process; empty when it cannot be read.
std::wstring MappedName(const void* address) {
  return ReadWholeName([address](wchar_t* buffer, DWORD size) {
    return K32GetMappedFileNameW(GetCurrentProcess(), const_cast<void*>(address), buffer, size);
  });
}

// A held file's name in `flags`' form; empty when it cannot be read.
std::wstring FinalName(HANDLE file, DWORD flags) {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetFinalPathNameByHandleW(file, name.data(), static_cast<DWORD>(name.size()), flags);
    if (length == 0) return {};
    if (length < name.size()) return name.substr(0, length);
    name.resize(length + 1);
  }
}

// What a drive ("C:") stands for: "\Device\HarddiskVolume3"; empty when it cannot be read.
std::wstring DriveDevice(const std::wstring& drive) {
  wchar_t device[MAX_PATH] = {};
  return QueryDosDeviceW(drive.c_str(), device, MAX_PATH) == 0 ? std::wstring() : std::wstring(device);
}

// This process's temporary folder, ending with a backslash; empty when it cannot be read.
std::wstring TempFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  return length == 0 || length > MAX_PATH ? std::wstring() : std::wstring(temp, length);
}

// A name no one can guess: a new GUID, made from the system's random numbers.
std::wstring UnguessableName() {
  GUID guid{};
  wchar_t text[40] = {};
  if (FAILED(CoCreateGuid(&guid)) || StringFromGUID2(guid, text, 40) == 0) return {};
  return L"Corvix." + std::wstring(text + 1, 36);
}

// A new folder in `parent` with the protected DACL; empty when none could be made (`failure` says why).
std::wstring MakeProtectedFolder(const std::wstring& parent, std::int32_t& failure) {
  const UniqueLocal descriptor = SecurityDescriptor(source::kFolderSddl);
  if (!descriptor) {
    failure = LastFailure();
    return {};
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  const std::wstring base = parent.empty() || parent.back() == L'\\' ? parent : parent + L'\\';
  failure = E_FAIL;
  for (int i = 0; i < kFolderTries && !base.empty(); ++i) {
    const std::wstring name = UnguessableName();
    if (name.empty()) break;
    const std::wstring folder = base + name;
    if (CreateDirectoryW(folder.c_str(), &attributes)) return folder;
    failure = LastFailure();
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return {};
}

// Copies the whole of `from`, read from its start, to `to`; false on any failure (`failure` says why).
bool CopyAll(HANDLE from, HANDLE to, std::int32_t& failure) {
  std::vector<char> chunk(kCopyChunk);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(from, chunk.data(), kCopyChunk, &read, nullptr)) break;
    if (read == 0) return true;
    DWORD written = 0;
    if (!WriteFile(to, chunk.data(), read, &written, nullptr) || written != read) break;
  }
  failure = LastFailure();
  return false;
}

std::wstring FileName(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::optional<ObjectSecurity> ReadSecurity(const std::wstring& path) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  const UniqueLocal held(descriptor);
  ObjectSecurity security;
  security.owner = SidText(owner);
  security.nullDacl = dacl == nullptr;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) return std::nullopt;
    security.aces.push_back(ReadAce(*static_cast<const ACE_HEADER*>(ace)));
  }
  return security;
}

SourceFacts ReadSourceFacts(const std::wstring& path) {
  SourceFacts facts;
  const std::vector<std::wstring> folders = FoldersAbove(path);
  // A fixed drive's: a network drive's or a removable drive's file is no better than a share's.
  facts.localDrive = !folders.empty() && GetDriveTypeW(folders.back().c_str()) == DRIVE_FIXED;
  if (!facts.localDrive) return facts;
  facts.file = ReadSecurity(path);
  for (const std::wstring& folder : folders) facts.folders.push_back(ReadSecurity(folder));
  return facts;
}

HeldImage HoldRunningImage(const std::wstring& path, const void* image) {
  HeldImage held;
  // Read, and shared for reading only: no one can write, rename or delete it while it is held.
  held.file.reset(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held.file) {
    held.failure = LastFailure();
    return held;
  }
  // Windows gives the mapped name in device form ("\Device\HarddiskVolume3\..."), Wine with its drive
  // ("\??\C:\...").
  const std::wstring mapped = MappedName(image);
  const std::wstring drive = MappedNameDrive(mapped);
  const std::wstring running = MappedNameAsDevice(mapped, drive.empty() ? std::wstring() : DriveDevice(drive));
  // The name as opened too, for an image started through a short (8.3) name.
  if (!SameNtName(FinalName(held.file.get(), FILE_NAME_NORMALIZED | VOLUME_NAME_NT), running) &&
      !SameNtName(FinalName(held.file.get(), FILE_NAME_OPENED | VOLUME_NAME_NT), running)) {
    held.file.reset();
    held.notRunning = true;
  }
  return held;
}

CopySource CopySource::Prepare() { return Prepare(ModulePath(), GetModuleHandleW(nullptr), TempFolder()); }

CopySource CopySource::Prepare(const std::wstring& path, const void* image, const std::wstring& parent) {
  const SourceFinding finding = path.empty() ? SourceFinding::kUnreadable : DecideSource(ReadSourceFacts(path));
  if (finding != SourceFinding::kSafe) return MakeProtectedCopy(path, image, parent, finding);
  CopySource source;
  source.finding_ = finding;
  source.program_ = path;
  return source;
}

CopySource CopySource::MakeProtectedCopy(const std::wstring& path, const void* image, const std::wstring& parent,
                                         SourceFinding finding) {
  CopySource source;
  source.finding_ = finding;
  const HeldImage running = HoldRunningImage(path, image);
  if (!running.file) {
    source.Fail(running.failure, running.notRunning ? L"the file at its path is not the one running"
                                                    : L"its running file could not be held");
    return source;
  }
  std::int32_t failure = 0;
  source.folder_ = MakeProtectedFolder(parent, failure);
  if (source.folder_.empty()) {
    source.Fail(failure, L"the protected folder could not be made");
    return source;
  }
  source.copy_ = source.folder_ + L'\\' + FileName(path);
  const UniqueHandle copy(
      CreateFileW(source.copy_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!copy) {
    source.Fail(LastFailure(), L"the copy could not be made");
    return source;
  }
  if (!CopyAll(running.file.get(), copy.get(), failure)) {
    source.Fail(failure, L"the copy could not be written");
    return source;
  }
  source.program_ = source.copy_;
  return source;
}

CopySource::CopySource(CopySource&& other) noexcept
    : program_(std::exchange(other.program_, {})),
      folder_(std::exchange(other.folder_, {})),
      copy_(std::exchange(other.copy_, {})),
      finding_(other.finding_),
      failure_(other.failure_),
      step_(std::move(other.step_)) {}

CopySource& CopySource::operator=(CopySource&& other) noexcept {
  if (this != &other) {
    Remove();
    program_ = std::exchange(other.program_, {});
    folder_ = std::exchange(other.folder_, {});
    copy_ = std::exchange(other.copy_, {});
    finding_ = other.finding_;
    failure_ = other.failure_;
    step_ = std::move(other.step_);
  }
  return *this;
}

CopySource::~CopySource() { Remove(); }

void CopySource::Fail(std::int32_t failure, const wchar_t* step) {
  program_.clear();
  failure_ = failure == 0 ? static_cast<std::int32_t>(E_FAIL) : failure;
  step_ = step;
}

void CopySource::Remove() {
  if (folder_.empty()) return;
  // A copy still running holds its file: both go when Windows restarts, the file first, so that the folder is
  // empty by then. LocalSystem may mark them so.
  if (!copy_.empty() && !DeleteFileW(copy_.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    MoveFileExW(copy_.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
  if (!RemoveDirectoryW(folder_.c_str())) MoveFileExW(folder_.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  folder_.clear();
  copy_.clear();
  program_.clear();
}

}  // namespace corvix::win32
