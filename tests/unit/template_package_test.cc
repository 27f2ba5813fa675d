// The stored toolbars of a template package: the UTF-16 scan over chunks, the ZIP reading and its bounds, and
// what RemoveWordToolbars makes of a Normal template before it starts Word.
#include <gtest/gtest.h>
#include <zlib.h>

#include "cleanup/word/normal_template.h"
#include "cleanup/word/word_cleanup.h"
#include "office/template_package.h"
#include "office/trace.h"
#include "tests/unit/test_support.h"

namespace corvix {
namespace {

using package::Reading;
using Verdict = Reading::Verdict;

const std::vector<std::wstring_view> kNames = {L"Merrowin Software", L"Merrowin Software Toolbar", L"Inspector Menu"};

std::string Utf16(std::wstring_view text) {
  std::string bytes;
  for (const wchar_t c : text) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  return bytes;
}

// What the scanner finds in `bytes` fed in chunks of `chunk` bytes.
std::optional<std::wstring_view> Scan(const std::string& bytes, std::size_t chunk) {
  package::Utf16Scanner scanner(kNames);
  for (std::size_t at = 0; at < bytes.size(); at += chunk) {
    const std::size_t count = std::min(chunk, bytes.size() - at);
    if (scanner.Feed(reinterpret_cast<const std::uint8_t*>(bytes.data() + at), count)) return scanner.found();
  }
  scanner.Finish();
  return scanner.found();
}

TEST(Utf16Scanner, FindsANameAcrossEveryChunkBorderAndAtOddOffsets) {
  const std::string noise = "\x01\x00\xFFToolbar\x00M\x00";
  for (const std::wstring_view name : kNames) {
    const std::string bytes = noise + Utf16(name) + "\x07";
    for (std::size_t chunk = 1; chunk <= bytes.size(); ++chunk) {
      SCOPED_TRACE(chunk);
      EXPECT_EQ(name, Scan(bytes, chunk));
    }
  }
}

TEST(Utf16Scanner, TheLongerBarNameWinsEvenWhenItEndsInALaterChunk) {
  const std::string bytes = Utf16(L"Merrowin Software Toolbar");
  for (std::size_t chunk = 1; chunk <= bytes.size(); ++chunk) {
    SCOPED_TRACE(chunk);
    EXPECT_EQ(L"Merrowin Software Toolbar", Scan(bytes, chunk));
  }
  // The shorter name at the very end of the input is found by Finish.
  EXPECT_EQ(L"Merrowin Software", Scan("xx" + Utf16(L"Merrowin Software"), 5));
}

TEST(Utf16Scanner, NoMatchForOtherCaseEightBitTextOrACutName) {
  for (const std::string& bytes : {Utf16(L"merrowin software"), std::string("Merrowin Software Inspector Menu"),
                                   Utf16(L"Inspector Men"), Utf16(L"Merrowin Softwar") + "e"}) {
    EXPECT_EQ(std::nullopt, Scan(bytes, 3));
  }
}

// A ZIP package built part by part, with hooks to make its records lie.
struct Part {
  std::string name;
  std::string content;
  bool deflate = true;
  std::int64_t statedSize = -1;  // what the central directory says it inflates to; -1: the truth
};

std::string Le16(std::uint32_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; }
std::string Le32(std::uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }

std::string Deflated(const std::string& content) {
  z_stream z{};
  EXPECT_EQ(Z_OK, deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY));
  std::string out(deflateBound(&z, static_cast<uLong>(content.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
  z.avail_in = static_cast<uInt>(content.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(Z_STREAM_END, deflate(&z, Z_FINISH));
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string Zip(const std::vector<Part>& parts) {
  std::string body;
  std::string directory;
  for (const Part& part : parts) {
    const std::string data = part.deflate ? Deflated(part.content) : part.content;
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(part.content.data()), static_cast<uInt>(part.content.size())));
    const auto size = static_cast<std::uint32_t>(part.statedSize < 0 ? part.content.size() : part.statedSize);
    const std::string common = Le16(20) + Le16(0) + Le16(part.deflate ? 8 : 0) + Le32(0) + Le32(crc) +
                               Le32(static_cast<std::uint32_t>(data.size())) + Le32(size) +
                               Le16(static_cast<std::uint32_t>(part.name.size())) + Le16(0);
    directory += Le32(0x02014b50) + Le16(20) + common + Le16(0) + Le16(0) + Le16(0) + Le32(0) +
                 Le32(static_cast<std::uint32_t>(body.size())) + part.name;
    body += Le32(0x04034b50) + common + part.name + data;
  }
  return body + directory + Le32(0x06054b50) + Le16(0) + Le16(0) + Le16(static_cast<std::uint32_t>(parts.size())) +
         Le16(static_cast<std::uint32_t>(parts.size())) + Le32(static_cast<std::uint32_t>(directory.size())) +
         Le32(static_cast<std::uint32_t>(body.size())) + Le16(0);
}

const std::string kCustomizationsRels =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" Type=\"http://schemas.microsoft.com/office/2006/relationships/attachedToolbars\" "
    "Target=\"attachedToolbars.bin\"/></Relationships>";

// A Normal template whose stored toolbars are `toolbars`, with the parts around it that Word writes.
std::vector<Part> Template(const std::string& toolbars) {
  return {{"[Content_Types].xml", "<Types/>"},
          {"_rels/.rels", "<Relationships><Relationship Type=\"officeDocument\" Target=\"word/document.xml\"/>"},
          {"word/document.xml", "<w:document/>"},
          {"word/customizations.xml", "<wne:tcg/>"},
          {"word/_rels/customizations.xml.rels", kCustomizationsRels},
          {"word/attachedToolbars.bin", toolbars}};
}

// Stored toolbars in the shape Word writes them: packed records around UTF-16 names.
std::string Toolbars(std::wstring_view bar, std::wstring_view parameter) {
  return std::string("\x12\x00\x01", 3) + std::string(700, '\x05') + Le16(static_cast<std::uint32_t>(bar.size())) +
         Utf16(bar) + std::string(3, '\x00') + Utf16(parameter) + std::string(90000, '\x11');
}

class BytesFile final : public ReadableFile {
 public:
  explicit BytesFile(std::string bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  bool Read(std::uint64_t offset, void* into, std::size_t count) override {
    ++reads;
    if (offset > bytes_.size() || count > bytes_.size() - offset) return false;
    bytes_.copy(static_cast<char*>(into), count, static_cast<std::size_t>(offset));
    return true;
  }
  int reads = 0;

 private:
  std::string bytes_;
};

Reading ReadPackage(const std::string& bytes) {
  BytesFile file(bytes);
  return package::ReadStoredToolbars(file, kNames);
}

TEST(ReadStoredToolbars, TheAddInsNamesTheUsersOwnAndNoneStored) {
  EXPECT_EQ(L"Merrowin Software Toolbar",
            ReadPackage(Zip(Template(Toolbars(L"Merrowin Software Toolbar", L"Print")))).detail);
  const Reading marker = ReadPackage(Zip(Template(Toolbars(L"My Bar", L"Inspector Menu"))));
  EXPECT_EQ(Verdict::kAddIns, marker.verdict);
  EXPECT_EQ(L"Inspector Menu", marker.detail);

  Part stored = Template(Toolbars(L"Merrowin Software", L"")).back();
  stored.deflate = false;
  std::vector<Part> storedParts = Template("");
  storedParts.back() = stored;
  EXPECT_EQ(Verdict::kAddIns, ReadPackage(Zip(storedParts)).verdict);

  const Reading users = ReadPackage(Zip(Template(Toolbars(L"My Bar", L"Explorer Menu"))));
  EXPECT_EQ(Verdict::kNothing, users.verdict);
  EXPECT_NE(std::wstring::npos, users.detail.find(L"word/attachedToolbars.bin")) << users.detail;

  // No customizations part: no relationship names stored toolbars.
  std::vector<Part> plain = Template("");
  plain.erase(plain.begin() + 3, plain.end());
  EXPECT_EQ(Verdict::kNothing, ReadPackage(Zip(plain)).verdict);
}

TEST(ReadStoredToolbars, LyingSizesABombAndBrokenPackagesCannotTell) {
  const std::string addIns = Toolbars(L"My Bar", L"Print");
  struct Case {
    const char* what;
    std::string bytes;
  };
  std::vector<Part> smaller = Template(addIns);
  smaller.back().statedSize = 100;
  std::vector<Part> larger = Template(addIns);
  larger.back().statedSize = static_cast<std::int64_t>(addIns.size()) + 1;
  // A few kilobytes that inflate to far more than may be read, stating the truth about it.
  std::vector<Part> bomb = Template(std::string(package::kLongestPart + 1, '\0'));
  // The same, stating a small size.
  std::vector<Part> quietBomb = Template(std::string(64u << 20, '\0'));
  quietBomb.back().statedSize = 1000;
  std::vector<Part> outside = Template(addIns);
  outside[4].content.replace(outside[4].content.find("Target=\"") + 8, 0, "../../../");
  std::vector<Part> twice = Template(addIns);
  twice.push_back({"WORD/attachedToolbars.bin", Toolbars(L"Merrowin Software", L"")});
  std::vector<Part> missing = Template(addIns);
  missing.pop_back();
  const std::string whole = Zip(Template(addIns));
  std::string corrupt = whole;
  corrupt[whole.find("word/attachedToolbars.bin") + 40] ^= 0x5A;  // inside the deflated toolbars
  for (const Case& c :
       {Case{"stated smaller", Zip(smaller)}, Case{"stated larger", Zip(larger)}, Case{"bomb", Zip(bomb)},
        Case{"quiet bomb", Zip(quietBomb)}, Case{"outside", Zip(outside)}, Case{"twice", Zip(twice)},
        Case{"missing", Zip(missing)}, Case{"corrupt", corrupt}, Case{"truncated", whole.substr(0, whole.size() - 30)},
        Case{"empty", ""}, Case{"not a zip", std::string(5000, 'x')}}) {
    SCOPED_TRACE(c.what);
    const Reading reading = ReadPackage(c.bytes);
    EXPECT_EQ(Verdict::kCannotTell, reading.verdict) << std::string(reading.detail.begin(), reading.detail.end());
    EXPECT_FALSE(reading.detail.empty());
  }
}

TEST(ResolveTarget, RelativeAbsoluteAndEscapes) {
  const std::string rels = "word/_rels/customizations.xml.rels";
  EXPECT_EQ("word/attachedToolbars.bin", package::ResolveTarget(rels, "attachedToolbars.bin"));
  EXPECT_EQ("word/attachedToolbars.bin", package::ResolveTarget(rels, "/word/attachedToolbars.bin"));
  EXPECT_EQ("custom/bars.bin", package::ResolveTarget(rels, "../custom/./bars.bin"));
  EXPECT_EQ("bars.bin", package::ResolveTarget("_rels/.rels", "bars.bin"));
  for (const char* escape : {"../../bars.bin", "C:/bars.bin", "..\\bars.bin", "", "a//b", "%2e%2e/bars.bin"}) {
    EXPECT_EQ(std::nullopt, package::ResolveTarget(rels, escape)) << escape;
  }
}

// RemoveWordToolbars with Word not running, and a Normal template where Word 16 keeps it by default.
class NormalTemplateTest : public ::testing::Test {
 protected:
  void Run(std::optional<std::string> normal, std::wstring folder = L"C:\\Users\\u\\AppData\\Roaming") {
    office_ =
        testing::LoadScenario("word installed fileversion 16\n  bar \"Merrowin Software\"\n    button \"Find\"\n");
    standin::MemoryAutomation automation(*office_);
    automation.appData = L"C:\\Users\\u\\AppData\\Roaming";
    if (normal) automation.files[folder + L"\\Normal.dotm"] = *normal;
    if (folder != automation.appData) {
      automation.userRegistry[L"Software\\Policies\\Microsoft\\Office\\16.0\\Common\\General\\UserTemplates"] = folder;
      automation.appData = L"D:\\elsewhere";
      automation.files[L"D:\\elsewhere\\Microsoft\\Templates\\Normal.dotm"] = Zip(Template(""));
    }
    testing::RecordedEvents events;
    RemoveWordToolbars(automation.Access(), events);
    firstLine_ = events.lines.empty() ? std::wstring() : events.lines.front();
  }
  bool Started() const { return !testing::Calls(*office_, L"CoCreateInstance").empty(); }
  std::unique_ptr<standin::Office> office_;
  std::wstring firstLine_;
};

TEST_F(NormalTemplateTest, ANormalThatStoresNothingOfTheAddInsIsNotStarted) {
  Run(Zip(Template(Toolbars(L"My Bar", L"Print"))), L"C:\\Users\\u\\AppData\\Roaming\\Microsoft\\Templates");
  EXPECT_FALSE(Started());
  EXPECT_NE(std::wstring::npos, firstLine_.find(L"not started")) << firstLine_;
  EXPECT_NE(std::wstring::npos, firstLine_.find(L"Templates\\Normal.dotm")) << firstLine_;
}

TEST_F(NormalTemplateTest, TheAddInsBarsOrAnUnreadableNormalStartAndCleanAsEver) {
  for (const std::optional<std::string>& normal :
       {std::optional<std::string>(Zip(Template(Toolbars(L"Merrowin Software", L"")))),
        std::optional<std::string>("PK\x03\x04 broken"), std::optional<std::string>()}) {
    Run(normal, L"C:\\Users\\u\\AppData\\Roaming\\Microsoft\\Templates");
    EXPECT_TRUE(Started()) << firstLine_;
    EXPECT_TRUE(testing::StateHas(*office_, L"bar 'Merrowin Software' deleted")) << firstLine_;
    EXPECT_EQ(std::vector<std::wstring>{L"Word.Quit(BOOL true)"}, testing::Calls(*office_, L"Quit"));
  }
}

TEST_F(NormalTemplateTest, ThePolicysUserTemplatesFolderIsWhereNormalIsRead) {
  // The default folder's Normal stores nothing; the policy's folder holds the add-in's bars.
  Run(Zip(Template(Toolbars(L"Merrowin Software", L""))), L"\\\\server\\templates");
  EXPECT_TRUE(Started());
  EXPECT_NE(std::wstring::npos, firstLine_.find(L"\\\\server\\templates\\Normal.dotm")) << firstLine_;
}

TEST(NormalTemplateName, DotmFromWord2007DotIn2003NoneBefore) {
  EXPECT_EQ(L"Normal.dotm", NormalTemplateName(16));
  EXPECT_EQ(L"Normal.dotm", NormalTemplateName(12));
  EXPECT_EQ(L"Normal.dot", NormalTemplateName(11));
  EXPECT_EQ(L"", NormalTemplateName(10));
}

}  // namespace
}  // namespace corvix
