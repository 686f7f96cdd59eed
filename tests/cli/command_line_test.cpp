// End to end: the words after our own command words, the dry run's diff,
// --version and doctor, with the real tarnelctl in a scratch home.
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "cli/version.h"
#include "hooks/agents.h"
#include "hooks/hook_script.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using namespace std::chrono_literals;

const std::string tarnelctl = TARNELCTL_PATH, fixtures = SOURCE_DIR "/tests/fixtures/";
const std::string usage = readFile(fixtures + "usage.txt") + "\n", unexpected = "tarnelctl: @: unexpected argument '";

std::map<std::string, std::string> snapshot(const fs::path& dir) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    entries[entry.path().string()] = entry.is_regular_file() ? readFile(entry.path()) : "-";
  return entries;
}

/// Words after the command word (@ in the error); what is printed, or how it begins for a dry run.
const std::tuple<std::vector<std::string>, int, std::string, std::string> forms[] = {
    {{"--help"}, 2, usage, ""}, {{"-h"}, 2, usage, ""}, {{"help"}, 2, usage, ""}, {{"x", "--help"}, 2, usage, ""},
    {{"x"}, 2, "", unexpected + "x'\n"}, {{"--project"}, 2, "", unexpected + "--project'\n"},
    {{"-n", "--Help"}, 2, "", unexpected + "--Help'\n"}, {{"--dry-run"}, 0, "--- ", ""}, {{"-n", "-n"}, 0, "--- ", ""}};

// Each file in its style before install, and after: the words after the command word leave it as it
// was, and the dry run's diff applied by patch(1) gives what the real run writes.
TEST(CommandLine, WordsAfterAHookWordChangeNothingUnlessAsked) {
  for (const auto& entry : fs::directory_iterator(fixtures + "styles")) {
    std::string name = entry.path().stem().string(), agent = name.substr(name.find('.') + 1);  // <style>.<agent>[.installed]
    std::string word = (agent.ends_with(".installed") ? "uninstall-" : "install-") + agent.substr(0, agent.find('.')) + "-hooks";
    TempDir home, work;
    fs::path file = home.path() / tarnel::hookCommand(word)->agent->homePath, copy = work.path() / "copy";
    writeFile(file, readFile(entry.path()));
    auto before = snapshot(home.path());
    for (auto [words, status, out, err] : forms) {
      SCOPED_TRACE(name + " " + testing::PrintToString(words));
      words.insert(words.begin(), {tarnelctl, word});
      auto r = run(words, {{"HOME", home.path().string()}});
      if (err.find('@') != std::string::npos) err.replace(err.find('@'), 1, word);
      EXPECT_EQ(std::tuple(r.status, r.out.substr(0, status ? std::string::npos : 4), r.err), std::tuple(status, out, err));
      EXPECT_EQ(snapshot(home.path()), before);
      if (status != 0) continue;
      fs::copy_file(file, copy, fs::copy_options::overwrite_existing);
      writeFile(work.path() / "diff", r.out.substr(0, r.out.find("✓")));
      EXPECT_EQ(run({"patch", "-s", "--fuzz=0", copy, work.path() / "diff"}).status, 0);
    }
    EXPECT_EQ(run({tarnelctl, word}, {{"HOME", home.path().string()}}).status, 0);
    EXPECT_EQ(readFile(copy), readFile(file));
  }
  EXPECT_EQ(run({tarnelctl, "--version"}).out, "tarnelctl " + std::string(programVersion) + "\n");
}

TEST(CommandLine, DryRunPrintsTheDiffAndTheMessageAndWritesNothing) {
  TempDir home;
  EnvChanges env{{"HOME", home.path().string()}};
  std::string claude = (home.path() / ".claude/settings.json").string(), codex = (home.path() / ".codex/hooks.json").string();
  std::string fresh = std::regex_replace(readFile(fixtures + "claude.fresh.json"), std::regex("@COMMAND@"), tarnelctl + " busy");
  std::string diff = std::regex_replace(fresh, std::regex("^|\n"), "$&+");  // each line added
  EXPECT_EQ(run({tarnelctl, "install-claude-hooks", "--dry-run"}, env).out, "--- /dev/null\n+++ " + claude + "\n@@ -0,0 +1,26 @@\n" +
            diff + "\n\\ No newline at end of file\n✓ Added Tarnel's \"busy\" heartbeat to PreToolUse + UserPromptSubmit in\n  " +
            claude + ". Restart Claude Code to load it.\n  Undo any time: "
            "tarnelctl uninstall-claude-hooks\nDry run — nothing was changed.\n");
  EXPECT_FALSE(fs::exists(home.path() / ".claude"));
  std::string mine = "{\n  \"hooks\": {\n    \"PreToolUse\": [\n      {\"hooks\": [{\"command\": \"lint\"}]},\n      "
                     "{\"hooks\": [{\"command\": \"/x/tarnelctl busy\"}]}\n    ]\n  }\n}\n";
  writeFile(codex, mine);
  EXPECT_EQ(run({tarnelctl, "uninstall-codex-hooks", "-n"}, env).out, "--- " + codex + "\n+++ " + codex + "\n@@ -1,8 +1,7 @@\n {\n"
            "   \"hooks\": {\n     \"PreToolUse\": [\n-      {\"hooks\": [{\"command\": \"lint\"}]},\n-      {\"hooks\": [{\"command\": "
            "\"/x/tarnelctl busy\"}]}\n+      {\"hooks\": [{\"command\": \"lint\"}]}\n     ]\n   }\n }\n✓ Removed Tarnel hooks (1). "
            "Restart Codex to apply.\nDry run — nothing was changed.\n");
  EXPECT_EQ(readFile(codex), mine);
}

