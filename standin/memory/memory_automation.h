// The stand-in Office served in-process, for unit tests: the model answers both what the clean-ups ask about an
// application (its installation) and their calls to it (automation), so one class serves both.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "office/automation.h"
#include "office/installation.h"
#include "standin/model/office_model.h"

namespace standin {

class MemoryAutomation : public corvix::Automation, public corvix::Installation {
 public:
  explicit MemoryAutomation(Office& office) : office_(office) {}

  // What a clean-up is handed: this stand-in as both.
  corvix::OfficeAccess Access() { return {*this, *this}; }

  corvix::Found<corvix::Object> Attach(std::wstring_view progId, const corvix::Interface& type) override;
  corvix::Found<corvix::Object> Start(std::wstring_view progId, const corvix::Interface& type) override;

  bool HasTopLevelWindow(std::wstring_view windowClass) override { return office_.HasTopLevelWindow(windowClass); }
  bool HasProcessInSession(std::wstring_view imageName) override { return office_.HasProcessInSession(imageName); }
  std::wstring CurrentVersionOf(std::wstring_view progId) override { return office_.CurrentVersionOf(progId); }
  corvix::ServerVersion ServerFileVersion(std::wstring_view progId) override {
    const Application* app = office_.Find(progId);
    return {office_.ServerFileVersion(progId), app != nullptr && app->serverInOtherView};
  }
  bool IsWritableFile(std::wstring_view path) override { return office_.IsWritableFile(path); }
  // The user's settings and files: a scenario's (the model's), and those a unit test sets (public members below).
  std::wstring RoamingAppDataFolder() override { return appData; }
  bool IsExistingFile(std::wstring_view path) override {
    return office_.IsUserFile(path) || files.find(path) != files.end();
  }
  corvix::UserRegistryValue ReadUserRegistryValue(std::wstring_view key, std::wstring_view name) override;
  std::unique_ptr<corvix::ReadableFile> OpenForReading(std::wstring_view path, corvix::Outcome& outcome) override;

  // Files by path; registry strings by "key\\name"; %APPDATA%. With no file set, no Normal template can be read.
  std::map<std::wstring, std::string, std::less<>> files;
  std::map<std::wstring, std::wstring, std::less<>> userRegistry;
  std::wstring appData{Office::kAppDataFolder};

 private:
  Office& office_;
};

}  // namespace standin
