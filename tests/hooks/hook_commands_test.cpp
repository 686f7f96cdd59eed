// The hook commands end to end: the real tarnelctl on real files in a scratch
// home, the files checked against our schemas of the agents' formats, and the
// commands that the agents will run, run by the real shell.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>

#include "hooks/hook_command_text.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

const std::string tarnelctl = TARNELCTL_PATH;
const std::string refusal = " — refusing to modify it. Fix it by hand first.\n";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

struct Agent {
  std::string word, file, events, restart;
};
const Agent agents[] = {{"claude", ".claude/settings.json", "PreToolUse + UserPromptSubmit", " Restart Claude Code to load it."},
                        {"codex", ".codex/hooks.json", "PreToolUse + UserPromptSubmit",
                         "\n  IMPORTANT: run /hooks in Codex once to TRUST it — until then it won't fire."},
                        {"gemini", ".gemini/settings.json", "BeforeTool + BeforeAgent", " Restart Gemini CLI to load it."},
                        {"cursor", ".cursor/hooks.json", "beforeShellExecution + afterFileEdit + beforeSubmitPrompt",
                         " Restart the Cursor agent to load it."}};

/// A scratch home, and tarnelctl run in it.
struct Home {
  TempDir dir;
  fs::path path(const Agent& a) const { return dir.path() / a.file; }
  RunResult run(const std::string& verb, const Agent& a, std::vector<std::string> prefix = {},
                const std::string& program = tarnelctl, EnvChanges env = {}) const {
    prefix.insert(prefix.end(), {program, verb + "-" + a.word + "-hooks"});
    env.emplace("HOME", dir.path().string());
    return testing_support::run(prefix, env);
  }
  std::string added(const Agent& a, const std::string& command = "") const {
    std::string file = path(a).string();
    return "✓ Added Tarnel's \"busy\" heartbeat to " + a.events + " in\n  " + file + "\n  (backup: " + file +
           ".tarnel-backup)." + a.restart + "\n  Undo any time: tarnelctl uninstall-" + a.word + "-hooks\n" + command;
  }
  /// Every entry below the home with its bytes: what a refused run must leave as it was.
  std::map<std::string, std::string> snapshot() const {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
      std::string& what = entries[entry.path().string()];
      if (entry.is_symlink() || entry.is_directory() || !entry.is_regular_file()) what = "not a file";
      else if (std::ifstream in(entry.path(), std::ios::binary); in) what.assign(std::istreambuf_iterator<char>(in), {});
    }
    return entries;
  }
};

void expect(const RunResult& r, int status, const std::string& out, const std::string& err = "") {
  EXPECT_EQ(r.out, out);
  EXPECT_EQ(r.err, err);
  EXPECT_EQ(r.status, status);
}

class Installer : public ::testing::TestWithParam<Agent> {};

TEST_P(Installer, FreshInstallMatchesTheAgentsFormatRepeatsNothingAndUndoes) {
  const Agent& a = GetParam();
  Home h;
  expect(h.run("install", a), 0, h.added(a));
  std::string fresh = replaced(readFile(fs::path(SOURCE_DIR) / "tests/fixtures" / (a.word + ".fresh.json")),
                               "@COMMAND@", tarnelctl + " busy");
  EXPECT_EQ(readFile(h.path(a)), fresh);
  auto valid = run({"python3", SOURCE_DIR "/tests/schemas/validate.py", a.word, h.path(a).string()});
  EXPECT_EQ(valid.status, 0) << valid.err;
  expect(h.run("install", a), 0, "Tarnel hooks already installed — nothing to do.\n");
  expect(h.run("uninstall", a), 0, "✓ Removed Tarnel hooks (" + std::to_string(std::count(a.events.begin(),
      a.events.end(), '+') + 1) + "). Restart " + (a.word == "claude" ? "Claude Code" : a.word == "codex" ? "Codex"
      : a.word == "gemini" ? "Gemini CLI" : "the Cursor agent") + " to apply.\n");
  EXPECT_EQ(readFile(h.path(a)), a.word == "cursor" ? "{\n  \"version\": 1\n}" : "{}");
  EXPECT_EQ(readFile(h.path(a).string() + ".tarnel-backup"), fresh);
}

INSTANTIATE_TEST_SUITE_P(Agents, Installer, ::testing::ValuesIn(agents), [](auto& i) { return i.param.word; });

// Root reads and writes whatever the permission bits say: drop that power.
const std::vector<std::string> asUser = {"setpriv", "--bounding-set=-dac_override,-dac_read_search", "--"};
const Agent& claude = agents[0];

struct Failure {
  const char* name;
  std::function<void(const fs::path& file)> setup;
  std::string error;
  std::vector<std::string> prefix = {};
};

