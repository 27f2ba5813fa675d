// The member table: every member the model answers, by object type.
#include "standin/server/dispatch_names.h"

#include <cwctype>
#include <initializer_list>

namespace standin::server {

namespace {

struct Member {
  const wchar_t* name;
  std::int32_t dispid;
};

// Fixed numbers: a DISPID never changes once a client may have cached it.
constexpr Member kMembers[] = {
    {L"Count", 0x101},
    {L"Item", 0x102},
    {L"ActiveMenuBar", 0x103},
    {L"Name", 0x104},
    {L"Controls", 0x105},
    {L"Delete", 0x106},
    {L"Caption", 0x107},
    {L"Parameter", 0x108},
    {L"Type", 0x109},
    {L"CommandBar", 0x10A},
    {L"CommandBars", 0x10B},
    {L"Visible", 0x10C},
    {L"Quit", 0x10D},
    {L"ActiveExplorer", 0x10E},
    {L"GetNamespace", 0x10F},
    {L"Explorers", 0x110},
    {L"GetDefaultFolder", 0x111},
    {L"Items", 0x112},
    {L"Add", 0x113},
    {L"Display", 0x114},
    {L"Subject", 0x115},
    {L"GetInspector", 0x116},
    {L"Class", 0x117},
    {L"Documents", 0x118},
    {L"Inspectors", 0x119},
    {L"FindControl", 0x11A},
    {L"Id", 0x11B},
    {L"NormalTemplate", 0x11C},
    {L"Saved", 0x11D},
    {L"Save", 0x11E},
    {L"DisplayAlerts", 0x11F},
    {L"CustomizationContext", 0x120},
    {L"FullName", 0x121},
};

struct TypeMembers {
  const wchar_t* type;
  std::initializer_list<const wchar_t*> members;
};

// What each type of the model answers. A member added to a node's Answer belongs here too.
const TypeMembers kTypes[] = {
    {L"Word.Application",
     {L"CommandBars", L"Documents", L"NormalTemplate", L"Visible", L"Name", L"Quit", L"DisplayAlerts",
      L"CustomizationContext"}},
    {L"Documents", {L"Count"}},
    {L"Template", {L"Saved", L"Save", L"FullName", L"Name"}},
    {L"CommandBars", {L"Item", L"ActiveMenuBar", L"Count"}},
    {L"CommandBar", {L"Controls", L"Name", L"FindControl", L"Delete"}},
    {L"CommandBarControls", {L"Count", L"Item"}},
    {L"CommandBarButton", {L"Caption", L"Parameter", L"Type", L"Id", L"Delete"}},
    {L"CommandBarComboBox", {L"Caption", L"Parameter", L"Type", L"Id", L"Delete"}},
    {L"CommandBarPopup", {L"Caption", L"Parameter", L"Type", L"Id", L"Delete", L"Controls", L"CommandBar"}},
    {L"Outlook.Application", {L"ActiveExplorer", L"GetNamespace", L"Explorers", L"Inspectors", L"Quit"}},
    {L"NameSpace", {L"GetDefaultFolder"}},
    {L"MAPIFolder", {L"Items", L"Name"}},
    {L"Items", {L"Count", L"Item"}},
    {L"Explorers", {L"Count", L"Add"}},
    {L"Inspectors", {L"Count"}},
    {L"Explorer", {L"CommandBars", L"Display"}},
    {L"Item", {L"Subject", L"Class", L"GetInspector"}},
    {L"Inspector", {L"CommandBars"}},
};

bool SameName(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::int32_t FindMember(std::wstring_view typeName, std::wstring_view name) {
  const Member* member = nullptr;
  for (const Member& candidate : kMembers) {
    if (SameName(candidate.name, name)) member = &candidate;
  }
  if (member == nullptr) return 0;
  for (const TypeMembers& type : kTypes) {
    if (typeName != type.type) continue;
    bool listed = false;
    for (const wchar_t* own : type.members) listed = listed || std::wstring_view(own) == member->name;
    if (!listed) return 0;
    break;
  }
  return member->dispid;
}

const wchar_t* MemberName(std::int32_t dispid) {
  for (const Member& member : kMembers) {
    if (member.dispid == dispid) return member.name;
  }
  return nullptr;
}

}  // namespace standin::server
