// End to end: what the words after our own command words do, the dry run's
// diff, --version and doctor, with the real tarnelctl in a scratch home.
#include <gtest/gtest.h>

#include <map>

#include "cli/version.h"
#include "hooks/agents.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

const std::string tarnelctl = TARNELCTL_PATH, fixtures = SOURCE_DIR "/tests/fixtures/";
const std::string usage = readFile(fixtures + "usage.txt") + "\n";

/// Every entry below `dir` with its bytes.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    entries[entry.path().string()] = entry.is_regular_file() ? readFile(entry.path()) : "-";
  return entries;
}

struct Form {
  std::vector<std::string> words;
  int status;
  std::string out, err;  ///< "@" in err stands for the command word
};

const Form forms[] = {
    {{"--help"}, 2, usage, ""}, {{"-h"}, 2, usage, ""}, {{"help"}, 2, usage, ""}, {{"x", "--help"}, 2, usage, ""},
    {{"x"}, 2, "", "tarnelctl: @: unexpected argument 'x'\n"},
    {{"--project"}, 2, "", "tarnelctl: @: unexpected argument '--project'\n"},
    {{"-n", "--Help"}, 2, "", "tarnelctl: @: unexpected argument '--Help'\n"},
    {{"--dry-run"}, 0, "--- ", ""}, {{"-n", "-n"}, 0, "--- ", ""},  // out: how it begins
};

TEST(CommandLine, WordsAfterAHookWordChangeNothingUnlessAsked) {
  for (const tarnel::Agent& agent : tarnel::agents) {
    for (std::string verb : {"install", "uninstall"}) {
      TempDir home;
      std::string word = verb + "-" + std::string(agent.word) + "-hooks";
      ASSERT_EQ(run({tarnelctl, "install-" + std::string(agent.word) + "-hooks"}, {{"HOME", home.path().string()}}).status, 0);
      if (verb == "install") writeFile(home.path() / agent.homePath, "{\"mine\": 1}");
      auto before = snapshot(home.path());
      for (const Form& form : forms) {
        SCOPED_TRACE(word + " " + testing::PrintToString(form.words));
        std::vector<std::string> argv{tarnelctl, word};
        argv.insert(argv.end(), form.words.begin(), form.words.end());
        auto r = run(argv, {{"HOME", home.path().string()}});
        EXPECT_EQ(r.out.substr(0, form.status ? std::string::npos : 4), form.out);
        std::string err = form.err;
        if (auto at = err.find('@'); at != std::string::npos) err.replace(at, 1, word);
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(r.status, form.status);
        EXPECT_EQ(snapshot(home.path()), before);
      }
    }
  }
  EXPECT_EQ(run({tarnelctl, "--version"}).out, "tarnelctl " + std::string(programVersion) + "\n");
  EXPECT_EQ(run({tarnelctl, "--version", "-n"}).err, "tarnelctl: --version: unexpected argument '-n'\n");
  EXPECT_EQ(run({tarnelctl, "doctor", "now"}).err, "tarnelctl: doctor: unexpected argument 'now'\n");
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
  return text;
}

const std::string cursorBefore = "{\n  \"version\": 1,\n  \"hooks\": {\n    \"beforeShellExecution\": [\n      {\"command\": "
    "\"audit\"}\n    ],\n    \"a\": [],\n    \"b\": [],\n    \"c\": [],\n    \"d\": [],\n    \"e\": [],\n    \"f\": [],\n"
    "    \"afterFileEdit\": []\n  }\n}\n";
// Two changes seven lines apart: two hunks.
const std::string cursorDiff = R"(@@ -2,7 +2,10 @@
   "version": 1,
   "hooks": {
     "beforeShellExecution": [
-      {"command": "audit"}
+      {"command": "audit"},
+      {
+        "command": "@COMMAND@"
+      }
     ],
     "a": [],
     "b": [],
@@ -10,6 +13,15 @@
     "d": [],
     "e": [],
     "f": [],
-    "afterFileEdit": []
+    "afterFileEdit": [
+      {
+        "command": "@COMMAND@"
+      }
+    ],
+    "beforeSubmitPrompt": [
+      {
+        "command": "@COMMAND@"
+      }
+    ]
   }
 }
)";

TEST(CommandLine, DryRunPrintsTheDiffAndTheMessageAndWritesNothing) {
  TempDir home;
  fs::path claude = home.path() / ".claude/settings.json", cursor = home.path() / ".cursor/hooks.json";
  std::string fresh = replaced(readFile(fixtures + "claude.fresh.json"), "@COMMAND@", tarnelctl + " busy");
  std::string freshDiff = "--- /dev/null\n+++ " + claude.string() + "\n@@ -0,0 +1,26 @@\n+" + replaced(fresh, "\n", "\n+") +
                          "\n\\ No newline at end of file\n";
  auto r = run({tarnelctl, "install-claude-hooks", "--dry-run"}, {{"HOME", home.path().string()}});
  EXPECT_EQ(r.out, freshDiff + "✓ Added Tarnel's \"busy\" heartbeat to PreToolUse + UserPromptSubmit in\n  " + claude.string() +
                       "\n  (backup: " + claude.string() + ".tarnel-backup). Restart Claude Code to load it.\n  Undo any "
                       "time: tarnelctl uninstall-claude-hooks\nDry run — nothing was changed.\n");
  EXPECT_FALSE(fs::exists(claude.parent_path()));
  writeFile(cursor, cursorBefore);
  r = run({tarnelctl, "install-cursor-hooks", "-n"}, {{"HOME", home.path().string()}});
  EXPECT_EQ(r.out.substr(0, r.out.find("✓")), "--- " + cursor.string() + "\n+++ " + cursor.string() + "\n" +
                                                   replaced(cursorDiff, "@COMMAND@", tarnelctl + " busy"));
  EXPECT_EQ(snapshot(home.path()).size(), 2u);  // the folder and the file as it was
  EXPECT_EQ(readFile(cursor), cursorBefore);
  EXPECT_EQ(run({tarnelctl, "uninstall-gemini-hooks", "-n"}, {{"HOME", home.path().string()}}).out, "No Tarnel hooks found.\n");
}

