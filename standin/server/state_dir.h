// The state directory of one run: the scenario the stand-in reads and the files it writes.
#pragma once

#include <string>
#include <string_view>

namespace standin::server {

// UTF-16 to UTF-8.
std::string Utf8(std::wstring_view text);

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
  // Appends `line` and a newline in UTF-8, and closes the file again: the line is on disk at once.
  bool AppendLine(std::wstring_view name, std::wstring_view line) const;

 private:
  std::wstring path_;
};

}  // namespace standin::server