// Hooks that work, that Codex has not trusted (a comment is no trust), that are dead (in second files too, URGENT
// where the agent blocks on them; a bare name on no folder of PATH), that Droid never runs, a file that is no JSON,
// a link into a folder that does not exist, a script of ours that Cline does not run (a link) and one of the user's, and no session bus at all (on macOS,
// where a notification server is always there, the test build of the Foundation back end finds no application:
// its notifications never reach the user's own Tarnel).
TEST(CommandLine, DoctorReadsEveryFileOfEveryAgentAndAsksTheApplication) {
#ifdef __APPLE__
  const std::string tarnelctl = FOUNDATION_TARNELCTL_PATH;
#endif
  TempDir home;
  EnvChanges env{{"HOME", home.path().string()}, {"DBUS_SESSION_BUS_ADDRESS", std::nullopt}, {"XDG_RUNTIME_DIR", ""}, {"PATH", "/nowhere"},
                  {"XDG_CONFIG_HOME", std::nullopt}};
  writeFile(home.path() / ".claude/settings.json", "{}");
  ASSERT_EQ(run({tarnelctl, "install-claude-hooks"}, env).status, 0);
  std::string live = "{\"hooks\": [{\"type\": \"command\", \"command\": \"" + tarnelctl + " busy || true\"}]}";
  std::map<std::string, std::string> files = {
      {".codex/hooks.json", "{\"hooks\": {\"PreToolUse\": [" + live + "], \"UserPromptSubmit\": [" + live + "]}}"},
      {".codex/config.toml", "[hooks.state.\"" + home.path().string() + "/.codex/hooks.json:pre_tool_use:0:0\"]\ntrusted_hash = \"sha256:0\"\n"
                             "# [hooks.state.\"" + home.path().string() + "/.codex/hooks.json:user_prompt_submit:0:0\"]\n"},
      {".gemini/settings.json", "{\"hooks\": {\"BeforeTool\": [{\"hooks\": [{\"command\": \"/gone/tarnelctl busy\"}]}], "
                                "\"BeforeAgent\": [{\"hooks\": [{\"command\": \"/proc/self/exe busy\"}]}]}}"},
      {".cursor/hooks.json", "{\"hooks\": {\"afterFileEdit\": [{\"command\": \"/gone/tarnelctl busy || true\"}], "
                             "\"beforeShellExecution\": [{\"command\": \"" + tarnelctl + " busy\"}], "
                             "\"beforeSubmitPrompt\": [{\"command\": \"tarnelctl busy\"}]}}"},
      {".qwen/settings.json", "{\"a\": }"},
      {".copilot/hooks/tarnel.json", "{\"hooks\": {\"preToolUse\": [{\"bash\": \"/gone/tarnelctl busy || true\"}]}}"},
      {".copilot/settings.json", "{\"hooks\": {\"preToolUse\": [{\"bash\": \"/gone/tarnelctl busy\"}]}}"},
      {".factory/hooks.json", "{\"PreToolUse\": []}"},  // Droid takes the event from here, not from settings.json
      {".factory/settings.json", "{\"hooks\": {\"PreToolUse\": [" + live + ", {\"hooks\": [{\"command\": \"/gone/tarnelctl "
                                 "busy\"}]}], \"UserPromptSubmit\": [{\"hooks\": "
                                 "[{\"command\": \"/gone/tarnelctl busy\"}]}]}}"},
      {".config/opencode/plugins/tarnel.js", tarnel::ourScript(*tarnel::hookCommand("install-opencode-hooks")->agent, "/gone/tarnelctl")},
      {"Documents/Cline/Hooks/PreToolUse", tarnel::ourScript(*tarnel::hookCommand("install-cline-hooks")->agent, tarnelctl)},
      {"Documents/Cline/Hooks/UserPromptSubmit", "#!/bin/sh\n"}};
  for (const auto& [file, text] : files) writeFile(home.path() / file, text);
  fs::create_symlink("PreToolUse", home.path() / "Documents/Cline/Hooks/TaskStart");  // Cline runs no link
  const std::string gone = "/gone/tarnelctl is gone", to = " points it at this program\n", none = "no hook of ours\n";
  std::string expected = "tarnelctl " + std::string(programVersion) + ": " + tarnelctl + R"(
claude: ~/.claude/settings.json
  ✓ PreToolUse            this program
  ✓ UserPromptSubmit      this program
    backup                ~/.claude/settings.json.tarnel-backup
codex: ~/.codex/hooks.json
  ✓ PreToolUse            this program
  ! UserPromptSubmit      this program; Codex has not trusted it: run /hooks in Codex — until then it never fires
    a new or moved hook runs only once trusted with /hooks in Codex
gemini: ~/.gemini/settings.json
  ✗ BeforeTool            URGENT: )" + gone + ", and Gemini CLI blocks on this hook while it fails — tarnelctl install-gemini-hooks" + to +
      "  ✗ BeforeAgent           URGENT: /proc/self/exe names the agent's shell, not tarnelctl, and Gemini CLI blocks on "
      "this hook while it fails — tarnelctl install-gemini-hooks" + to + R"(cursor: ~/.cursor/hooks.json
  ! beforeShellExecution  this program; should it fail, the Cursor agent may block — tarnelctl install-cursor-hooks makes it never fail
  ✗ afterFileEdit         )" + gone + " — tarnelctl install-cursor-hooks" + to + "  ✗ beforeSubmitPrompt    tarnelctl is not on PATH — "
      "tarnelctl install-cursor-hooks" + to + R"(qwen: ~/.qwen/settings.json
  ✗ ~/.qwen/settings.json is not valid JSON (line 1, column 7: unexpected '}'; expected '[', '{', or a literal)
