// The applications the stand-in can serve, and their registration for COM.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace standin::server {

struct KnownApp {
  const wchar_t* name;    // the model's name, as in the scenario: "word"
  const wchar_t* progId;  // "Word.Application"
  CLSID clsid;            // the stand-in's own class for it
};

// Every application the stand-in knows, whether or not a scenario declares it.
const std::vector<KnownApp>& KnownApps();
const KnownApp* FindKnownApp(std::wstring_view progId);

// An application to register, with the version that its ProgID's CurVer is to name (none: no CurVer), the
// major file version its local server is to carry (none: the stand-in's own exe, which carries none), and
// whether its class goes in the other registry view only.
struct Registered {
  const KnownApp* app;
  std::optional<std::uint32_t> currentVersion;
  std::optional<std::uint32_t> serverFileVersion;
  bool otherView = false;
};

// Registers `apps` under HKLM\Software\Classes (ProgID -> CLSID -> LocalServer32 = "<exe>" --state "<dir>";
// with a version, ProgID\CurVer = "<ProgID>.<version>" and that versioned ProgID -> CLSID, as Office has them).
// A server file version makes <exe> a copy in <dir>, "<name>_server.exe", whose version resource says it.
// Removes the stand-in's earlier registrations first. Refuses to replace a ProgID that belongs to another
// class (a real Office).
bool Register(const std::vector<Registered>& apps, const std::wstring& exe, const std::wstring& stateDir,
              std::wstring* error);
// Removes every registration of the stand-in: its ProgIDs (only where they name its classes) and its classes.
bool Unregister(std::wstring* error);

}  // namespace standin::server