void padded(const fs::path& f) { writeFile(f, "{\"padding\": \"" + std::string(3000, 'p') + "\"}"); }

const Failure failures[] = {
    {"Directory", [](auto& f) { fs::create_directories(f); }, "Is a directory"},
    {"Fifo", [](auto& f) { fs::create_directories(f.parent_path()); mkfifo(f.c_str(), 0600); }, "not a regular file"},
    {"LinkLoop", [](auto& f) { fs::create_directories(f.parent_path()); fs::create_symlink(f, f); },
     "Too many levels of symbolic links"},
    {"Unreadable", [](auto& f) { padded(f); fs::permissions(f, fs::perms::none); }, "Permission denied", asUser},
    {"ReadOnlyFolder", [](auto& f) { padded(f); fs::permissions(f.parent_path(), fs::perms(0555)); },
     "Permission denied", asUser},
    {"FileSizeLimit", padded, "File too large", {"/bin/sh", "-c", "ulimit -f 2 && exec \"$@\"", "sh"}},
};

TEST(HookCommands, FailuresSayWhatAndChangeNothing) {
  for (const Failure& f : failures) {
    SCOPED_TRACE(f.name);
    Home h;
    f.setup(h.path(claude));
    auto before = h.snapshot();
    expect(h.run("install", claude, f.prefix), 1, "", "~/.claude/settings.json: " + f.error + "\n");
    EXPECT_EQ(h.snapshot(), before);
  }
}

TEST(HookCommands, WritesThroughALinkKeepingModeAndLeavesNoTemporary) {
  Home h;
  fs::path real = h.dir.path() / "dotfiles/claude.json", file = h.path(claude), parent = file.parent_path();
  writeFile(real, "{\"keep\": true}\n");
  fs::permissions(real, fs::perms(0640));
  fs::create_directories(parent);
  fs::create_symlink("../dotfiles/claude.json", file);
  fs::path old = real.parent_path() / ".claude.json.tarnel-Abc123", recent = real.parent_path() / ".claude.json.tarnel-New456";
  writeFile(old, "left by a killed run");
  writeFile(recent, "being written by another run");
  fs::last_write_time(old, fs::file_time_type::clock::now() - std::chrono::hours(2));
  expect(h.run("install", claude), 0, h.added(claude));
  EXPECT_TRUE(fs::is_symlink(file));
  EXPECT_EQ(fs::status(real).permissions(), fs::perms(0640));
  EXPECT_EQ(readFile(file.string() + ".tarnel-backup"), "{\"keep\": true}\n");
  EXPECT_FALSE(fs::exists(old));
  EXPECT_TRUE(fs::exists(recent));
  EXPECT_EQ(std::distance(fs::directory_iterator(real.parent_path()), fs::directory_iterator()), 2);
}

TEST(HookCommands, OurCommandSurvivesTheShellAndIsKnownUnderAnyName) {
  Home h;
  for (std::string name : {"Tarnel App", "it's", "say \"hi\"", "$(touch pwned)", "back\\slash", "Việt"}) {
    SCOPED_TRACE(name);
    fs::path dir = h.dir.path() / name, program = dir / "tarnelctl";
    fs::create_directories(dir);
    writeFile(program, "#!/bin/sh\nprintf '%s|' \"$@\" > \"$(dirname \"$0\")/args\"\n");
    fs::permissions(program, fs::perms(0755));
    std::string command = tarnel::shellWord(program.string()) + " busy";
    EXPECT_EQ(run({"/bin/sh", "-c", command}).status, 0);
    EXPECT_EQ(readFile(dir / "args"), "busy|");
    EXPECT_EQ(tarnel::busyProgram(command), program.string());
  }
  EXPECT_FALSE(fs::exists(h.dir.path() / "pwned"));

  // Installed through a link named otherwise, the hook runs the link; the program still knows it as its own.
  fs::path link = h.dir.path() / "bin/tl";
  fs::create_directories(link.parent_path());
  fs::create_symlink(tarnelctl, link);
  expect(h.run("install", agents[3], {}, link), 0, h.added(agents[3]));
  expect(h.run("install", agents[3]), 0, "Tarnel hooks already installed — nothing to do.\n");
  expect(h.run("uninstall", agents[3]), 0, "✓ Removed Tarnel hooks (3). Restart the Cursor agent to apply.\n");
}

