// The state directory's files.
#include "standin/server/state_dir.h"

#include <windows.h>

namespace standin::server {

StateDir::StateDir(std::wstring path) : path_(std::move(path)) {
  while (path_.size() > 3 && (path_.back() == L'\\' || path_.back() == L'/')) path_.pop_back();
}

std::wstring StateDir::File(std::wstring_view name) const { return path_ + L"\\" + std::wstring(name); }

bool StateDir::Exists(std::wstring_view name) const {
  return GetFileAttributesW(File(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool StateDir::Read(std::wstring_view name, std::string* bytes) const {
  HANDLE file = CreateFileW(File(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bytes->clear();
  char buffer[4096];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != FALSE) && got > 0) bytes->append(buffer, got);
  CloseHandle(file);
  return ok;
}

namespace {

bool WriteAll(HANDLE file, const std::string& bytes) {
  DWORD written = 0;
  return bytes.empty() || (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                           written == bytes.size());
}

}  // namespace

bool StateDir::Write(std::wstring_view name, std::wstring_view text) const {
  const std::wstring target = File(name);
  const std::wstring temporary = target + L".tmp";
  HANDLE file =
      CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool written = WriteAll(file, Utf8(text));
  CloseHandle(file);
  if (!written) return false;
  return MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

LineFile::~LineFile() {
  if (handle_ != nullptr) CloseHandle(handle_);
}

bool LineFile::Append(std::wstring_view line) {
  if (handle_ == nullptr) {
    // Append access alone: every write lands at the current end of the file.
    HANDLE file = CreateFileW(dir_.File(name_).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    handle_ = file;
  }
  return WriteAll(static_cast<HANDLE>(handle_), Utf8(line) + "\n");
}

}  // namespace standin::server
