// Reads a scenario: the stand-in Office's initial state and the faults to inject. The format is in
// standin/README.md (Scenarios).
#include <sstream>

#include "standin/model/command_bar_model.h"
#include "standin/model/office_model.h"
#include "standin/model/outlook_model.h"
#include "standin/model/word_model.h"

namespace standin {

namespace {

std::wstring Widen(std::string_view utf8) {
  std::wstring out;
  for (size_t i = 0; i < utf8.size();) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    int extra = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
    char32_t code = extra == 3 ? byte & 0x07u : extra == 2 ? byte & 0x0Fu : extra == 1 ? byte & 0x1Fu : byte;
    ++i;
    for (; extra > 0 && i < utf8.size(); --extra, ++i)
      code = (code << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3Fu);
    if (sizeof(wchar_t) == 2 && code > 0xFFFF) {
      code -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (code >> 10));
      out += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<wchar_t>(code);
    }
  }
  return out;
}

struct Token {
  std::string text;
  bool quoted = false;
};

bool Tokenize(const std::string& line, std::vector<Token>* tokens, std::string* error) {
  for (size_t i = 0; i < line.size();) {
    if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
      ++i;
    } else if (line[i] == '#') {
      break;
    } else if (line[i] == '"') {
      Token token{{}, true};
      for (++i;; ++i) {
        if (i >= line.size()) {
          *error = "unterminated string";
          return false;
        }
        if (line[i] == '\\' && i + 1 < line.size()) {
          token.text += line[++i];
        } else if (line[i] == '"') {
          ++i;
          break;
        } else {
          token.text += line[i];
        }
      }
      tokens->push_back(std::move(token));
    } else {
      Token token;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') token.text += line[i++];
      tokens->push_back(std::move(token));
    }
  }
  return true;
}

// The flags of a Word or Outlook line that both have: "process", "version N", "fileversion N", "otherview".
// Returns what is wrong with them, or nothing.
std::string ReadApplicationFlags(const std::vector<Token>& tokens, Application* app) {
  for (size_t i = 1; i < tokens.size(); ++i) {
    if (tokens[i].quoted) continue;
    if (tokens[i].text == "process") app->process = true;
    if (tokens[i].text == "otherview") app->serverInOtherView = true;
    if (tokens[i].text != "version" && tokens[i].text != "fileversion") continue;
    const int version = i + 1 < tokens.size() ? std::atoi(tokens[i + 1].text.c_str()) : 0;
    if (version < 1 || version > 99) return tokens[i].text + " needs a number from 1 to 99";
    (tokens[i].text == "version" ? app->currentVersion : app->serverFileVersion) = static_cast<std::uint32_t>(version);
  }
  return {};
}

size_t Indent(const std::string& line) {
  size_t n = 0;
  while (n < line.size() && (line[n] == ' ' || line[n] == '\t')) ++n;
  return n;
}

}  // namespace