copilot: ~/.copilot/hooks/tarnel.json
  ✗ preToolUse            )" + gone + " — tarnelctl install-copilot-hooks" + to + "    userPromptSubmitted   " + none +
      "copilot: ~/.copilot/settings.json\n  ✗ preToolUse            URGENT: " + gone + ", and Copilot CLI blocks on this hook "
      "while it fails — tarnelctl install-copilot-hooks" + to + "    userPromptSubmitted   " + none + R"(droid: ~/.factory/hooks.json
    no hook installed
droid: ~/.factory/settings.json
    PreToolUse            this program; not run: Droid takes this event from ~/.factory/hooks.json
    PreToolUse            )" + gone + R"(; not run: Droid takes this event from ~/.factory/hooks.json
  ✗ UserPromptSubmit      )" + gone + " — tarnelctl install-droid-hooks" + to + R"(opencode: ~/.config/opencode/plugins/tarnel.js
  ✗ tool.execute.before   )" + gone + " — tarnelctl install-opencode-hooks" + to + "  ✗ chat.message          " + gone +
      " — tarnelctl install-opencode-hooks" + to + R"(cline: ~/Documents/Cline/Hooks/TaskStart
  ✗ a symbolic link, and Cline runs only a file itself there — put the script in its place
cline: ~/Documents/Cline/Hooks/UserPromptSubmit
    no hook installed
cline: ~/Documents/Cline/Hooks/PreToolUse
  ✓ PreToolUse            this program
windsurf: ~/.codeium/windsurf/hooks.json
    no file, no hook installed
Tarnel:
  ✗ status                )"
#ifdef __APPLE__
      "no answer within 2.0 s — is the app running?\n";
#else
      "no session bus: DBUS_SESSION_BUS_ADDRESS is not set, and XDG_RUNTIME_DIR is empty — run this in your login "
      "session, and start Tarnel there: systemctl --user start tarneld\n";
#endif
  auto before = snapshot(home.path());
  auto r = run({tarnelctl, "doctor"}, env);
  EXPECT_EQ(std::pair(r.out, r.status), std::pair(expected, 1));
#ifndef __APPLE__
  EXPECT_LT(r.elapsed, 1.5s);  // no bus is said at once, not after the 2.0 s wait for a reply
#endif
  EXPECT_EQ(snapshot(home.path()), before);
  fs::remove(home.path() / ".qwen/settings.json");  // install refuses a link into a folder that does not exist, and so does doctor
  fs::create_symlink("/nowhere/q/settings.json", home.path() / ".qwen/settings.json");
  EXPECT_NE(run({tarnelctl, "doctor"}, env).out.find("\nqwen: ~/.qwen/settings.json\n  ✗ ~/.qwen/settings.json: it is a symbolic "
            "link to /nowhere/q/settings.json, whose folder does not exist — create that folder, or remove the link.\n"), std::string::npos);
  env["HOME"] = std::nullopt;  // no HOME: each agent says so, in words of its own
  EXPECT_NE(run({tarnelctl, "doctor"}, env).out.find("\ncursor:\n  ✗ HOME is not set — set it to your home folder.\n"), std::string::npos);
}

}  // namespace
