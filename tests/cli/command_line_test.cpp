// End to end: the words after our own command words, the dry run's diff,
// --version and doctor, with the real tarnelctl in a scratch home.
#include <gtest/gtest.h>

#include <map>

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

RunResult in(const TempDir& home, std::vector<std::string> args) {
  args.insert(args.begin(), tarnelctl);
  return run(args, {{"HOME", home.path().string()}});
}

/// Words after the command word (@ in the error); what is printed, or how it begins for a dry run.
const std::tuple<std::vector<std::string>, int, std::string, std::string> forms[] = {
    {{"--help"}, 2, usage, ""}, {{"-h"}, 2, usage, ""}, {{"help"}, 2, usage, ""}, {{"x", "--help"}, 2, usage, ""},
    {{"x"}, 2, "", unexpected + "x'\n"}, {{"--project"}, 2, "", unexpected + "--project'\n"},
    {{"-n", "--Help"}, 2, "", unexpected + "--Help'\n"}, {{"--dry-run"}, 0, "--- ", ""}, {{"-n", "-n"}, 0, "--- ", ""}};

TEST(CommandLine, WordsAfterAHookWordChangeNothingUnlessAsked) {
  for (const tarnel::Agent& agent : tarnel::agents) {
    for (std::string word : {"install-" + std::string(agent.word) + "-hooks", "uninstall-" + std::string(agent.word) + "-hooks"}) {
      TempDir home;
      ASSERT_EQ(in(home, {"install-" + std::string(agent.word) + "-hooks"}).status, 0);
      if (word.starts_with("install")) writeFile(home.path() / agent.homePath, "{\"mine\": 1}");
      auto before = snapshot(home.path());
      for (auto [words, status, out, err] : forms) {
        SCOPED_TRACE(word + " " + testing::PrintToString(words));
        words.insert(words.begin(), word);
        auto r = in(home, words);
        if (err.find('@') != std::string::npos) err.replace(err.find('@'), 1, word);
        EXPECT_EQ(std::tuple(r.status, r.out.substr(0, status ? std::string::npos : 4), r.err), std::tuple(status, out, err));
        EXPECT_EQ(snapshot(home.path()), before);
      }
    }
  }
  EXPECT_EQ(run({tarnelctl, "--version"}).out, "tarnelctl " + std::string(programVersion) + "\n");
  EXPECT_EQ(run({tarnelctl, "--version", "-n"}).err, "tarnelctl: --version: unexpected argument '-n'\n");
  EXPECT_EQ(run({tarnelctl, "doctor", "now"}).err, "tarnelctl: doctor: unexpected argument 'now'\n");
}

TEST(CommandLine, DryRunPrintsTheDiffAndTheMessageAndWritesNothing) {
  TempDir home;
  std::string claude = (home.path() / ".claude/settings.json").string(), codex = (home.path() / ".codex/hooks.json").string();
  std::string fresh = readFile(fixtures + "claude.fresh.json"), diff = "+";
  for (char c : fresh) diff += c == '\n' ? "\n+" : c == '@' ? "" : std::string(1, c);
  for (size_t at; (at = diff.find("COMMAND")) != std::string::npos;) diff.replace(at, 7, tarnelctl + " busy");
  EXPECT_EQ(in(home, {"install-claude-hooks", "--dry-run"}).out, "--- /dev/null\n+++ " + claude + "\n@@ -0,0 +1,26 @@\n" +
            diff + "\n\\ No newline at end of file\n✓ Added Tarnel's \"busy\" heartbeat to PreToolUse + UserPromptSubmit in\n  " +
            claude + "\n  (backup: " + claude + ".tarnel-backup). Restart Claude Code to load it.\n  Undo any time: "
            "tarnelctl uninstall-claude-hooks\nDry run — nothing was changed.\n");
  EXPECT_FALSE(fs::exists(home.path() / ".claude"));
  std::string mine = "{\n  \"hooks\": {\n    \"PreToolUse\": [\n      {\"hooks\": [{\"command\": \"lint\"}]},\n      "
                     "{\"hooks\": [{\"command\": \"/x/tarnelctl busy\"}]}\n    ]\n  }\n}\n";
  writeFile(codex, mine);
  EXPECT_EQ(in(home, {"uninstall-codex-hooks", "-n"}).out, "--- " + codex + "\n+++ " + codex + "\n@@ -1,8 +1,7 @@\n {\n"
            "   \"hooks\": {\n     \"PreToolUse\": [\n-      {\"hooks\": [{\"command\": \"lint\"}]},\n-      {\"hooks\": [{\"command\": "
            "\"/x/tarnelctl busy\"}]}\n+      {\"hooks\": [{\"command\": \"lint\"}]}\n     ]\n   }\n }\n✓ Removed Tarnel hooks (1). "
            "Restart Codex to apply.\nDry run — nothing was changed.\n");
  EXPECT_EQ(snapshot(home.path()), (std::map<std::string, std::string>{{codex, mine}, {fs::path(codex).parent_path(), "-"}}));
  EXPECT_EQ(in(home, {"uninstall-gemini-hooks", "-n"}).out, "No Tarnel hooks found.\n");
}