std::unique_ptr<Office> Office::FromScenario(std::string_view text, std::string* error) {
  auto office = std::make_unique<Office>();
  std::istringstream in{std::string(text)};
  std::string line;
  int lineNumber = 0;
  Application* app = nullptr;
  OutlookApplicationNode* outlook = nullptr;
  CommandBarsNode* bars = nullptr;
  // Open containers for controls, innermost last, with the indentation of the line that opened them.
  std::vector<std::pair<size_t, BarNode*>> open;

  auto fail = [&](const std::string& message) {
    if (error) *error = "line " + std::to_string(lineNumber) + ": " + message;
    return nullptr;
  };

  while (std::getline(in, line)) {
    ++lineNumber;
    std::vector<Token> tokens;
    std::string tokenError;
    if (!Tokenize(line, &tokens, &tokenError)) return fail(tokenError);
    if (tokens.empty()) continue;
    const size_t indent = Indent(line);
    const std::string& keyword = tokens[0].text;
    auto flag = [&](const char* name) {
      for (size_t i = 1; i < tokens.size(); ++i) {
        if (!tokens[i].quoted && tokens[i].text == name) return true;
      }
      return false;
    };
    auto after_token = [&](const char* name) -> const Token* {
      for (size_t i = 1; i + 1 < tokens.size(); ++i) {
        if (!tokens[i].quoted && tokens[i].text == name) return &tokens[i + 1];
      }
      return nullptr;
    };

    if (keyword == "word" || keyword == "outlook") {
      if (flag("unlisted") && !flag("running")) return fail(keyword + ": unlisted needs running");
      if (flag("process") && !flag("running")) return fail(keyword + ": process needs running");
    }
    if (keyword == "word") {
      app = &office->AddApplication(L"word", L"Word.Application");
      app->running = flag("running");
      app->listed = !flag("unlisted");
      // A running Word has its main window, hidden or not, unless it runs without any.
      app->mainWindow = app->running && !flag("nowindow");
      auto& word = static_cast<WordApplicationNode&>(*app->object);
      if (const Token* normal = after_token("normal")) {
        if (normal->text != "unsaved") return fail("word normal takes unsaved");
        word.normal().set_saved(false);
      }
      if (const Token* alerts = after_token("alerts")) {
        word.set_initial_display_alerts(std::atoi(alerts->text.c_str()));
      }
      bars = &word.bars();
      outlook = nullptr;
      open.clear();
    } else if (keyword == "outlook") {
      app = &office->AddApplication(L"outlook", L"Outlook.Application");
      app->running = flag("running");
      app->listed = !flag("unlisted");
      outlook = &static_cast<OutlookApplicationNode&>(*app->object);
      if (flag("window")) outlook->OpenMainWindow();
      app->mainWindow = app->running && flag("window") && !flag("late");
      if (flag("itemwindow")) outlook->OpenItemWindow();
      if (flag("takenup")) outlook->TakenUpOnDisplay();
      // The user's settings that a start would meet (read in-process only; under Wine, the tests write them
      // into the prefix): the stored bars' file, the default mail profile, and whether Outlook prompts for one.
      if (flag("barsfile")) {
        office->AddUserFile(std::wstring(Office::kAppDataFolder) + L"\\Microsoft\\Outlook\\outcmd.dat");
      }
      if (const Token* profile = after_token("profile")) {
        office->SetUserRegistryValue(
            L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles",
            L"DefaultProfile", Widen(profile->text));
      }
      if (const Token* prompt = after_token("pickprofile")) {
        office->SetUserRegistryValue(L"Software\\Microsoft\\Exchange\\Client\\Options", L"PickLogonProfile",
                                     Widen(prompt->text));
      }
      bars = nullptr;
      open.clear();
    }
    if (keyword == "word" || keyword == "outlook") {
      const std::string bad = ReadApplicationFlags(tokens, app);
      if (!bad.empty()) return fail(keyword + ": " + bad);
    } else if (keyword == "document") {
      if (app == nullptr || app->name != L"word") return fail("document outside word");
      if (tokens.size() < 2 || !tokens[1].quoted) return fail("document needs a quoted name");
      int afterCall = 0;
      std::wstring afterMember;
      if (const Token* after = after_token("after")) {
        if (after->text == "call") {
          const Token* number = after_token("call");
          afterCall = number ? std::atoi(number->text.c_str()) : 0;
          if (afterCall < 1) return fail("document after call needs a number from 1");
        } else {
          afterMember = Widen(after->text);
        }
      }
      office->AddDocument(Widen(tokens[1].text), afterCall, std::move(afterMember));
    } else if (keyword == "normal" || keyword == "template") {
      if (app == nullptr || app->name != L"word") return fail(keyword + " outside word");
      if (tokens.size() < 2 || !tokens[1].quoted) return fail(keyword + " needs a quoted file");
      auto& word = static_cast<WordApplicationNode&>(*app->object);
      TemplateNode* kept = nullptr;
      if (keyword == "normal") {
        office->SetFile(word.normal().file(), false, false);
        kept = &word.normal();
        kept->set_file(Widen(tokens[1].text));
      } else {
        kept = &word.AddTemplate(Widen(tokens[1].text), flag("context"));
        kept->set_saved(!flag("unsaved"));
      }
      office->SetFile(kept->file(), !flag("missing"), flag("readonly"));
    } else if (keyword == "explorer" || keyword == "inbox") {
      if (outlook == nullptr) return fail(keyword + " outside outlook");
      bars = keyword == "explorer" ? &outlook->explorer_bars() : nullptr;
      open.clear();
    } else if (keyword == "mail" || keyword == "meeting" || keyword == "report") {
      if (outlook == nullptr) return fail(keyword + " outside outlook");
      if (tokens.size() < 2 || !tokens[1].quoted) return fail(keyword + " needs a quoted subject");
      const ItemKind kind = keyword == "mail"      ? ItemKind::Mail
                            : keyword == "meeting" ? ItemKind::Meeting
                                                   : ItemKind::Report;
      auto item = outlook->AddItem(kind, Widen(tokens[1].text));
      bars = kind == ItemKind::Mail ? &item->inspector_bars() : nullptr;
      open.clear();
    } else if (keyword == "bar") {
      if (bars == nullptr) return fail("a bar outside an application");
      if (tokens.size() < 2 || !tokens[1].quoted) return fail("bar needs a quoted name");
      auto bar = bars->AddBar(Widen(tokens[1].text));
      bar->set_builtin(flag("builtin"));
      if (flag("active")) bars->set_active_menu_bar(bar);
      open.assign(1, {indent, bar.get()});
    } else if (keyword == "button" || keyword == "popup" || keyword == "combobox") {
      if (tokens.size() < 2 || !tokens[1].quoted) return fail(keyword + " needs a quoted caption");
      while (!open.empty() && open.back().first >= indent) open.pop_back();
      if (open.empty()) return fail(keyword + " outside a bar");
      const ControlKind kind = keyword == "button"  ? ControlKind::Button
                               : keyword == "popup" ? ControlKind::Popup
                                                    : ControlKind::ComboBox;
      const Token* parameter = after_token("parameter");
      const Token* id = after_token("id");
      auto control = open.back().second->AddControl(kind, Widen(tokens[1].text),
                                                    parameter ? Widen(parameter->text) : std::wstring());
      control->set_failing_delete(flag("undeletable"));
      if (id != nullptr) {
        const int number = std::atoi(id->text.c_str());
        if (number < 1) return fail(keyword + " id needs a number from 1");
        control->set_id(number);
      }
      if (control->submenu()) open.push_back({indent, control->submenu().get()});
    } else if (keyword == "hang" && tokens.size() >= 2 && !tokens[1].quoted && tokens[1].text == "start") {
      if (tokens.size() < 3 || (tokens[2].text != "word" && tokens[2].text != "outlook"))
        return fail("hang start takes word or outlook");
      office->HangStart(Widen(tokens[2].text));
    } else if (keyword == "fail" || keyword == "hang") {
      Fault fault;
      fault.hang = keyword == "hang";
      if (tokens.size() >= 3 && tokens[1].text == "call") {
        fault.callNumber = std::atoi(tokens[2].text.c_str());
        if (fault.callNumber < 1) return fail(keyword + " call needs a number from 1");
      } else if (tokens.size() >= 2) {
        fault.member = Widen(tokens[1].text);
        if (const Token* on = after_token("on")) fault.target = Widen(on->text);
        if (const Token* nth = after_token("nth")) fault.nth = std::atoi(nth->text.c_str());
      } else {
        return fail(keyword + " needs a member or call N");
      }
      office->AddFault(std::move(fault));
    } else if (keyword == "slow") {
      const int delay = tokens.size() >= 2 ? std::atoi(tokens[1].text.c_str()) : 0;
      if (delay < 1 || delay > 10000) return fail("slow needs milliseconds from 1 to 10000");
      office->SetCallDelay(delay);
    } else if (keyword == "busy") {
      const int calls = tokens.size() >= 3 ? std::atoi(tokens[1].text.c_str()) : 0;
      if (calls < 1) return fail("busy needs a number of calls from 1, then retrylater or rejected");
      if (tokens[2].text == "retrylater") {
        office->SetBusy(calls, Admission::kRetryLater);
      } else if (tokens[2].text == "rejected") {
        office->SetBusy(calls, Admission::kRejected);
      } else {
        return fail("busy takes retrylater or rejected");
      }
    } else {
      return fail("unknown keyword " + keyword);
    }
  }
  return office;
}

}  // namespace standin
