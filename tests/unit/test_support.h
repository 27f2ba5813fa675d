// Shared helpers for the unit tests: a stand-in Office built from a scenario, and views of its journal.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "standin/memory/memory_automation.h"
#include "standin/model/office_model.h"

namespace corvix::testing {

inline std::unique_ptr<standin::Office> LoadScenario(const std::string& text) {
  std::string error;
  auto office = standin::Office::FromScenario(text, &error);
  EXPECT_NE(office, nullptr) << error;
  return office;
}

// The journal's calls to `member` (all calls when empty), as "target.member(args)" without the result.
inline std::vector<std::wstring> Calls(const standin::Office& office, const std::wstring& member = {}) {
  std::vector<std::wstring> calls;
  for (const auto& entry : office.Journal()) {
    if (!member.empty() && entry.member != member) continue;
    std::wstring call = entry.target + L"." + entry.member;
    if (entry.put && entry.args.size() == 1) {
      calls.push_back(call + L" = " + entry.args[0]);
      continue;
    }
    call += L"(";
    for (size_t i = 0; i < entry.args.size(); ++i) call += (i ? L", " : L"") + entry.args[i];
    calls.push_back(call + L")");
  }
  return calls;
}

// True when the state dump has a line containing `text`.
inline bool StateHas(const standin::Office& office, const std::wstring& text) {
  return office.StateText().find(text) != std::wstring::npos;
}

}  // namespace corvix::testing
