// The hook commands end to end: the real tarnelctl on real files in a scratch
// home, checked against our schemas of the agents' formats, and the command
// that an agent runs, run by the real shell.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "hooks/hook_edit.h"
#include "hooks/hook_script.h"
#include "hooks/settings_location.h"
#include "settings/settings_file.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

const std::string tarnelctl = TARNELCTL_PATH, already = "Tarnel hooks already installed — nothing to do.\n";
const std::vector<std::string> toFull = {"/bin/sh", "-c", "exec \"$@\" >/dev/full", "sh", tarnelctl};

/// A scratch home, and tarnelctl run in it.
struct Home {
  TempDir dir;
  fs::path file(const std::string& agent) const { return dir.path() / tarnel::hookCommand("install-" + agent + "-hooks")->agent->homePath; }
  /// Runs `argv` (tarnelctl, or what starts it) with `words`, split at spaces.
  RunResult run(const std::string& words, std::vector<std::string> argv = {tarnelctl}, EnvChanges env = {}) const {
    std::istringstream split(words);
    for (std::string word; split >> word;) argv.push_back(word);
    env.emplace("HOME", dir.path().string());
    return testing_support::run(argv, env);
  }
  /// Every entry below the home with its bytes: what a refused run must leave as it was.
  std::map<std::string, std::string> snapshot() const {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
      entries[entry.path().string()] = !entry.is_symlink() && entry.is_regular_file() &&
          access(entry.path().c_str(), R_OK) == 0 ? readFile(entry.path()) : "-";  // unreadable when not root
    return entries;
  }
};

void expect(const RunResult& r, int status, const std::string& out, const std::string& err = "") {
  EXPECT_EQ(r.out, out);
  EXPECT_EQ(r.err, err);
  EXPECT_EQ(r.status, status);
}

TEST(HookCommands, FreshInstallIsTheAgentsFormatIsDoneOnceAndUndone) {
  Home h;
  // In the folder that the agent's variable names: the message names the real file.
  std::string codexHome = (h.dir.path() / "codex home").string(), file = codexHome + "/hooks.json";
  fs::create_directories(codexHome);
  expect(h.run("install-codex-hooks", {tarnelctl}, {{"CODEX_HOME", codexHome}}), 0, "✓ Added Tarnel's \"busy\" "
         "heartbeat to PreToolUse + UserPromptSubmit in\n  " + file + ".\n  "
         "IMPORTANT: run /hooks in Codex once to TRUST it — until then it won't fire.\n  Undo any time: tarnelctl "
         "uninstall-codex-hooks\n");
  // A variable that names the agent's own folder has it made; one that names a home must name one that exists.
  for (std::string dry : {" --dry-run", ""}) {
    EXPECT_EQ(h.run("install-copilot-hooks" + dry, {tarnelctl}, {{"COPILOT_HOME", codexHome + "/co"}}).status, 0);
    expect(h.run("install-gemini-hooks" + dry, {tarnelctl}, {{"GEMINI_CLI_HOME", codexHome + "/g"}}), 1, "", codexHome +
           "/g/.gemini/settings.json: its folder's parent, " + codexHome + "/g, does not exist — create it first.\n");
  }
  for (const tarnel::Agent& a : tarnel::agents) {
    std::string agent(a.word);
    SCOPED_TRACE(agent);
    if (a.file != tarnel::HookFile::settings) continue;  // files of our own: below
    EXPECT_EQ(h.run("install-" + agent + "-hooks").status, 0);
    std::string fresh = readFile(fs::path(SOURCE_DIR) / "tests/fixtures" / (agent + ".fresh.json"));
    for (size_t at; (at = fresh.find("@COMMAND@")) != std::string::npos;) fresh.replace(at, 9, tarnelctl + " busy");
    EXPECT_EQ(readFile(h.file(agent)), fresh);
    auto valid = PYTHON3_HAS_JSONSCHEMA ? run({PYTHON3_JSONSCHEMA, SOURCE_DIR "/tests/schemas/validate.py", agent, h.file(agent).string()})
                                        : RunResult{"", "", 0};
    EXPECT_EQ(valid.status, 0) << valid.err;
    expect(h.run("install-" + agent + "-hooks"), 0, already);
    EXPECT_EQ(h.run("uninstall-" + agent + "-hooks").status, 0);
    if (a.ownFile) EXPECT_FALSE(fs::exists(h.file(agent)));
    else EXPECT_EQ(readFile(h.file(agent)), agent == "cursor" ? "{\n  \"hooks\": {},\n  \"version\": 1\n}" : "{}");
  }
  expect(h.run("uninstall-gemini-hooks"), 0, "No Tarnel hooks found.\n");
  if (!PYTHON3_HAS_JSONSCHEMA)
    GTEST_SKIP() << "not checked against the agents' schemas: CMake found no python3 with jsonschema (python3-jsonschema)";
}

