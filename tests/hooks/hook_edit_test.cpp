// Adding and removing our hook in settings texts, in-process: exact bytes for
// each style of file, which commands are ours, repairs and refusals.
#include "hooks/hook_edit.h"
#include "settings/settings_json.h"

#include <gtest/gtest.h>

namespace {

using namespace tarnel;

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

struct Style {
  const char* name;
  std::string word, before, installed;  // uninstall gives back `before`
};

const std::string E = R"({"command": "/t/tarnelctl busy"})";
const std::string G = R"({"hooks": [{"type": "command", "command": "/t/tarnelctl busy", "name": "tarnel"}]})";

const Style styles[] = {
    {"OneLine", "cursor", R"({"x":1E2,"y":-0,"version":1,"hooks":{"afterFileEdit":[{"command":"a"}]}})",
     R"({"x":1E2,"y":-0,"version":1,"hooks":{"afterFileEdit":[{"command":"a"}, )" + E + R"(], "beforeShellExecution": [)" +
         E + R"(], "beforeSubmitPrompt": [)" + E + "]}}"},
    {"FourSpacesRepeatedKeyOddNumbersFinalNewline", "codex",
     "{\n    \"n\": [1E2, -0, 12345678901234567890123, \"\\u00e9\"],\n    \"n\": 1,\n    \"hooks\": {\n"
     "        \"PreToolUse\": [{\"hooks\": [{\"command\": \"a\"}]}]\n    }\n}\n",
     "{\n    \"n\": [1E2, -0, 12345678901234567890123, \"\\u00e9\"],\n    \"n\": 1,\n    \"hooks\": {\n"
     "        \"PreToolUse\": [{\"hooks\": [{\"command\": \"a\"}]}, {\"hooks\": [{\"type\": \"command\", \"command\": "
     "\"/t/tarnelctl busy\"}]}],\n        \"UserPromptSubmit\": [\n            {\n                \"hooks\": [\n"
     "                    {\n                        \"type\": \"command\",\n                        \"command\": "
     "\"/t/tarnelctl busy\"\n                    }\n                ]\n            }\n        ]\n    }\n}\n"},
    {"TabsCrlfBom", "cursor",
     "\xEF\xBB\xBF{\r\n\t\"version\": 1,\r\n\t\"hooks\": {\r\n\t\t\"afterFileEdit\": [\r\n\t\t\t{\"command\": \"a\"}\r\n"
     "\t\t],\r\n\t\t\"beforeShellExecution\": [{\"command\": \"b\"}],\r\n\t\t\"beforeSubmitPrompt\": [{\"command\": \"c\"}]\r\n\t}\r\n}",
     "\xEF\xBB\xBF{\r\n\t\"version\": 1,\r\n\t\"hooks\": {\r\n\t\t\"afterFileEdit\": [\r\n\t\t\t{\"command\": \"a\"},\r\n"
     "\t\t\t{\r\n\t\t\t\t\"command\": \"/t/tarnelctl busy\"\r\n\t\t\t}\r\n\t\t],\r\n\t\t\"beforeShellExecution\": "
     "[{\"command\": \"b\"}, " + E + "],\r\n\t\t\"beforeSubmitPrompt\": [{\"command\": \"c\"}, " + E + "]\r\n\t}\r\n}"},
    {"GeminiComments", "gemini",
     "{ // mine\n  \"hooks\": {\"BeforeTool\": [{\"hooks\": [{\"command\": \"a\"}]}], /* a */ \"BeforeAgent\": [{\"hooks\": [{\"command\": \"b\"}]} /* b */]}\n}",
     "{ // mine\n  \"hooks\": {\"BeforeTool\": [{\"hooks\": [{\"command\": \"a\"}]}, " + G + "], /* a */ \"BeforeAgent\": [{\"hooks\": "
     "[{\"command\": \"b\"}]}, " + G + " /* b */]}\n}"},
};

class StyleTest : public ::testing::TestWithParam<Style> {};

TEST_P(StyleTest, OnlyOurBytesChange) {
  const Style& s = GetParam();
  EXPECT_EQ(installed(s.word, s.before), s.installed);
  EXPECT_EQ(installed(s.word, s.installed), s.installed);
  EXPECT_EQ(uninstalled(s.word, s.installed), s.before);
}

INSTANTIATE_TEST_SUITE_P(Files, StyleTest, ::testing::ValuesIn(styles), [](auto& i) { return i.param.name; });

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
  EXPECT_EQ(uninstalled("codex", installed("codex", "{ }")), "{ }");
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

struct Refusal {
  std::string word, text, reason;
};

const Refusal refusals[] = {
    {"claude", "[{\"hooks\": {}}]", " is not a JSON object"},
    {"claude", " \n\t", " is not valid JSON (line 2, column 2: unexpected end of input; expected '[', '{', or a literal)"},
    {"claude", "\n  \"text\"", " is not valid JSON (line 2, column 3: expected '{' or '[')"},
    {"claude", "{\n  \"a\": 1,\n}", " is not valid JSON (line 3, column 1: unexpected '}'; expected string literal)"},
    {"claude", "{\n  \"a\": \"caf\xC3\x28\"}", " is not valid JSON (line 2, column 13: invalid string: ill-formed UTF-8 byte)"},
    {"claude", "{\"a\": 1e400}", " is not valid JSON (line 1, column 11: number out of range)"},
    {"claude", "{\"a\":" + std::string(600, '['), " is not valid JSON (line 1, column 517: nesting deeper than 512 levels)"},
    {"claude", std::string("{\"theme\": \"dark\"}\n\0{}", 21), " is not valid JSON (line 2, column 1: unexpected NUL byte after the end of the settings)"},
    {"codex", "{/* no */}", " is not valid JSON (line 1, column 2: invalid literal; expected string literal)"},
    {"gemini", "{\"hooks\": []}", ": \"hooks\" is not an object"},
    {"cursor", "{\"hooks\": {\"afterFileEdit\": [{}, 1]}}", ": \"hooks\" → \"afterFileEdit\" is not a list of hook entries"},
};

TEST(HookEdit, RefusesWithPlaceAndReason) {
  for (const auto& r : refusals) {
    SCOPED_TRACE(r.text);
    try {
      Text text = r.text;
      installHook(agent(r.word), text, rules);
      ADD_FAILURE() << "accepted";
    } catch (const Refused& refused) {
      EXPECT_EQ(refused.what(), r.reason);
    }
  }
}

}  // namespace
