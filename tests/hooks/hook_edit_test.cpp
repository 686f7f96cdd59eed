// In process: adding and removing our hook in settings texts (exact bytes for
// each style of file, which commands are ours, repairs and refusals), and where
// each agent's settings file is found from the environment.
#include "hooks/hook_edit.h"
#include "hooks/settings_location.h"
#include "settings/text_edit.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using namespace tarnel;
using testing_support::readFile;

const Agent& agent(const std::string& word) { return *hookCommand("install-" + word + "-hooks")->agent; }

// We run as /t/tarnelctl; /opt/tl is the same file under another name; what is under /gone/ was removed.
const HookRules rules{"/t/tarnelctl", "/t/tarnelctl busy", [](auto& p) { return p == "/opt/tl"; },
                      [](auto& p) { return p.starts_with("/gone/"); },
                      [](auto& p) { return p.starts_with("/dead/"); }};

using Text = std::optional<std::string>;

std::string installed(const std::string& word, const Text& text) {
  auto edit = installHook(agent(word), text, rules);
  return edit.text ? edit.text->str() : *text;
}
std::string uninstalled(const std::string& word, const Text& text) {
  auto edit = uninstallHook(agent(word), text, rules);
  return edit.text ? edit.text->str() : *text;
}

/// Each fixture named <what>.<agent>.json, with its bytes read whole.
std::vector<std::pair<std::string, Text>> fixtures(const std::string& folder) {
  std::vector<std::pair<std::string, Text>> found;
  for (const auto& entry : std::filesystem::directory_iterator(std::string(SOURCE_DIR "/tests/fixtures/") + folder)) {
    std::string name = entry.path().filename().string();
    if (name.ends_with(".json") && std::count(name.begin(), name.end(), '.') == 2) found.emplace_back(name, readFile(entry.path()));
  }
  return found;
}

std::string agentOf(const std::string& name) { return name.substr(name.find('.') + 1, name.rfind('.') - name.find('.') - 1); }

// A file in each style, the exact bytes that install makes of it, and the file again after uninstall.
// Files under edits/ hold hooks of ours already: what install and uninstall make of them.
TEST(HookEdit, OnlyOurBytesChange) {
  for (std::string folder : {"styles", "edits"}) {
    for (const auto& [name, before] : fixtures(folder)) {
      SCOPED_TRACE(name);
      std::string stem = SOURCE_DIR "/tests/fixtures/" + folder + "/" + name.substr(0, name.size() - 5), agent = agentOf(name);
      Text after = readFile(stem + ".installed.json");
      EXPECT_EQ(installed(agent, before), *after);
      EXPECT_EQ(installed(agent, after), *after);
      if (folder == "styles") {
        EXPECT_EQ(uninstalled(agent, after), *before);
      }
      if (std::filesystem::exists(stem + ".uninstalled.json")) {
        EXPECT_EQ(uninstalled(agent, before), readFile(stem + ".uninstalled.json"));
      }
    }
  }
}

// A refused file, and the reason given after the file's name.
TEST(HookEdit, RefusesWithPlaceAndReason) {
  for (const auto& [name, text] : fixtures("refused")) {
    SCOPED_TRACE(name);
    std::string reason = readFile(SOURCE_DIR "/tests/fixtures/refused/" + name.substr(0, name.size() - 5) + ".txt");
    try {
      installHook(agent(agentOf(name)), text, rules);
      ADD_FAILURE() << "accepted";
    } catch (const Refused& refused) {
      EXPECT_EQ(refused.what(), reason);
    }
  }
}

struct Command {
  std::string text;
  bool ours;
};

const Command commands[] = {
    {"/t/tarnelctl busy", true}, {"tarnelctl busy", true}, {"'/A B/it'\\''s/tarnelctl' busy", true},
    {"\"/x/q\\\"t/tarnelctl\" busy", true}, {"/x/tar'nel'ctl busy", true}, {"/opt/tl busy", true},
    {"/t/tarnelctl busy 30", false}, {"/t/tarnelctl busy; rm -rf ~", false}, {"/t/tarnelctl  busy", false},
    {"/t/tarnelctl", false}, {"/usr/bin/other busy", false}, {"/x/tarnelctl/ busy", false},
    {"~/bin/notify-tarnelctl-fans.sh --status busy", false}, {"\"$HOME/tarnelctl\" busy", false},
    {"/x/tarnelctl status busy", false}, {"'/x/tarnelctl busy", false}, {" busy", false},
    {"/t/tarnelctl busy || true", true}, {"'/a/$''b/tarnelctl' busy", true}, {"/t/tarnelctl busy || false", false}};