// Droid reads an event's hooks from settings.json while hooks.json has no key for it: ours joins the user's there.
// Copilot CLI runs the hooks of its settings.json too: ours there is mended, not added again, and goes at uninstall
// with our own file.
TEST(HookCommands, SecondFilesOfDroidAndCopilot) {
  Home h;
  fs::path settings = h.dir.path() / ".factory/settings.json", copilot = h.dir.path() / ".copilot/settings.json";
  std::string mine = "{\"hooks\": {\"PreToolUse\": [{\"hooks\": [{\"type\": \"command\", \"command\": \"mine\"}]}]}}";
  std::string ours = "{\"hooks\": [{\"type\": \"command\", \"command\": \"" + tarnelctl + " busy || true\"}]}";
  writeFile(settings, mine);
  auto added = h.run("install-droid-hooks").out;
  EXPECT_NE(added.find("to PreToolUse in\n  " + settings.string() + "\n"), std::string::npos) << added;
  EXPECT_NE(added.find("to UserPromptSubmit in\n  " + h.file("droid").string() + ". "), std::string::npos) << added;
  EXPECT_EQ(readFile(settings), mine.substr(0, mine.size() - 3) + ", " + ours + "]}}");
  expect(h.run("uninstall-droid-hooks"), 0, "✓ Removed Tarnel hooks (2). Restart Droid to apply.\n");
  EXPECT_EQ(readFile(settings) + readFile(h.file("droid")), mine + "{}");
  fs::create_hard_link(h.file("droid"), h.dir.path() / "2");  // refused after settings.json was written: the message says so
  for (std::string dry : {" -n", ""})
    EXPECT_EQ(h.run("install-droid-hooks" + dry).err.find("\n  ~/.factory/settings.json was changed all the same: ✓ Added") !=
              std::string::npos, dry.empty());
  std::string dead = "{\"hooks\": {\"preToolUse\": [{\"bash\": \"/gone/tarnelctl busy\"}]}, \"x\": 1}";
  writeFile(copilot, dead);
  auto r = h.run("install-copilot-hooks");
  EXPECT_TRUE(r.out.starts_with("✓ Updated Tarnel's \"busy\" heartbeat in preToolUse to\n  " + tarnelctl + "\n  in " +
              copilot.string() + "\n") && r.out.ends_with("\n  ~/.copilot/settings.json already runs Tarnel's \"busy\" "
              "heartbeat for preToolUse: not added twice.\n")) << r.out;
  EXPECT_EQ(readFile(copilot), dead.replace(dead.find("/gone/tarnelctl busy"), 20, tarnelctl + " busy || true"));
  expect(h.run("uninstall-copilot-hooks"), 0, "✓ Removed Tarnel hooks (2). Restart Copilot CLI to apply.\n  Nothing "
         "else was left in ~/.copilot/hooks/tarnel.json, so it is deleted.\n");
  EXPECT_EQ(readFile(copilot), "{\"x\": 1}");
}