TEST(HookCommands, HookOfAProgramThatIsGoneIsRepointed) {
  Home h;
  fs::path old = h.dir.path() / "old/tarnelctl";
  fs::create_directories(old.parent_path());
  fs::copy_file(tarnelctl, old);
  const Agent& codex = agents[1];
  EXPECT_EQ(h.run("install", codex, {}, old).status, 0);
  fs::remove(old);
  std::string file = h.path(codex).string();
  expect(h.run("install", codex), 0, "✓ Updated Tarnel's \"busy\" heartbeat in PreToolUse + UserPromptSubmit to\n  " +
         tarnelctl + "\n  in " + file + "\n  (backup: " + file + ".tarnel-backup).\n  IMPORTANT: run /hooks in Codex" +
         " to TRUST the updated hook again — until then it won't fire.\n  Undo any time: tarnelctl uninstall-codex-hooks\n");
  EXPECT_EQ(readFile(file).find("old/"), std::string::npos);

  // Codex trusts hooks by their place: a user's group that moves up needs trusting again.
  writeFile(file, "{\"hooks\": {\"PreToolUse\": [{\"hooks\": [{\"command\": \"" + tarnelctl +
                      " busy\"}]}, {\"hooks\": [{\"command\": \"mine\"}]}]}}");
  expect(h.run("uninstall", codex), 0, "✓ Removed Tarnel hooks (1). Restart Codex to apply.\n  Your other hooks in "
         "these events moved up, and Codex trusts a hook by its place:\n  run /hooks in Codex to TRUST them again — "
         "until then they won't fire.\n");
}

TEST(HookCommands, RelocatedFolderAndRefusedVariableAreNamed) {
  Home h;
  fs::path config = h.dir.path() / "elsewhere";
  auto r = h.run("install", claude, {}, tarnelctl, {{"CLAUDE_CONFIG_DIR", config.string()}});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\n  " + (config / "settings.json").string() + "\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(config / "settings.json"));
  EXPECT_FALSE(fs::exists(h.path(claude)));
  expect(h.run("install", agents[1], {}, tarnelctl, {{"CODEX_HOME", "rel"}}), 1, "",
         "CODEX_HOME is \"rel\", which is not an absolute path — set it to one, or unset it.\n");
}

TEST(HookCommands, OutputThatCannotBeWrittenIsAnError) {
  Home h;
  std::vector<std::string> toFull = {"/bin/sh", "-c", "exec \"$@\" >/dev/full", "sh"};
  expect(h.run("install", claude, toFull), 1, "", "tarnelctl: cannot write to standard output: No space left on "
         "device — the settings file was changed all the same.\n");
  EXPECT_TRUE(fs::exists(h.path(claude)));
  expect(run({"/bin/sh", "-c", "exec \"$@\" >/dev/full", "sh", tarnelctl}), 1, "",
         "tarnelctl: cannot write to standard output: No space left on device\n");
}

TEST(HookCommands, UnderRootFilesKeepTheirOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  Home h;
  padded(h.path(agents[2]));
  for (const auto& entry : fs::recursive_directory_iterator(h.dir.path()))
    ASSERT_EQ(lchown(entry.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  ASSERT_EQ(chown(h.dir.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  EXPECT_EQ(h.run("install", agents[2]).status, 0);  // an existing file
  EXPECT_EQ(h.run("install", claude).status, 0);     // a new folder and file
  for (std::string made : {".gemini/settings.json", ".gemini/settings.json.tarnel-backup", ".claude",
                           ".claude/settings.json"}) {
    struct stat status;
    ASSERT_EQ(stat((h.dir.path() / made).c_str(), &status), 0) << made;
    EXPECT_EQ(status.st_uid, nobody->pw_uid) << made;
    EXPECT_EQ(status.st_gid, nobody->pw_gid) << made;
  }
}

TEST(HookCommands, ConcurrentWritersAreNeverOverwritten) {
  for (std::string move : {"mv \"$1.new\" \"$1\"", "cp \"$1.new\" \"$1\""}) {  // atomic, then in place
    SCOPED_TRACE(move);
    Home h;
    std::string file = h.path(claude).string(), pad(1 << 20, 'p');
    writeFile(file, "{\"w\": 0}");
    writeFile(h.dir.path() / "pad", pad);
    pid_t writer = spawn({"/bin/sh", "-c", "for i in $(seq 1 40); do { printf '{\"w\": %d, \"p\": \"' $i; cat \"$2\";"
                          " printf '\"}'; } > \"$1.new\"; " + move + "; sleep 0.01; done", "sh", file,
                          (h.dir.path() / "pad").string()});
    for (int status = 0, i = 0; waitpid(writer, &status, WNOHANG) == 0; ++i) h.run(i % 2 ? "uninstall" : "install", claude);
    EXPECT_EQ(readFile(file).substr(0, 9), "{\"w\": 40,");
  }
}

}  // namespace
