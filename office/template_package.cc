// A Word template package's stored toolbars, read through the ZIP central directory and scanned as they inflate.
#include "office/template_package.h"

#include <zlib.h>

#include <algorithm>
#include <functional>

#include "base/ascii.h"
#include "office/trace.h"

namespace corvix::package {

namespace {

// The ZIP records' signatures and fixed lengths (the central directory's end, its file headers, the local headers).
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kDirectorySignature = 0x02014b50;
constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::size_t kEndLength = 22;
constexpr std::size_t kDirectoryLength = 46;
constexpr std::size_t kLocalLength = 30;
constexpr std::size_t kLongestComment = 0xFFFF;
// Stored and deflated: the two methods a package's parts use.
constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;
constexpr std::uint16_t kEncrypted = 1;  // general-purpose flag bit 0
// The relationship type of the stored toolbars, from a template's customizations part.
constexpr std::string_view kToolbarsType = "attachedToolbars";

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::wstring Wide(std::string_view ascii) {
  std::wstring text;
  for (const char c : ascii) text += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return text;
}

// Part names are compared without regard to the case of their ASCII letters.
bool SamePartName(std::string_view a, std::string_view b) { return SameIgnoringAsciiCase(a, b); }

// One part, as the central directory describes it.
struct Entry {
  std::string name;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t crc = 0;
  std::uint32_t packed = 0;
  std::uint32_t size = 0;
  std::uint32_t localOffset = 0;
};

// The central directory: its parts and where it starts (no part's data lies past it).
struct Directory {
  std::vector<Entry> entries;
  std::uint64_t start = 0;
  std::wstring failure;  // why the directory cannot be read; empty when it was
};

Directory ReadDirectory(ReadableFile& file) {
  Directory directory;
  const std::uint64_t size = file.Size();
  if (size < kEndLength) return {{}, 0, L"too short for a package"};
  const std::size_t tailLength = static_cast<std::size_t>(std::min<std::uint64_t>(size, kEndLength + kLongestComment));
  std::vector<std::uint8_t> tail(tailLength);
  const std::uint64_t tailStart = size - tailLength;
  if (!file.Read(tailStart, tail.data(), tail.size())) return {{}, 0, L"its end cannot be read"};
  // The end record is the last one whose comment reaches exactly to the end of the file.
  std::optional<std::size_t> end;
  for (std::size_t i = tailLength - kEndLength + 1; i-- > 0;) {
    if (U32(&tail[i]) == kEndSignature && U16(&tail[i + 20]) == tailLength - i - kEndLength) {
      end = i;
      break;
    }
  }
  if (!end) return {{}, 0, L"no end of central directory: not a package, or a truncated one"};
  const std::uint8_t* record = &tail[*end];
  const std::uint16_t count = U16(record + 10);
  const std::uint32_t length = U32(record + 12);
  const std::uint32_t offset = U32(record + 16);
  if (U16(record + 4) != 0 || U16(record + 6) != 0 || U16(record + 8) != count)
    return {{}, 0, L"a package spanning several files"};
  if (count == 0xFFFF || length == 0xFFFFFFFF || offset == 0xFFFFFFFF) return {{}, 0, L"a ZIP64 package"};
  if (length > kLongestDirectory) return {{}, 0, L"a central directory longer than " + Decimal(kLongestDirectory)};
  if (std::uint64_t{offset} + length > tailStart + *end) return {{}, 0, L"a central directory past its end"};
  std::vector<std::uint8_t> bytes(length);
  if (length > 0 && !file.Read(offset, bytes.data(), bytes.size()))
    return {{}, 0, L"its central directory cannot be read"};
  std::size_t at = 0;
  for (std::uint16_t i = 0; i < count; ++i) {
    if (at + kDirectoryLength > bytes.size() || U32(&bytes[at]) != kDirectorySignature)
      return {{}, 0, L"a broken central directory"};
    const std::uint8_t* header = &bytes[at];
    const std::size_t nameLength = U16(header + 28);
    const std::size_t next = at + kDirectoryLength + nameLength + U16(header + 30) + U16(header + 32);
    if (next > bytes.size()) return {{}, 0, L"a broken central directory"};
    Entry entry;
    entry.name.assign(reinterpret_cast<const char*>(header + kDirectoryLength), nameLength);
    entry.flags = U16(header + 8);
    entry.method = U16(header + 10);
    entry.crc = U32(header + 16);
    entry.packed = U32(header + 20);
    entry.size = U32(header + 24);
    entry.localOffset = U32(header + 42);
    // Two parts of one name: which one Word reads is not known here.
    for (const Entry& earlier : directory.entries) {
      if (SamePartName(earlier.name, entry.name)) return {{}, 0, L"two parts named " + Wide(entry.name)};
    }
    directory.entries.push_back(std::move(entry));
    at = next;
  }
  directory.start = offset;
  return directory;
}

// zlib's raw inflater, ended on every path.
class Inflater {
 public:
  Inflater() { ok_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK; }
  ~Inflater() {
    if (ok_) inflateEnd(&stream_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  bool ok() const { return ok_; }
  z_stream& stream() { return stream_; }

 private:
  z_stream stream_{};
  bool ok_ = false;
};

// Reads parts, within what a package may inflate to in all.
class PartReader {
 public:
  PartReader(ReadableFile& file, const Directory& directory) : file_(file), directory_(directory) {}

  // Hands the part's bytes to `sink` as they inflate, until `sink` answers true (enough read). Empty when the
  // part was read whole, or `sink` had enough; otherwise why it could not be.
  std::optional<std::wstring> Read(const Entry& entry,
                                   const std::function<bool(const std::uint8_t*, std::size_t)>& sink) {
    const std::wstring name = Wide(entry.name);
    if ((entry.flags & kEncrypted) != 0) return name + L" is encrypted";
    if (entry.method != kStored && entry.method != kDeflated) return name + L" is packed by an unknown method";
    if (entry.size > kLongestPart) return name + L" states " + Decimal(entry.size) + L" bytes, more than are read";
    if (inflated_ + entry.size > kMostInflated) return L"the package's parts state more bytes than are read";
    std::uint8_t local[kLocalLength];
    if (!file_.Read(entry.localOffset, local, sizeof local) || U32(local) != kLocalSignature)
      return name + L": no local header where the directory says";
    const std::uint64_t data = std::uint64_t{entry.localOffset} + kLocalLength + U16(local + 26) + U16(local + 28);
    if (data + entry.packed > directory_.start) return name + L": its data runs past the central directory";
    if (entry.method == kStored && entry.packed != entry.size) return name + L": its sizes disagree";

    Inflater inflater;
    if (entry.method == kDeflated && !inflater.ok()) return name + L": zlib could not start";
    std::vector<std::uint8_t> in(kChunk);
    std::vector<std::uint8_t> out(kChunk);
    std::uint64_t read = 0;  // packed bytes read
    std::uint64_t produced = 0;
    std::uint32_t crc = static_cast<std::uint32_t>(crc32(0L, Z_NULL, 0));
    bool ended = entry.method == kStored && entry.size == 0;
    // Bytes the part gave: more than it states is a lie (or a bomb), and reading stops there.
    auto take = [&](const std::uint8_t* bytes, std::size_t count) -> std::optional<std::wstring> {
      produced += count;
      if (produced > entry.size)
        return name + L" inflates to more than the " + Decimal(entry.size) + L" bytes it states";
      crc = static_cast<std::uint32_t>(crc32(crc, bytes, static_cast<uInt>(count)));
      return std::nullopt;
    };
    while (!ended) {
      if (read >= entry.packed) return name + L" ends before its data does: truncated, or its sizes lie";
      const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, entry.packed - read));
      if (!file_.Read(data + read, in.data(), count)) return name + L" cannot be read";
      read += count;
      if (entry.method == kStored) {
        if (auto failure = take(in.data(), count)) return failure;
        if (sink(in.data(), count)) return std::nullopt;
        ended = read == entry.packed;
        continue;
      }
      z_stream& z = inflater.stream();
      z.next_in = in.data();
      z.avail_in = static_cast<uInt>(count);
      do {
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        const int status = inflate(&z, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
          return name + L" is not a valid deflate stream";
        const std::size_t got = out.size() - z.avail_out;
        if (auto failure = take(out.data(), got)) return failure;
        if (got > 0 && sink(out.data(), got)) return std::nullopt;
        if (status == Z_STREAM_END) {
          ended = true;
          break;
        }
        if (status == Z_BUF_ERROR && got == 0) break;  // needs more input
      } while (z.avail_in > 0 || z.avail_out == 0);
    }
    inflated_ += produced;
    if (produced != entry.size)
      return name + L" inflates to fewer bytes than the " + Decimal(entry.size) + L" it states";
    if (crc != entry.crc) return name + L": its checksum does not match";
    return std::nullopt;
  }

 private:
  ReadableFile& file_;
  const Directory& directory_;
  std::uint64_t inflated_ = 0;
};

bool IsRelationshipsPart(std::string_view name) {
  constexpr std::string_view kFolder = "_rels/";
  constexpr std::string_view kSuffix = ".rels";
  if (name.size() < kSuffix.size() || !SamePartName(name.substr(name.size() - kSuffix.size()), kSuffix)) return false;
  const std::size_t slash = name.rfind('/');
  const std::size_t folderStart = slash == std::string_view::npos || slash + 1 < kFolder.size()
                                      ? std::string_view::npos
                                      : slash + 1 - kFolder.size();
  return folderStart != std::string_view::npos && SamePartName(name.substr(folderStart, kFolder.size()), kFolder);
}

// The value of attribute `attribute` in the element's text; empty when it has none, or one with an entity.
std::optional<std::string> Attribute(std::string_view element, std::string_view attribute) {
  for (std::size_t at = element.find(attribute); at != std::string_view::npos; at = element.find(attribute, at + 1)) {
    if (at == 0 ||
        (element[at - 1] != ' ' && element[at - 1] != '\t' && element[at - 1] != '\r' && element[at - 1] != '\n'))
      continue;
    std::size_t i = at + attribute.size();
    while (i < element.size() && (element[i] == ' ' || element[i] == '\t' || element[i] == '\r' || element[i] == '\n'))
      ++i;
    if (i >= element.size() || element[i] != '=') continue;
    ++i;
    while (i < element.size() && (element[i] == ' ' || element[i] == '\t' || element[i] == '\r' || element[i] == '\n'))
      ++i;
    if (i >= element.size() || (element[i] != '"' && element[i] != '\'')) return std::nullopt;
    const std::size_t close = element.find(element[i], i + 1);
    if (close == std::string_view::npos) return std::nullopt;
    std::string value(element.substr(i + 1, close - i - 1));
    if (value.find('&') != std::string::npos) return std::nullopt;
    return value;
  }
  return std::nullopt;
}

}  // namespace

Utf16Scanner::Utf16Scanner(std::vector<std::wstring_view> names) : names_(std::move(names)) {
  std::stable_sort(names_.begin(), names_.end(), [](auto a, auto b) { return a.size() > b.size(); });
  for (const std::wstring_view name : names_) {
    std::string bytes;
    for (const wchar_t c : name) {
      bytes += static_cast<char>(c & 0xFF);
      bytes += static_cast<char>((c >> 8) & 0xFF);
    }
    longest_ = std::max(longest_, bytes.size());
    needles_.push_back(std::move(bytes));
  }
}

bool Utf16Scanner::Feed(const std::uint8_t* data, std::size_t size) {
  if (found_) return true;
  held_.append(reinterpret_cast<const char*>(data), size);
  return ScanHeld(false);
}

bool Utf16Scanner::Finish() { return found_ || ScanHeld(true); }

std::optional<std::wstring_view> Utf16Scanner::found() const {
  if (!found_) return std::nullopt;
  return names_[*found_];
}

bool Utf16Scanner::ScanHeld(bool atEnd) {
  // A start is decided only once the longest needle fits after it (or the input has ended): until then a
  // shorter name found there may be the start of a longer one.
  std::size_t start = 0;
  for (; start < held_.size() && (atEnd || start + longest_ <= held_.size()); ++start) {
    for (std::size_t i = 0; i < needles_.size(); ++i) {
      if (held_.compare(start, needles_[i].size(), needles_[i]) == 0 && start + needles_[i].size() <= held_.size()) {
        found_ = i;
        held_.clear();
        return true;
      }
    }
  }
  held_.erase(0, start);
  return false;
}

std::optional<std::string> ResolveTarget(std::string_view relsPart, std::string_view target) {
  if (target.empty() || target.find_first_of("\\%:?#") != std::string_view::npos) return std::nullopt;
  // The source part's folder: the relationships part's folder without its "_rels/".
  std::string_view folder = relsPart.substr(0, relsPart.rfind('/') == std::string_view::npos ? 0 : relsPart.rfind('/'));
  folder = folder.substr(0, folder.size() >= 5 ? folder.size() - 5 : 0);  // drop "_rels"
  std::vector<std::string> segments;
  std::string path = target.front() == '/' ? std::string(target.substr(1)) : std::string(folder) + std::string(target);
  std::size_t at = 0;
  while (at <= path.size()) {
    const std::size_t slash = std::min(path.find('/', at), path.size());
    const std::string segment = path.substr(at, slash - at);
    if (segment == "..") {
      if (segments.empty()) return std::nullopt;
      segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    } else if (segment.empty() && slash < path.size()) {
      return std::nullopt;  // "a//b"
    }
    at = slash + 1;
  }
  if (segments.empty()) return std::nullopt;
  std::string part = segments.front();
  for (std::size_t i = 1; i < segments.size(); ++i) part += "/" + segments[i];
  return part;
}

Reading ReadStoredToolbars(ReadableFile& file, const std::vector<std::wstring_view>& names) {
  using Verdict = Reading::Verdict;
  const Directory directory = ReadDirectory(file);
  if (!directory.failure.empty()) return {Verdict::kCannotTell, directory.failure};
  PartReader reader(file, directory);

  // The stored toolbars' parts, from every relationships part that names one.
  std::vector<std::string> toolbars;
  for (const Entry& entry : directory.entries) {
    if (!IsRelationshipsPart(entry.name)) continue;
    std::string text;
    if (auto failure = reader.Read(entry, [&](const std::uint8_t* bytes, std::size_t count) {
          text.append(reinterpret_cast<const char*>(bytes), count);
          return false;
        })) {
      return {Verdict::kCannotTell, *failure};
    }
    // Each element that names the type, once: its Target names the part ("attachedToolbars.bin" again).
    for (std::size_t at = text.find(kToolbarsType); at != std::string::npos; at = text.find(kToolbarsType, at)) {
      const std::size_t open = text.rfind('<', at);
      const std::size_t close = text.find('>', at);
      if (open == std::string::npos || close == std::string::npos)
        return {Verdict::kCannotTell, Wide(entry.name) + L": a broken relationship"};
      const std::string_view element = std::string_view(text).substr(open, close - open);
      const std::optional<std::string> target = Attribute(element, "Target");
      const std::optional<std::string> part = target ? ResolveTarget(entry.name, *target) : std::nullopt;
      if (!part) return {Verdict::kCannotTell, Wide(entry.name) + L": a toolbars target outside the package"};
      toolbars.push_back(*part);
      at = close;
    }
  }
  if (toolbars.empty()) return {Verdict::kNothing, L"no stored toolbars"};

  std::wstring scanned;
  for (const std::string& part : toolbars) {
    const auto entry = std::find_if(directory.entries.begin(), directory.entries.end(),
                                    [&](const Entry& e) { return SamePartName(e.name, part); });
    if (entry == directory.entries.end()) return {Verdict::kCannotTell, L"no part " + Wide(part) + L" in the package"};
    Utf16Scanner scanner(names);
    if (auto failure = reader.Read(
            *entry, [&](const std::uint8_t* bytes, std::size_t count) { return scanner.Feed(bytes, count); })) {
      return {Verdict::kCannotTell, *failure};
    }
    if (scanner.Finish()) return {Verdict::kAddIns, std::wstring(*scanner.found())};
    if (!scanned.empty()) scanned += L", ";
    scanned += Wide(entry->name) + L" (" + Decimal(entry->size) + L" bytes)";
  }
  return {Verdict::kNothing, L"stored toolbars " + scanned + L" hold none of the add-in's names"};
}

}  // namespace corvix::package