// OpenCode's plugin and Cline's scripts: exactly the fixture's text (Cline's executable), a gone program's
// repointed, deleted whole; a file of the user's at a name is neither replaced nor deleted, and then none is written.
TEST(HookCommands, FilesOfOurOwnAreTheFixturesTextAndOursAlone) {
  // Each agent's fixture, how it writes the program (at "@"), and what install says of a file of the user's.
  const std::tuple<std::string, std::string, std::string, std::string> own[] = {
      {"opencode", "opencode.fresh.js", "\"@\"", " is a plugin of your own — refusing to replace it. Give it another "
       "name in that folder (OpenCode loads every .js and .ts file there), then run again."},
      {"cline", "cline.fresh.sh", "@", " is a hook script of your own — refusing to replace it. To have it run "
       "Tarnel's heartbeat too, add this line to it, then run again:\n  " + tarnelctl + " busy >/dev/null 2>&1 </dev/null || true"}};
  unsetenv("XDG_CONFIG_HOME");
  for (const auto& [word, fixture, literal, refused] : own) {
    SCOPED_TRACE(word);
    Home h;
    setenv("HOME", h.dir.path().c_str(), 1);
    const tarnel::Agent& a = *tarnel::hookCommand("install-" + word + "-hooks")->agent;
    std::vector<tarnel::SettingsPath> files;
    for (size_t e = 0; e < (a.file == tarnel::HookFile::script ? a.events.size() : 1); ++e) files.push_back(tarnel::locate(tarnel::forEvent(a, e)));
    auto script = [&, fixture = fixture, literal = literal](std::string program) {
      std::string text = readFile(fs::path(SOURCE_DIR) / "tests/fixtures" / fixture);
      return text.replace(text.find("@PROGRAM@"), 9, std::string(literal).replace(literal.find('@'), 1, program));
    };
    auto dry = h.run("install-" + word + "-hooks -n");
    EXPECT_NE(dry.out.find("--- /dev/null\n+++ " + files.back().path + "\n"), std::string::npos) << dry.out;
    EXPECT_TRUE(h.snapshot().empty());
    for (std::string program : {tarnelctl, std::string("/gone/tarnelctl")}) {
      for (const auto& f : files) writeFile(f.path, script(program));
      EXPECT_EQ(h.run("install-" + word + "-hooks").out.starts_with(program == tarnelctl ? "Tarnel hooks already" : "✓ Updated"), true);
      for (const auto& f : files) EXPECT_EQ(readFile(f.path), script(tarnelctl));
    }
    std::string deleted;
    for (const auto& f : files) deleted += "\n  Deleted " + f.shown + ".";
    expect(h.run("uninstall-" + word + "-hooks"), 0, "✓ Removed Tarnel hooks (" + std::to_string(a.events.size()) + "). Restart " +
           std::string(a.restartName) + " to apply." + deleted + "\n");
    EXPECT_EQ(h.snapshot().size(), 3u);  // the three folders made, and no file: none, nor a backup
    EXPECT_EQ(h.run("install-" + word + "-hooks").status, 0);
    for (const auto& f : files) EXPECT_TRUE(fs::status(f.path).permissions() == (a.file == tarnel::HookFile::script ? fs::perms(0755) : fs::perms(0644)));
    // A file of ours with a second hard link, or a link at our name, is not ours to delete or write through.
    fs::create_hard_link(files[0].path, h.dir.path() / "second");
    EXPECT_NE(h.run("uninstall-" + word + "-hooks").err.find("it has 2 hard links"), std::string::npos);
    fs::remove(h.dir.path() / "second");
    h.run("uninstall-" + word + "-hooks");
    fs::create_symlink(h.dir.path() / "second", files[0].path);
    writeFile(h.dir.path() / "second", script(tarnelctl));
    expect(h.run("uninstall-" + word + "-hooks"), 0, "No Tarnel hooks found.\n");
    EXPECT_EQ(h.run("install-" + word + "-hooks").err.find(files[0].shown + " is a symbolic link"), 0u);
    fs::remove(files[0].path);
    // A file of the user's at our name: its hook alone is refused, the others are written all the same.
    writeFile(files.back().path, "mine\n");
    auto before = h.snapshot();
    expect(h.run("install-" + word + "-hooks -n"), 1, "", files.back().shown + refused + "\n");
    EXPECT_EQ(h.snapshot(), before);
    EXPECT_EQ(h.run("install-" + word + "-hooks").err.find(files.back().shown + refused + (files.size() > 1 ? "\n  The others" : "\n")), 0u);
    for (size_t e = 0; e + 1 < files.size(); ++e) EXPECT_EQ(readFile(files[e].path), script(tarnelctl));
    h.run("uninstall-" + word + "-hooks");
    EXPECT_EQ(h.snapshot().size(), 5u);  // the folders, the link's file and the user's file, as it was
    EXPECT_EQ(readFile(files.back().path), "mine\n");
    if (files.size() > 1) {  // the line added as the refusal says: the user's script runs it
      writeFile(files.back().path, "mine\n" + refused.substr(refused.rfind("\n  ") + 3) + "\n");
      EXPECT_EQ(h.run("install-" + word + "-hooks").status, 0);
    }
  }
}

