// Shared helpers for the unit tests: a stand-in Office built from a scenario, views of its journal, runners of
// the clean-ups, and recorders of the lines and events they tell.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/frm_main.h"
#include "office/give_up_policy.h"
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

// The lines written to a sink, prefix included, from one thread.
class RecordingSink : public TraceSink {
 public:
  void Write(std::wstring_view line) override { lines.emplace_back(line); }
  std::vector<std::wstring> lines;
};

// The channel's text of every event a clean-up reported, without the application's name.
struct RecordedEvents final : CleanupEvents {
  void Report(const CleanupEvent& event) override { lines.push_back(Describe(event)); }
  std::vector<std::wstring> lines;
};

// Runs each clean-up at once, on the calling thread, with one installation and one automation for the whole run.
class InlineRunner final : public CleanupRunner {
 public:
  explicit InlineRunner(OfficeAccess office) : office_(office) {}
  void Run(Cleanup cleanup, CleanupTrace& trace) override { RunToEnd(cleanup, office_, trace); }

 private:
  OfficeAccess office_;
};

// Runs each clean-up against the in-process stand-in, or, where `giveUp` says so for that run, gives it up as
// the runner does a clean-up whose Office stopped answering at `call`, after `refusals` refused calls
// (`refusedMs` in all; none: no refusals reported).
class GivingUpRunner : public CleanupRunner {
 public:
  GivingUpRunner(standin::Office& office, std::vector<bool> giveUp, std::wstring call, std::uint32_t refusals = 0,
                 std::uint32_t refusedMs = 0)
      : automation_(office),
        giveUp_(std::move(giveUp)),
        call_(std::move(call)),
        refusals_(refusals),
        refusedMs_(refusedMs) {}
  void Run(Cleanup cleanup, CleanupTrace& trace) override {
    const std::size_t index = runs++;
    if (index < giveUp_.size() && giveUp_[index]) {
      if (refusals_ > 0) trace.Report(event::Refused{refusals_, refusedMs_});
      trace.Report(event::GivenUp{call_, event::GivenUp::Why::kNoAnswer, stall::kBoundMs});
      return;
    }
    cleanup(automation_.Access(), trace);
  }
  std::size_t runs = 0;

 private:
  standin::MemoryAutomation automation_;
  std::vector<bool> giveUp_;
  std::wstring call_;
  std::uint32_t refusals_;
  std::uint32_t refusedMs_;
};

}  // namespace corvix::testing
