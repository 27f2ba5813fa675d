// Word's Normal template, read where a start of Word would load it.
#include "cleanup/word/normal_template.h"

#include <optional>
#include <utility>
#include <vector>

#include "base/hex.h"
#include "office/registered_version.h"
#include "office/template_package.h"
#include "office/trace.h"

namespace corvix {

namespace {

constexpr std::wstring_view kProgId = L"Word.Application";
// The first version whose Normal template is a package (Normal.dotm), and the one before it (Normal.dot).
constexpr std::uint32_t kWord2007 = 12;
constexpr std::uint32_t kWord2003 = 11;
static_assert(kWord2003 + 1 == kWord2007, "no Word between 2003 and 2007");
constexpr std::wstring_view kUserTemplates = L"UserTemplates";
// The add-in's names as its stored toolbars hold them: its two bars' names and its menu items' marker.
constexpr std::wstring_view kAddInNames[] = {L"Merrowin Software", L"Merrowin Software Toolbar", L"Inspector Menu"};

std::wstring Joined(std::wstring folder, std::wstring_view name) {
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  return folder + std::wstring(name);
}

}  // namespace

std::wstring NormalTemplateName(std::uint32_t version) {
  if (version >= kWord2007) return L"Normal.dotm";
  if (version == kWord2003) return L"Normal.dot";
  return {};
}

namespace {

// The "User templates" folder's registry key for Word of version `version`, under HKEY_CURRENT_USER: the
// policy's (`policy`) or the user's own.
std::wstring UserTemplatesKey(std::uint32_t version, bool policy) {
  return std::wstring(policy ? L"Software\\Policies\\Microsoft\\Office\\" : L"Software\\Microsoft\\Office\\") +
         Decimal(version) + L".0\\Common\\General";
}

// The "User templates" folder that the user's settings (or, with `policy`, the policy's) name; none when none
// is read.
std::optional<std::wstring> UserTemplates(Installation& installation, std::uint32_t version, bool policy) {
  UserRegistryValue value = installation.ReadUserRegistryValue(UserTemplatesKey(version, policy), kUserTemplates);
  if (value.state != UserRegistryValue::State::kRead || value.text.empty()) return std::nullopt;
  return std::move(value.text);
}

}  // namespace

event::NormalTemplateRead ReadNormalTemplate(Installation& installation) {
  using Verdict = event::NormalTemplateRead::Verdict;
  event::NormalTemplateRead read;
  const RegisteredVersion version = FindRegisteredVersion(installation, kProgId);
  read.version = version.major;
  read.versionSource = version.source;
  if (!version.major) {
    read.detail = L"no registered version can be read";
    return read;
  }
  const std::wstring name = NormalTemplateName(*version.major);
  if (name.empty()) {
    read.detail = L"a version whose Normal template is not known";
    return read;
  }
  // The policy's folder wins over the user's own; with neither, Word keeps its templates in the roaming
  // application data.
  std::optional<std::wstring> folder = UserTemplates(installation, *version.major, true);
  if (folder) {
    read.folderSource = L"the policy's User templates";
  } else if ((folder = UserTemplates(installation, *version.major, false))) {
    read.folderSource = L"User templates";
  } else if (std::wstring appData = installation.RoamingAppDataFolder(); !appData.empty()) {
    folder = Joined(std::move(appData), L"Microsoft\\Templates");
    read.folderSource = L"the default folder";
  } else {
    read.detail = L"no User templates folder, and no application-data folder";
    return read;
  }
  read.path = Joined(*folder, name);
  if (*version.major == kWord2003) {
    // Word 2003 keeps its toolbars in the compound file's table stream, which is not read here.
    read.detail = L"Word 2003's Normal.dot is not read";
    return read;
  }
  Outcome opened;
  const std::unique_ptr<ReadableFile> file = installation.OpenForReading(read.path, opened);
  if (!file) {
    read.detail = L"it cannot be opened: " + Hex(static_cast<std::uint32_t>(opened.status));
    return read;
  }
  const package::Reading reading = package::ReadStoredToolbars(*file, {std::begin(kAddInNames), std::end(kAddInNames)});
  read.detail = reading.detail;
  read.verdict = reading.verdict == package::Reading::Verdict::kAddIns    ? Verdict::kStoresAddIns
                 : reading.verdict == package::Reading::Verdict::kNothing ? Verdict::kStoresNothing
                                                                          : Verdict::kCannotTell;
  return read;
}

}  // namespace corvix
