// Adding and removing our hook in settings texts, in-process: exact bytes for
// each style of file, which commands are ours, repairs and refusals.
#include "hooks/hook_edit.h"
#include "settings/settings_json.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using namespace tarnel;
using testing_support::readFile;

const Agent& agent(const std::string& word) { return *hookCommand("install-" + word + "-hooks")->agent; }

// We run as /t/tarnelctl; /opt/tl is the same file under another name; what is under /gone/ was removed.
const HookRules rules{"/t/tarnelctl", "/t/tarnelctl busy", [](auto& p) { return p == "/opt/tl"; },
                      [](auto& p) { return p.starts_with("/gone/"); }};

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
    if (!name.ends_with(".installed.json") && name.ends_with(".json")) found.emplace_back(name, readFile(entry.path()));
  }
  return found;
}

std::string agentOf(const std::string& name) {
  std::string stem = name.substr(0, name.size() - 5);
  return stem.substr(stem.rfind('.') + 1);
}

// A file in each style, and the exact bytes that install makes of it; uninstall gives the file back.
TEST(HookEdit, OnlyOurBytesChangeInFilesOfEveryStyle) {
  for (const auto& [name, before] : fixtures("styles")) {
    SCOPED_TRACE(name);
    std::string path = SOURCE_DIR "/tests/fixtures/styles/" + name, agent = agentOf(name);
    Text after = readFile(path.substr(0, path.size() - 5) + ".installed.json");
    EXPECT_EQ(installed(agent, before), *after);
    EXPECT_EQ(installed(agent, after), *after);
    EXPECT_EQ(uninstalled(agent, after), *before);
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

TEST(HookEdit, UninstallCutsOursKeepsOthersAndTheirComments) {
  Text before = "{\"hooks\": {\"BeforeTool\": [\n"
                       "  {\"hooks\": [{\"command\": \"/gone/tarnelctl busy\"}, {\"command\": \"a\"}]}, // a\n"
                       "  {\"hooks\": [{\"name\": \"tarnel\"}]},\n  {\"hooks\": [{\"command\": \"b\"}]}\n],"
                       " \"BeforeAgent\": [{\"hooks\": []}], \"Other\": [{\"hooks\": [{\"name\": \"tarnel\"}]}]}}";
  auto edit = uninstallHook(agent("gemini"), before, rules);
  EXPECT_EQ(edit.text->str(), "{\"hooks\": {\"BeforeTool\": [\n  {\"hooks\": [{\"command\": \"a\"}]}, // a\n"
                       "  {\"hooks\": [{\"command\": \"b\"}]}\n], \"Other\": [{\"hooks\": [{\"name\": \"tarnel\"}]}]}}");
  EXPECT_EQ(edit.removed, 2u);
  EXPECT_TRUE(edit.movedOthers);
  // Last in its list, our group moves nobody.
  Text ours = installed("codex", "{\"hooks\": {\"PreToolUse\": [{\"hooks\": []}]}}");
  EXPECT_FALSE(uninstallHook(agent("codex"), ours, rules).movedOthers);
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
    {"/x/tarnelctl status busy", false}, {"'/x/tarnelctl busy", false}, {" busy", false}};

TEST(HookEdit, OneRuleKnowsOurCommandForEveryAgent) {
  for (const Agent& a : agents) {
    for (const auto& [text, ours] : commands) {
      SCOPED_TRACE(std::string(a.word) + ": " + text);
      std::string handler = "{\"type\": \"command\", \"command\": " + json(text).dump() + "}";
      std::string element = a.layout == Layout::flatEntries ? handler : "{\"hooks\": [" + handler + "]}";
      Text file = "{\"hooks\": {\"" + std::string(a.events[0]) + "\": [" + element + "]}}";
      auto added = installHook(a, file, rules).added;
      EXPECT_EQ(added.size(), ours ? a.events.size() - 1 : a.events.size());
      EXPECT_EQ(uninstallHook(a, file, rules).removed, ours ? 1u : 0u);
    }
  }
}

TEST(HookEdit, GoneProgramIsRepointedInPlaceLiveOnesStay) {
  Text before = R"({"hooks": {"PreToolUse": [{"hooks": [{"_origin": "tarnel", "command": "/gone/x busy", "timeout": 5}]}],)"
                       R"( "UserPromptSubmit": [{"hooks": [{"command": "/opt/tl busy"}]}]}})";
  auto edit = installHook(agent("claude"), before, rules);
  EXPECT_EQ(edit.text->str(), R"({"hooks": {"PreToolUse": [{"hooks": [{"_origin": "tarnel", "command": "/t/tarnelctl busy", )"
                       R"("timeout": 5}]}], "UserPromptSubmit": [{"hooks": [{"command": "/opt/tl busy"}]}]}})");
  EXPECT_EQ(edit.updated, std::vector<std::string_view>{"PreToolUse"});
  EXPECT_TRUE(edit.added.empty());
}

}  // namespace
