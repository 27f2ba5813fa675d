// The applications the stand-in can serve, and their registration for COM.
#pragma once

#include <windows.h>

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

// The type library (office.idl) that lets COM marshal Office's command bar interfaces.
extern const GUID kTypeLibrary;

// Registers `apps` under HKLM\Software\Classes (ProgID -> CLSID -> LocalServer32 = "<exe>" --state "<dir>")
// and the type library embedded in `exe`. Removes the stand-in's earlier registrations first. Refuses to
// replace a ProgID that belongs to another class (a real Office).
bool Register(const std::vector<const KnownApp*>& apps, const std::wstring& exe, const std::wstring& stateDir,
              std::wstring* error);
// Removes every registration of the stand-in: its ProgIDs (only where they name its classes), its
// classes and its type library.
bool Unregister(std::wstring* error);

}  // namespace standin::server
