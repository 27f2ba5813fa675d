// Whether the toolbars a Word template package stores hold something of the add-in, read from the package's bytes.
//
// Portable: the file comes through ReadableFile (office/installation.h), zlib inflates the parts. What is read is
// bounded, and any doubt (a truncated package, sizes that lie, a deflate bomb, a name that points outside the
// package) comes out as "cannot tell", never as "nothing". docs/behaviour.md tells why Word is read first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "office/installation.h"

namespace corvix::package {

// The most bytes a part may inflate to (its size from the central directory), and the most a package may
// inflate to in all. A Normal template's toolbars part is a few kilobytes.
inline constexpr std::uint64_t kLongestPart = 4u << 20;
inline constexpr std::uint64_t kMostInflated = 8u << 20;
static_assert(kLongestPart <= kMostInflated, "one part fits in what a package may inflate to");
// The longest central directory read; it holds one record of at least 46 bytes per part.
inline constexpr std::uint32_t kLongestDirectory = 1u << 20;
// The bytes read or inflated at a time.
inline constexpr std::size_t kChunk = 64u << 10;

// Finds UTF-16LE strings in bytes that come in chunks: a string may straddle any number of chunks' borders,
// and may start at any byte (the stored toolbars are packed records, not aligned to two bytes). Where one
// name is a prefix of another (the add-in's bar and its second bar), the longer one is reported.
class Utf16Scanner {
 public:
  explicit Utf16Scanner(std::vector<std::wstring_view> names);
  // Scans the next chunk; true once a name is found.
  bool Feed(const std::uint8_t* data, std::size_t size);
  // Scans what is held back at the end of the input; true once a name is found.
  bool Finish();
  // The name found; empty until one is.
  std::optional<std::wstring_view> found() const;

 private:
  bool ScanHeld(bool atEnd);

  std::vector<std::wstring_view> names_;  // longest first
  std::vector<std::string> needles_;      // the names as UTF-16LE bytes, in the same order
  std::size_t longest_ = 0;
  std::string held_;  // bytes not yet decided: fewer than the longest needle's, from the last chunk
  std::optional<std::size_t> found_;
};

// What a package's stored toolbars came to.
struct Reading {
  enum class Verdict { kAddIns, kNothing, kCannotTell };
  Verdict verdict = Verdict::kCannotTell;
  // kAddIns: the name found. kNothing: what was read ("no stored toolbars", or the parts scanned).
  // kCannotTell: why not.
  std::wstring detail;
};

// Reads the parts that the package's relationships name as its stored toolbars (the attached-toolbars
// relationship), and scans them for `names`. A package without such a relationship stores no toolbars.
Reading ReadStoredToolbars(ReadableFile& file, const std::vector<std::wstring_view>& names);

// The part that relationship `target` names, from the relationships part `relsPart`
// ("word/_rels/customizations.xml.rels" names targets beside "word/customizations.xml"): "word/attachedToolbars.bin";
// empty when the target leaves the package (too many ".."), or is not a plain part name.
std::optional<std::string> ResolveTarget(std::string_view relsPart, std::string_view target);

}  // namespace corvix::package