// What the agent runs: the program with "busy", and whatever becomes of the program, its answer to go on
// (Cline's script) or nothing thrown (OpenCode's plugin, loaded and its hooks called by node as OpenCode does).
TEST(HookCommands, FilesOfOurOwnRunTheProgramAndNeverFailTheAgent) {
  TempDir dir;
  fs::path recorder = dir.path() / "rec/tarnelctl", log = dir.path() / "log";
  writeFile(recorder, "#!/bin/sh\necho \"$@\" >> " + log.string() + "\n");
  fs::permissions(recorder, fs::perms(0755));
  for (std::string program : {recorder.string(), std::string("/gone/tarnelctl"), dir.path().string(), log.string()}) {
    SCOPED_TRACE(program);
    fs::path script = dir.path() / "PreToolUse", plugin = dir.path() / "tarnel.mjs";
    writeFile(script, tarnel::ourScript(*tarnel::hookCommand("install-cline-hooks")->agent, program));
    fs::permissions(script, fs::perms(0755));
    expect(run({"/bin/sh", "-c", "echo '{\"hookName\": \"PreToolUse\"}' | \"$0\"", script.string()}), 0, "{\"cancel\": false}\n");
    if (!NODE_PATH[0]) continue;
    writeFile(plugin, tarnel::ourScript(*tarnel::hookCommand("install-opencode-hooks")->agent, program));
    expect(run({NODE_PATH, SOURCE_DIR "/tests/hooks/opencode_plugin.mjs", plugin.string()}), 0, "");
  }
  // The plugin does not wait for the program: the recorder's lines come when they come.
  for (int i = 0; i < 200 && readFile(log).size() < (NODE_PATH[0] ? 15 : 5); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(readFile(log), NODE_PATH[0] ? "busy\nbusy\nbusy\n" : "busy\n");
  if (!NODE_PATH[0]) GTEST_SKIP() << "OpenCode's plugin not run: CMake found no node (Debian: nodejs; Homebrew: node)";
}

void padded(const fs::path& f) { writeFile(f, "{\"padding\": \"" + std::string(3000, 'p') + "\"}"); }
// Root reads and writes whatever the permission bits say: drop that power (util-linux's setpriv).
const std::vector<std::string> asUser = geteuid() != 0 ? std::vector<std::string>{tarnelctl}
    : std::vector<std::string>{"setpriv", "--bounding-set=-dac_override,-dac_read_search", "--", tarnelctl};

const std::string denied = "Permission denied — give your user read and write permission on it and its folder, or run "
                          "as their owner.";

/// How to break the file, what the error says after its name, and how to run tarnelctl.
const std::tuple<std::function<void(const fs::path& file)>, std::string, std::vector<std::string>> failures[] = {
    {[](auto& f) { fs::create_directories(f); }, "Is a directory — a folder has the file's name: move it away, then run "
     "again.", {tarnelctl}},
    {[](auto& f) { fs::create_directories(f.parent_path()); mkfifo(f.c_str(), 0600); }, "not a regular file — put the "
     "settings file there (a symbolic link to one is fine).", {tarnelctl}},
    {[](auto& f) { fs::create_directory_symlink("nowhere", f.parent_path()); }, ".claude is a symbolic link to nowhere, "
     "which does not exist — create that folder, or remove the link.", {tarnelctl}},
    {[](auto& f) { fs::create_directories(f.parent_path()); fs::create_symlink("../away/settings.json", f); }, "it is a "
     "symbolic link to ../away/settings.json, whose folder does not exist — create that folder, or remove the link.", {tarnelctl}},
    {[](auto& f) { fs::create_directories(f.parent_path()); fs::create_symlink(f, f); }, "Too many levels of symbolic links"
     " — its symbolic links lead round in a circle: point the link at a file.", {tarnelctl}},
    {[](auto& f) { padded(f); fs::permissions(f, fs::perms::none); }, denied, asUser},
    {[](auto& f) { padded(f); fs::permissions(f.parent_path(), fs::perms(0555)); }, denied, asUser},
    {padded, "File too large — the size limit for files (ulimit -f) is below the new file's: raise it, then run again.",
     {"/bin/sh", "-c", "ulimit -f 2 && exec \"$@\"", "sh", tarnelctl}},
    {[](auto& f) { padded(f); fs::resize_file(f, 80 << 20); }, "it is 80 MiB, over the 64 MiB that a settings file may "
     "have — refusing to read it. Check what wrote it.", {tarnelctl}},
    {[](auto& f) { padded(f); fs::create_hard_link(f, f.string() + ".2"); }, "it has 2 hard links, and its other names "
     "would keep the old text — refusing to modify it. Make it one file (a symbolic link to it is fine), then run again.",
     {tarnelctl}},
    {[](auto& f) { padded(f); for (auto d : {f.parent_path(), f.parent_path().parent_path()}) chown(d.c_str(), 65534, 65534); },
     "it belongs to another user (uid 0), and the new file would be yours — refusing to modify it. Run this as its owner.",
     {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--", tarnelctl}},
};

TEST(HookCommands, FailuresSayWhatAndChangeNothing) {
  std::string skipped;
  for (const auto& [breakIt, error, argv] : failures) {
    SCOPED_TRACE(error);
    if (argv[0] == "setpriv" && !onPath("setpriv")) {
      skipped = "as root, the permission cases need setpriv (util-linux) on PATH, or a run as another user";
      continue;
    }
    Home h;
    breakIt(h.file("claude"));
    auto before = h.snapshot();
    for (std::string words : {"install-claude-hooks --dry-run", "install-claude-hooks"}) {  // a dry run refuses alike
      expect(h.run(words, argv), 1, "", "~/.claude/settings.json: " + error + "\n");
      EXPECT_EQ(h.snapshot(), before);
    }
  }
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

TEST(HookCommands, WritesThroughALinkKeepingModeAndRemovesOldLeftovers) {
  Home h;
  fs::path dotfiles = h.dir.path() / "dotfiles", real = dotfiles / "claude.json", file = h.file("claude");
  // Temporaries that runs left: an old one, a running one, one of a process that is gone.
  for (std::string name : {".claude.json.tarnel-Abc123", ".claude.json.tarnel-New456", ".claude.json.tarnel-999999999-0", "claude.json"})
    writeFile(dotfiles / name, "{\"keep\": true}\n");
  fs::last_write_time(dotfiles / ".claude.json.tarnel-Abc123", fs::file_time_type::clock::now() - std::chrono::hours(2));
  fs::permissions(real, fs::perms(0640));
#ifdef __APPLE__  // macOS's calls take a position in the value and options
  ASSERT_EQ(setxattr(real.c_str(), "user.kept", "v", 1, 0, 0), 0);
#else
  ASSERT_EQ(setxattr(real.c_str(), "user.kept", "v", 1, 0), 0);
#endif
  fs::create_directories(file.parent_path());
  fs::create_symlink("../dotfiles/claude.json", file);
  EXPECT_EQ(h.run("install-claude-hooks").status, 0);
  EXPECT_TRUE(fs::is_symlink(file));
  EXPECT_EQ(fs::status(real).permissions(), fs::perms(0640));
#ifdef __APPLE__
  EXPECT_EQ(getxattr(real.c_str(), "user.kept", nullptr, 0, 0, 0), 1);
#else
  EXPECT_EQ(getxattr(real.c_str(), "user.kept", nullptr, 0), 1);
#endif
  EXPECT_EQ(readFile(file.string() + ".tarnel-backup"), "{\"keep\": true}\n");
  EXPECT_TRUE(readFile(real).starts_with("{\"keep\": true, \"hooks\": {\"PreToolUse\": [{\"hooks\": [{"));
  EXPECT_FALSE(fs::exists(dotfiles / ".claude.json.tarnel-Abc123"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dotfiles), fs::directory_iterator()), 2);  // the file and New456
}

// Without hard links (FAT, exFAT, SMB), a new file is named by a rename that never replaces, or where that is
// missing too, over an empty file held at its name: another program's file made meanwhile stays; a backup is made.
TEST(HookCommands, NewFilesWithoutHardLinksNeverReplaceAnother) {
  for (auto naming : {tarnel::Naming::exclusiveRename, tarnel::Naming::heldName}) {
    tarnel::firstNaming = naming;
    TempDir dir;
    tarnel::SettingsPath where{(dir.path() / "s.json").string(), "s.json", dir.path().string()};
    auto nothing = tarnel::readSettings(where);
    writeFile(where.path, "theirs");
    EXPECT_FALSE(tarnel::replaceSettings(where, nothing, {"ours"}));
    EXPECT_EQ(readFile(where.path), "theirs");
    fs::remove(where.path);
    EXPECT_TRUE(tarnel::replaceSettings(where, tarnel::readSettings(where), {"ours"}));
    EXPECT_TRUE(tarnel::replaceSettings(where, tarnel::readSettings(where), {"new"}));
    EXPECT_EQ(readFile(where.path) + readFile(where.path + ".tarnel-backup"), "newours");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);  // nothing else
  }
  tarnel::firstNaming = tarnel::Naming::hardLink;
}

TEST(HookCommands, OurCommandSurvivesTheShellAndIsKnownUnderAnyName) {
  Home h;
  for (std::string name : {"Tarnel App", "it's", "say \"hi\"", "$(touch pwned)", "back\\slash", "Việt", "$HOME ${USER}"}) {
    fs::path dir = h.dir.path() / name, program = dir / "tarnelctl";
    writeFile(program, "#!/bin/sh\nprintf '%s|' \"$@\" > \"$(dirname \"$0\")/args\"\n");
    fs::permissions(program, fs::perms(0755));
    for (const tarnel::Agent& a : tarnel::agents) {  // Qwen Code would put a variable's value where "$NAME" stands
      std::string command = tarnel::ourCommand(a, {program.string(), tarnel::shellWord(program.string()) + " busy", {}, {}, {}});
      fs::remove(dir / "args");
      EXPECT_EQ(run({"/bin/sh", "-c", command}).status, 0) << command;
      EXPECT_EQ(readFile(dir / "args"), "busy|") << command;
      EXPECT_EQ(tarnel::busyProgram(command), program.string()) << command;
      EXPECT_FALSE(a.expandsVariables && std::regex_search(command, std::regex(R"(\$(\w|\{))"))) << command;
    }
  }
  // Every agent blocks on some failure (2 at least): whatever happens to the program, the command it runs succeeds.
  fs::create_directories(h.dir.path() / "dir/tarnelctl");
  writeFile(h.dir.path() / "two/tarnelctl", "#!/bin/sh\nexit 2\n");
  fs::permissions(h.dir.path() / "two/tarnelctl", fs::perms(0755));
  for (std::string gone : {std::string("/gone/tarnelctl"), (h.dir.path() / "dir/tarnelctl").string(), (h.dir.path() / "two/tarnelctl").string(),
                           std::string("/proc/self/exe")}) {
    EXPECT_NE(run({"/bin/sh", "-c", gone + " busy"}).status, 0) << gone;
    for (const tarnel::Agent& a : tarnel::agents)
      EXPECT_EQ(run({"/bin/sh", "-c", tarnel::ourCommand(a, {gone, gone + " busy", {}, {}, {}})}).status, 0) << a.word << " " << gone;
  }
  EXPECT_FALSE(fs::exists(h.dir.path() / "pwned"));
  // Started through a link of another name, or as /proc/self/exe, the hook names the program as tarnelctl;
  // started as ./tarnelctl, a link of that name in the working folder, as the shell names that folder, also
  // through a link (as macOS's TMPDIR, /var/folders/…, lies behind /var → /private/var).
  fs::path link = h.dir.path() / "tl", here = h.dir.path() / "tarnelctl", via = h.dir.path() / "via/tarnelctl";
  for (const fs::path& name : {link, here}) fs::create_symlink(tarnelctl, name);
  fs::create_directory_symlink(".", via.parent_path());
  const std::string inFolder = "cd \"${0%/*}\" && exec ./tarnelctl \"$1\"";
  for (auto [argv, named] : {std::pair{std::vector<std::string>{"sh", "-c", inFolder, here.string()}, here.string()},
                             {{"sh", "-c", inFolder, via.string()}, via.string()}, {{link.string()}, tarnelctl},
                             {{"bash", "-c", "exec -a /proc/self/exe \"$0\" \"$1\"", tarnelctl}, tarnelctl}}) {
    fs::remove(h.file("cursor"));
    EXPECT_EQ(h.run("install-cursor-hooks", argv).status, 0);
    EXPECT_NE(readFile(h.file("cursor")).find("\"command\": \"" + named + " busy || true\""), std::string::npos) << named;
  }
  // Hooks that an earlier version wrote through the link, deleted since, are still taken out.
  std::string text = readFile(h.file("cursor"));
  for (size_t at; (at = text.find(tarnelctl)) != std::string::npos;) text.replace(at, tarnelctl.size(), link.string());
  writeFile(h.file("cursor"), text);
  fs::remove(link);
  expect(h.run("uninstall-cursor-hooks"), 0, "✓ Removed Tarnel hooks (3). Restart the Cursor agent to apply.\n");
}

TEST(HookCommands, HookOfAGoneProgramIsRepointedAndMovedHooksNeedTrust) {
  Home h;
  fs::path old = h.dir.path() / "tarnelctl";
  fs::copy_file(tarnelctl, old);
  EXPECT_EQ(h.run("install-codex-hooks", {old.string()}).status, 0);
  fs::remove(old);
  std::string file = h.file("codex").string();
  expect(h.run("install-codex-hooks"), 0, "✓ Updated Tarnel's \"busy\" heartbeat in PreToolUse + UserPromptSubmit to\n  " +
         tarnelctl + "\n  in " + file + "\n  (backup: " + file + ".tarnel-backup).\n  IMPORTANT: run /hooks in Codex" +
         " to TRUST the updated hook again — until then it won't fire.\n  Undo any time: tarnelctl uninstall-codex-hooks\n");
  // Written as /proc/self/exe by an earlier version, it runs the agent's shell (`sh busy`, status 2): repointed too,
  // as is a bare name on no folder of PATH.
  writeFile(h.file("cursor"), "{\"version\": 1, \"hooks\": {\"beforeShellExecution\": [{\"command\": \"tarnelctl busy\"}], "
                              "\"afterFileEdit\": [{\"command\": \"/proc/self/exe busy\"}]}}");
  EXPECT_NE(h.run("install-cursor-hooks", {tarnelctl}, {{"PATH", "/nowhere"}}).out.find("\n  and updated it in beforeShellExecution + "
            "afterFileEdit to\n  " + tarnelctl + "\n"), std::string::npos);
  writeFile(file, "{\"hooks\": {\"PreToolUse\": [{\"hooks\": [{\"command\": \"" + tarnelctl +
                      " busy\"}]}, {\"hooks\": [{\"command\": \"mine\"}]}]}}");
  expect(h.run("uninstall-codex-hooks"), 0, "✓ Removed Tarnel hooks (1). Restart Codex to apply.\n  Your other hooks in "
         "these events moved up, and Codex trusts a hook by its place:\n  run /hooks in Codex to TRUST them again — "
         "until then they won't fire.\n");
}

// An empty file has nothing to keep; a name that is no backup (a dangling link) is not named as one.
TEST(HookCommands, ABackupIsOfContentAndNamedOnlyWhenThere) {
  for (bool dangling : {false, true}) {
    Home h;
    std::string file = h.file("gemini").string(), backup = file + ".tarnel-backup";
    writeFile(file, dangling ? "{}" : "");
    if (dangling) fs::create_symlink("nowhere", backup);
    for (std::string dry : {" --dry-run", ""})  // the dry run says what the real run will do
      EXPECT_EQ(h.run("install-gemini-hooks" + dry).out.find("backup"), std::string::npos) << dry;
    EXPECT_FALSE(fs::exists(backup));
  }
}

TEST(HookCommands, OutputThatCannotBeWrittenIsAnError) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "needs /dev/full, a device that refuses every write (Linux has it)";
  Home h;
  expect(h.run("install-gemini-hooks", toFull), 1, "", "tarnelctl: cannot write to standard output: No space left on "
         "device — the settings file was changed all the same.\n");
  EXPECT_TRUE(fs::exists(h.file("gemini")));
  expect(run(toFull), 1, "", "tarnelctl: cannot write to standard output: No space left on device\n");
}

TEST(HookCommands, UnderRootFilesKeepTheirOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to hand files to another owner: run the suite as root";
  const passwd* nobody = getpwnam("nobody");
  Home h;
  padded(h.file("gemini"));
  for (const fs::path& made : {h.dir.path(), h.file("gemini").parent_path(), h.file("gemini")})
    ASSERT_EQ(chown(made.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  EXPECT_EQ(h.run("install-gemini-hooks").status, 0);  // an existing file
  EXPECT_EQ(h.run("install-claude-hooks").status, 0);  // a new folder and file
  for (std::string made : {".gemini/settings.json", ".gemini/settings.json.tarnel-backup", ".claude", ".claude/settings.json"}) {
    struct stat status {};
    stat((h.dir.path() / made).c_str(), &status);
    EXPECT_EQ(std::pair(status.st_uid, status.st_gid), std::pair(nobody->pw_uid, nobody->pw_gid)) << made;
  }
}

// Editors numbering their saves while installs and uninstalls run: each save
// must find the one before it. `make stress` runs this with TARNEL_RACE_SAVES=3000.
TEST(HookCommands, ConcurrentSavesAreNeverLost) {
  const char* count = std::getenv("TARNEL_RACE_SAVES");
  const std::string saves = count ? count : "40";
  // To a new file renamed over the old; in place; in place slowly, truncated and written a moment later.
  // A save is lost when the editor no longer finds it before its next one; a glimpse of our file
  // before we swap back is no loss. That lasts an instant, but on a loaded machine the install may
  // lose the processor in between for a good part of a second, so a save missed at first is looked
  // for again for up to 5 s. A lost save never comes back: nothing writes it again.
  for (std::string save : {"mv \"$1.new\" \"$1\"", "cat \"$1.new\" > \"$1\"", ": > \"$1\"; sleep 0.005; cat \"$1.new\" >> \"$1\""}) {
    Home h;
    std::string file = h.file("claude").string();
    writeFile(file, "{\"w\": 0, \"p\": \"\"}");
    writeFile(h.dir.path() / "pad", std::string(1 << 16, 'p'));
    auto editor = start({"/bin/sh", "-c", "found() { head -c 16 \"$1\" | grep -q \"^{.w.: $2,\"; }; seen() { for _ in $(seq 100); do found \"$@\" && return; "
                         "sleep 0.05; done; false; }; lost=0; for i in $(seq 1 $3); do seen \"$1\" $((i-1)) || lost=$((lost+1)); { printf '{\"w\": %d, \"p\": \"' $i; cat \"$2\"; printf '\"}'; } > \"$1.new\"; " +
                         save + "; done; echo $lost > \"$1.lost\"", "sh", file, (h.dir.path() / "pad").string(), saves});
    int installs = 0;
    for (; waitpid(editor.pid, nullptr, WNOHANG) == 0; ++installs) h.run(installs % 2 ? "uninstall-claude-hooks" : "install-claude-hooks");
    std::printf("%s: %d installs and uninstalls, saves lost: %s", save.c_str(), installs, readFile(file + ".lost").c_str());
    EXPECT_EQ(readFile(file + ".lost"), "0\n") << save;
    EXPECT_EQ(readFile(file).substr(0, 7 + saves.size()), "{\"w\": " + saves + ",") << save;
    EXPECT_TRUE(!fs::exists(file + ".tarnel-backup") || readFile(file + ".tarnel-backup").starts_with("{\"w\": ")) << save;
  }
}

}  // namespace
