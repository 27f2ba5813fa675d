// The file a LocalSystem run's per-session copies start from (app/copy_source.h decides which): Corvix's own,
// or a copy of the running file in a protected folder that this makes and removes again.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "app/copy_source.h"
#include "app/run_trace.h"
#include "platform/win32/unique_handle.h"

namespace corvix::win32 {

// The owner and DACL of the file or folder at `path`; none when they cannot be read.
std::optional<ObjectSecurity> ReadSecurity(const std::wstring& path);

// What DecideSource needs about the file at `path` and its folders.
SourceFacts ReadSourceFacts(const std::wstring& path);

// The file of a running image, held so that it can be neither written, renamed nor deleted while held.
struct HeldImage {
  // Empty when the file could not be opened, or is not the running image's.
  UniqueHandle file;
  // Why not: an HRESULT, or 0 with `notRunning`.
  std::int32_t failure = 0;
  // The file at the path is not the running image's (it was replaced, or another file was named).
  bool notRunning = false;
};

// The file at `path`, when it is the file of the image mapped at `image`.
HeldImage HoldRunningImage(const std::wstring& path, const void* image);

// Owns the file the copies start from. A protected copy's folder is removed when the owner goes, or, when a
// copy still running holds it, marked for removal when Windows restarts.
class CopySource {
 public:
  // For this program: its own file and running image; a protected folder, when needed, in this process's
  // temporary folder (LocalSystem's: the system's own).
  static CopySource Prepare();
  // For the program at `path` running as the image mapped at `image`; a protected folder made in `parent`.
  static CopySource Prepare(const std::wstring& path, const void* image, const std::wstring& parent);
  // A protected copy of the image mapped at `image`, which must be the file at `path`, in a new folder in
  // `parent`; `finding` is why it is needed.
  static CopySource MakeProtectedCopy(const std::wstring& path, const void* image, const std::wstring& parent,
                                      SourceFinding finding);

  CopySource(CopySource&& other) noexcept;
  CopySource& operator=(CopySource&& other) noexcept;
  CopySource(const CopySource&) = delete;
  CopySource& operator=(const CopySource&) = delete;
  ~CopySource();

  // The program the copies start from: Corvix's own path or its protected copy's; empty when no copy may
  // start at all (the protected copy that was needed could not be made).
  const std::wstring& Program() const { return program_; }
  // The protected folder; empty when none was made.
  const std::wstring& Folder() const { return folder_; }
  SourceFinding Finding() const { return finding_; }
  // What the debugger channel is told of where the copies start from.
  event::CopiesStartFrom Event() const { return {finding_, failure_, step_}; }

 private:
  CopySource() = default;
  // Removes the protected copy and its folder, now or at the next restart.
  void Remove();
  // No copy may start: `step` failed with `failure`.
  void Fail(std::int32_t failure, const wchar_t* step);

  std::wstring program_;
  std::wstring folder_;
  std::wstring copy_;
  SourceFinding finding_ = SourceFinding::kUnreadable;
  std::int32_t failure_ = 0;
  std::wstring step_;
};

}  // namespace corvix::win32