// In every style of file, the diff applied by patch(1) gives what the real run writes.
TEST(CommandLine, DryRunDiffPatchesTheFileIntoWhatTheRunWrites) {
  for (std::string folder : {"styles", "edits"}) {
    for (const auto& entry : fs::directory_iterator(fixtures + folder)) {
      std::string name = entry.path().filename().string(), agent = name.substr(name.find('.') + 1);
      if (std::count(name.begin(), name.end(), '.') != 2) continue;
      agent.resize(agent.find('.'));
      SCOPED_TRACE(name);
      TempDir home;
      fs::path file = home.path() / tarnel::hookCommand("install-" + agent + "-hooks")->agent->homePath;
      writeFile(file, readFile(entry.path()));
      for (std::string word : {"install-" + agent + "-hooks", "uninstall-" + agent + "-hooks"}) {
        fs::copy_file(file, home.path() / "copy", fs::copy_options::overwrite_existing);
        auto dry = run({tarnelctl, word, "--dry-run"}, {{"HOME", home.path().string()}});
        writeFile(home.path() / "diff", dry.out.substr(0, dry.out.find("✓")));
        if (dry.out.starts_with("--- ")) {
          EXPECT_EQ(run({"patch", "-s", "--fuzz=0", (home.path() / "copy").string(), (home.path() / "diff").string()}).status, 0);
        }
        EXPECT_EQ(run({tarnelctl, word}, {{"HOME", home.path().string()}}).status, 0);
        EXPECT_EQ(readFile(home.path() / "copy"), readFile(file));
      }
    }
  }
}

#ifdef DBUS_STANDIN_PATH
/// What doctor says of an agent without a settings file.
std::string noFile(const tarnel::Agent& agent) {
  return std::string(agent.word) + ": ~/" + std::string(agent.homePath) + "\n    no file, no hook installed\n";
}

TEST(CommandLine, DoctorReadsEveryAgentAndAsksTheApplication) {
  TempDir home, bus;
  EnvChanges env{{"HOME", home.path().string()}};
  auto daemon = start({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" +
                       (bus.path() / "bus").string(), "--print-address"});
  std::string address = output(daemon, "\n");
  env["DBUS_SESSION_BUS_ADDRESS"] = address.substr(0, address.find('\n'));
  auto standin = start({DBUS_STANDIN_PATH, "--log", (bus.path() / "log").string()}, env);
  ASSERT_NE(output(standin, "ready\n").find("ready"), std::string::npos);

  writeFile(home.path() / ".claude/settings.json", "{}");
  ASSERT_EQ(run({tarnelctl, "install-claude-hooks"}, env).status, 0);
  std::map<std::string, std::string> shown = {{"claude", "claude: ~/.claude/settings.json\n"
      "  ✓ PreToolUse            this program\n  ✓ UserPromptSubmit      this program\n"
      "    backup                ~/.claude/settings.json.tarnel-backup\n"}};
  auto expected = [&](const std::string& reply) {
    std::string text = "tarnelctl " + std::string(programVersion) + ": " + tarnelctl + "\n";
    for (const auto& agent : tarnel::agents) text += shown.contains(std::string(agent.word)) ? shown[std::string(agent.word)] : noFile(agent);
    return text + "Tarnel:\n  " + reply + "\n";
  };
  auto r = run({tarnelctl, "doctor"}, env);
  EXPECT_EQ(r.out, expected("✓ status                Không giữ máy thức"));
  EXPECT_EQ(r.status, 0);

  // A dead hook and a file that is no JSON; no application.
  fs::path old = home.path() / "old/tarnelctl";
  fs::create_directories(old.parent_path());
  fs::copy_file(tarnelctl, old);
  ASSERT_EQ(run({old.string(), "install-cursor-hooks"}, env).status, 0);
  fs::remove(old);
  writeFile(home.path() / ".gemini/settings.json", "{\"a\": }");
  shown["gemini"] = "gemini: ~/.gemini/settings.json\n  ✗ ~/.gemini/settings.json is not valid JSON (line 1, column 7: "
                    "unexpected '}'; expected '[', '{', or a literal)\n";
  shown["cursor"] = "cursor: ~/.cursor/hooks.json\n";
  for (std::string event : {"beforeShellExecution", "afterFileEdit       ", "beforeSubmitPrompt  "})
    shown["cursor"] += "  ✗ " + event + "  " + old.string() + " is gone — tarnelctl install-cursor-hooks points it at this program\n";
  stop(standin);
  auto before = snapshot(home.path());
  r = run({tarnelctl, "doctor"}, env);
  EXPECT_EQ(r.out, expected("! status                no answer within 2.0 s — is the app running?"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(snapshot(home.path()), before);
  EXPECT_EQ(readFile(bus.path() / "log"), "status\n");  // doctor's own question; "doctor" is never sent
  stop(daemon);
}
#endif

}  // namespace
