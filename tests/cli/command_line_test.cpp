// End to end: the words after our own command words, the dry run's diff,
// --version and doctor, with the real tarnelctl in a scratch home.
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "cli/version.h"
#include "hooks/agents.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

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

// A working hook, a dead one, a file that is no JSON, and no application. On macOS, the test build of
// the Foundation back end asks: its notifications never reach the user's own Tarnel application.
TEST(CommandLine, DoctorReadsEveryAgentAndAsksTheApplication) {
#ifdef __APPLE__
  const std::string tarnelctl = FOUNDATION_TARNELCTL_PATH;
#endif
  TempDir home;
  EnvChanges env{{"HOME", home.path().string()}, {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"}};
  writeFile(home.path() / ".claude/settings.json", "{}");
  ASSERT_EQ(run({tarnelctl, "install-claude-hooks"}, env).status, 0);
  writeFile(home.path() / ".cursor/hooks.json", "{\"hooks\": {\"afterFileEdit\": [{\"command\": \"/gone/tarnelctl busy\"}]}}");
  writeFile(home.path() / ".gemini/settings.json", "{\"a\": }");
  std::map<std::string, std::string> shown = {
      {"claude", "  ✓ PreToolUse            this program\n  ✓ UserPromptSubmit      this program\n"
                 "    backup                ~/.claude/settings.json.tarnel-backup\n"},
      {"gemini", "  ✗ ~/.gemini/settings.json is not valid JSON (line 1, column 7: unexpected '}'; expected '[', '{', or a literal)\n"},
      {"cursor", "  ✗ afterFileEdit         /gone/tarnelctl is gone — tarnelctl install-cursor-hooks points it at this program\n"}};
  std::string expected = "tarnelctl " + std::string(programVersion) + ": " + tarnelctl + "\n";
  for (const auto& a : tarnel::agents)  // every agent of the table, without a file unless shown
    expected += std::string(a.word) + ": ~/" + std::string(a.homePath) + "\n" + shown.emplace(a.word, "    no file, no hook installed\n").first->second;
  auto before = snapshot(home.path());
  auto r = run({tarnelctl, "doctor"}, env);
  EXPECT_EQ(std::pair(r.out, r.status), std::pair(expected + "Tarnel:\n  ! status                no answer within 2.0 s — is the app running?\n", 1));
  EXPECT_EQ(snapshot(home.path()), before);
  env["HOME"] = std::nullopt;  // no HOME: each agent says so, in words of its own
  EXPECT_NE(run({tarnelctl, "doctor"}, env).out.find("\ncursor:\n  ✗ HOME is not set — set it to your home folder.\n"), std::string::npos);
}

}  // namespace