TEST(HookEdit, OneRuleKnowsOurCommandForEveryAgent) {
  for (const Agent& a : agents) {
    if (a.file != HookFile::settings) continue;  // files wholly ours: known by their whole text
    for (const auto& [text, ours] : commands) {
      SCOPED_TRACE(std::string(a.word) + ": " + text);
      std::string handler = "{\"type\": \"command\", \"" + std::string(a.commandKey) + "\": " + json(text).dump() + "}";
      std::string element = a.layout == Layout::flatEntries ? handler : "{\"hooks\": [" + handler + "]}";
      std::string events = "{\"" + std::string(a.events[0]) + "\": [" + element + "]}";
      Text file = a.eventsAt == EventsAt::topLevel ? events : "{\"hooks\": " + events + "}";
      auto added = installHook(a, file, rules).added;
      EXPECT_EQ(added.size(), ours ? a.events.size() - 1 : a.events.size());
      EXPECT_EQ(uninstallHook(a, file, rules).removed, ours ? 1u : 0u);
    }
  }
}

// Where each agent's settings file is found.
struct Place {
  const char* agent;
  std::vector<std::pair<const char*, const char*>> env;  // a null value unsets the variable
  std::string pathOrError, shown = "";                   // no `shown`: refused with that error
};

const Place places[] = {
    {"claude", {{"CLAUDE_CONFIG_DIR", ""}}, "/.claude/settings.json", "~/.claude/settings.json"},
    {"claude", {{"CLAUDE_CONFIG_DIR", "/c/d"}, {"HOME", nullptr}}, "/c/d/settings.json", "/c/d/settings.json"},
    {"gemini", {{"GEMINI_CLI_HOME", "/g/"}}, "/g/.gemini/settings.json", "/g/.gemini/settings.json"},
    {"codex", {{"CODEX_HOME", "/"}}, "/hooks.json", "/hooks.json"},
    {"codex", {{"CODEX_HOME", "/nonexistent"}},
     "CODEX_HOME names /nonexistent, which is not a folder — Codex needs it to exist: create it, or unset CODEX_HOME."},
    {"gemini", {{"GEMINI_CLI_HOME", "g"}}, "GEMINI_CLI_HOME is \"g\", which is not an absolute path — set it to one, or unset it."},
    {"qwen", {{"QWEN_HOME", "/q"}}, "/q/settings.json", "/q/settings.json"},
    {"copilot", {{"COPILOT_HOME", "/c"}}, "/c/hooks/tarnel.json", "/c/hooks/tarnel.json"},
    {"droid", {{"FACTORY_HOME_OVERRIDE", "/f"}}, "/f/.factory/hooks.json", "/f/.factory/hooks.json"},
    // A bad home is an error, never made up from elsewhere nor made.
    {"claude", {{"HOME", nullptr}}, "tarnelctl: HOME is not set — set it to your home folder, or set CLAUDE_CONFIG_DIR."},
    {"cursor", {{"HOME", ""}}, "tarnelctl: HOME is not set — set it to your home folder."},
    {"codex", {{"HOME", "nohome/x"}},
     "tarnelctl: HOME is \"nohome/x\", which is not an absolute path — set it to your home folder, or set CODEX_HOME."},
    {"gemini", {{"HOME", "/nonexistent"}},
     "tarnelctl: HOME names /nonexistent, which is not a folder — set it to your home folder, or set GEMINI_CLI_HOME."},
};

TEST(SettingsLocation, FromTheAgentsVariableOrTheHome) {
  for (const Place& p : places) {
    for (const Agent& a : agents) unsetenv(std::string(a.dirVariable).c_str());
    setenv("HOME", "/", 1);
    for (auto [name, value] : p.env) value ? setenv(name, value, 1) : unsetenv(name);
    try {
      SettingsPath where = locate(*hookCommand("install-" + std::string(p.agent) + "-hooks")->agent);
      EXPECT_EQ(where.path + " " + where.shown, p.pathOrError + " " + p.shown);
    } catch (const SettingsError& error) {
      EXPECT_EQ(error.what() + p.shown, p.pathOrError);
    }
  }
}

}  // namespace