// In every style of file, the diff applied by patch(1) gives what the real run writes.
TEST(CommandLine, DryRunDiffPatchesTheFileIntoWhatTheRunWrites) {
  for (std::string folder : {"styles/", "edits/"}) {
    for (const auto& entry : fs::directory_iterator(fixtures + folder)) {
      std::string name = entry.path().stem().string(), agent = name.substr(name.find('.') + 1);
      if (agent.find('.') != std::string::npos) continue;
      SCOPED_TRACE(name);
      TempDir home;
      fs::path file = home.path() / tarnel::hookCommand("install-" + agent + "-hooks")->agent->homePath, copy = home.path() / "copy";
      writeFile(file, readFile(entry.path()));
      for (std::string word : {"install-" + agent + "-hooks", "uninstall-" + agent + "-hooks"}) {
        fs::copy_file(file, copy, fs::copy_options::overwrite_existing);
        std::string out = in(home, {word, "--dry-run"}).out;
        writeFile(home.path() / "diff", out.substr(0, out.find("✓")));
        if (out.starts_with("--- ")) {
          EXPECT_EQ(run({"patch", "-s", "--fuzz=0", copy, home.path() / "diff"}).status, 0);
        }
        EXPECT_EQ(in(home, {word}).status, 0);
        EXPECT_EQ(readFile(copy), readFile(file));
      }
    }
  }
}

#ifdef DBUS_STANDIN_PATH
TEST(CommandLine, DoctorReadsEveryAgentAndAsksTheApplication) {
  TempDir home, bus;
  auto daemon = start({"dbus-daemon", "--session", "--nofork", "--address=unix:path=" + (bus.path() / "bus").string(), "--print-address"});
  std::string address = output(daemon, "\n");
  EnvChanges env{{"HOME", home.path().string()}, {"DBUS_SESSION_BUS_ADDRESS", address.substr(0, address.find('\n'))}};
  auto standin = start({DBUS_STANDIN_PATH, "--log", (bus.path() / "log").string()}, env);
  ASSERT_NE(output(standin, "ready\n").find("ready"), std::string::npos);
  writeFile(home.path() / ".claude/settings.json", "{}");
  ASSERT_EQ(in(home, {"install-claude-hooks"}).status, 0);
  std::map<std::string, std::string> shown = {{"claude", "  ✓ PreToolUse            this program\n  ✓ UserPromptSubmit      "
      "this program\n    backup                ~/.claude/settings.json.tarnel-backup\n"}};
  auto expected = [&](const std::string& app) {  // every agent in the table, without a file unless shown
    std::string text = "tarnelctl " + std::string(programVersion) + ": " + tarnelctl + "\n";
    for (const auto& a : tarnel::agents)
      text += std::string(a.word) + ": ~/" + std::string(a.homePath) + "\n" +
              (shown.contains(std::string(a.word)) ? shown[std::string(a.word)] : "    no file, no hook installed\n");
    return text + "Tarnel:\n  " + app + "\n";
  };
  EXPECT_EQ(run({tarnelctl, "doctor"}, env).out, expected("✓ status                Không giữ máy thức"));

  // A dead hook and a file that is no JSON; no application.
  fs::path old = home.path() / "old/tarnelctl";
  fs::create_directories(old.parent_path());
  fs::copy_file(tarnelctl, old);
  ASSERT_EQ(run({old, "install-cursor-hooks"}, env).status, 0);
  fs::remove(old);
  writeFile(home.path() / ".gemini/settings.json", "{\"a\": }");
  shown["gemini"] = "  ✗ ~/.gemini/settings.json is not valid JSON (line 1, column 7: unexpected '}'; expected '[', '{', or a literal)\n";
  for (std::string event : {"beforeShellExecution", "afterFileEdit       ", "beforeSubmitPrompt  "})
    shown["cursor"] += "  ✗ " + event + "  " + old.string() + " is gone — tarnelctl install-cursor-hooks points it at this program\n";
  stop(standin);
  auto before = snapshot(home.path());
  auto r = run({tarnelctl, "doctor"}, env);
  EXPECT_EQ(std::pair(r.out, r.status), std::pair(expected("! status                no answer within 2.0 s — is the app running?"), 1));
  EXPECT_EQ(snapshot(home.path()), before);
  EXPECT_EQ(readFile(bus.path() / "log"), "status\n");  // doctor's own question: "doctor" is never sent
  stop(daemon);
}
#endif

}  // namespace
