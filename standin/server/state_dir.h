// The state directory of one run: the scenario the stand-in reads and the files it writes.
#pragma once

#include <string>
#include <string_view>

#include "standin/server/utf8.h"

namespace standin::server {

using corvix::win32::Utf8;

class StateDir {
 public:
  // `path` is a Windows path; a trailing backslash is dropped.
  explicit StateDir(std::wstring path);

  const std::wstring& path() const { return path_; }
  std::wstring File(std::wstring_view name) const;
  bool Exists(std::wstring_view name) const;
  // Reads a whole file; false when it cannot be read.
  bool Read(std::wstring_view name, std::string* bytes) const;
  // Replaces a file with `text` in UTF-8, through a temporary file and a rename, so that a reader
  // never sees half of it.
  bool Write(std::wstring_view name, std::wstring_view text) const;

 private:
  std::wstring path_;
};

// A file of the state directory that lines are appended to through one handle, opened on the first line
// and kept open: a line costs one write instead of an open, a write and a close. Each line goes straight
// to the file's end (no buffering in the process), so a reader sees every line written so far, and lines
// of another process appending to the same file are never overwritten.
class LineFile {
 public:
  LineFile(const StateDir& dir, std::wstring name) : dir_(dir), name_(std::move(name)) {}
  ~LineFile();
  LineFile(const LineFile&) = delete;
  LineFile& operator=(const LineFile&) = delete;

  // Appends `line` and a newline in UTF-8; false when the file cannot be opened or written.
  bool Append(std::wstring_view line);

 private:
  const StateDir& dir_;
  std::wstring name_;
  void* handle_ = nullptr;  // the open file, null until the first line
};

}  // namespace standin::server
