// The four hook installers end to end: the real tarnelctl with HOME in a
// scratch directory. Each rule is one table run over every agent it concerns.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>

#include <nlohmann/json.hpp>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using namespace testing_support;

const std::string refusal = " — refusing to modify it. Fix it by hand first.";
const std::string ourCommand = std::string(TARNELCTL_PATH) + " busy";
const fs::path fixtures = fs::path(SOURCE_DIR) / "tests" / "fixtures";
constexpr auto already = "Tarnel hooks already installed — nothing to do.\n";
constexpr auto noneFound = "No Tarnel hooks found.\n";

json command(const std::string& text) { return {{"type", "command"}, {"command", text}}; }
json with(json handler, const std::string& key, json value) { handler[key] = std::move(value); return handler; }
const json foreign = command("/usr/bin/true");

struct Agent {
  std::string word, relativePath;
  std::vector<std::string> events;
  bool grouped, knowsByCommand;
  std::string installNote, restartName;
  std::function<json(const std::string& command)> ours;  // the handler that install writes
  std::vector<std::pair<json, bool>> ownership;          // a handler, and whether it counts as ours
};
void PrintTo(const Agent& a, std::ostream* os) { *os << a.word; }

const std::vector<std::pair<json, bool>> byCommandText = {
    {command("/opt/tools/tarnelctl busy"), true}, {command("/usr/local/bin/tarnelctl busy 30"), false},
    {command("/usr/bin/other busy"), false}, {{{"command", 5}}, false}, {json::object(), false}};

const Agent agents[] = {
    {"claude", ".claude/settings.json", {"PreToolUse", "UserPromptSubmit"}, true, false,
     " Restart Claude Code to load it.", "Claude Code", [](auto& c) { return with(command(c), "_origin", "tarnel"); },
     {{with(command("/gone/tarnelctl busy"), "_origin", "tarnel"), true}, {command(ourCommand), false},
      {with(command(ourCommand), "_origin", "Tarnel"), false}, {with(command(ourCommand), "_origin", 1), false}}},
    {"codex", ".codex/hooks.json", {"PreToolUse", "UserPromptSubmit"}, true, true,
     "\n  IMPORTANT: run /hooks in Codex once to TRUST it — until then it won't fire.", "Codex", command,
     byCommandText},
    {"gemini", ".gemini/settings.json", {"BeforeTool", "BeforeAgent"}, true, false,
     " Restart Gemini CLI to load it.", "Gemini CLI", [](auto& c) { return with(command(c), "name", "tarnel"); },
     {{with(command("/bin/other"), "name", "tarnel"), true}, {command(ourCommand), false},
      {with(command(ourCommand), "name", "Tarnel"), false}, {with(command(ourCommand), "name", "tarnel "), false}}},
    {"cursor", ".cursor/hooks.json", {"beforeShellExecution", "afterFileEdit", "beforeSubmitPrompt"}, false, true,
     " Restart the Cursor agent to load it.", "the Cursor agent", [](auto& c) { return json{{"command", c}}; },
     byCommandText},
};

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

unsigned modeOf(const fs::path& path) { return static_cast<unsigned>(fs::status(path).permissions()); }

void expectOut(const RunResult& r, const std::string& out) {
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, out);
  EXPECT_EQ(r.status, 0);
}

/// One agent's settings file below a scratch home, and what to expect of it.
struct Home {
  explicit Home(const Agent& agent) : a(agent) {}
  const Agent& a;
  TempDir home;
  fs::path file = home.path() / a.relativePath, backup = file.string() + ".tarnel-backup";

  /// Runs "<verb>-<agent>-hooks" as `program`, behind `prefix` (fewer privileges, a file size limit).
  RunResult tarnelctl(const std::string& verb, std::vector<std::string> prefix = {},
                      const std::string& program = TARNELCTL_PATH) const {
    prefix.insert(prefix.end(), {program, verb + "-" + a.word + "-hooks"});
    return run(prefix, {{"HOME", home.path().string()}, {"PATH", (home.path() / "bin").string() + ":/usr/bin:/bin"}});
  }
  json element(const json& handler) const { return a.grouped ? json{{"hooks", json::array({handler})}} : handler; }
  json ours(const std::string& command = ourCommand) const { return json::array({element(a.ours(command))}); }
  void put(const json& settings) const { writeFile(file, settings.dump(2)); }
  json contents() const { return json::parse(readFile(file)); }

  std::string installed(const std::vector<std::string>& events) const {
    std::string names, path = file.string();
    for (const auto& e : events) names += (names.empty() ? "" : " + ") + e;
    return "✓ Added Tarnel's \"busy\" heartbeat to " + names + " in\n  " + path + "\n  (backup: " + path +
           ".tarnel-backup)." + a.installNote + "\n  Undo any time: tarnelctl uninstall-" + a.word + "-hooks\n";
  }
  std::string removed(size_t n) const {
    return "✓ Removed Tarnel hooks (" + std::to_string(n) + "). Restart " + a.restartName + " to apply.\n";
  }

  /// Checked against the agent's own schema (Claude Code's without our "_origin" marker).
  void expectSchemaValid() const {
    auto r = run({"/usr/bin/python3", SOURCE_DIR "/tests/hooks/validate_schema.py", SOURCE_DIR "/../shared/agent-schemas",
                  a.word, file.string()});
    EXPECT_EQ(r.status, 0) << r.err << readFile(file);
  }

  /// Every entry below the home directory with its bytes: what a refused run must leave as it was.
  std::map<std::string, std::string> snapshot() const {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(home.path())) {
      std::string& what = entries[entry.path().string()];
      if (entry.is_symlink() || entry.is_directory()) what = entry.is_symlink() ? "link" : "dir";
      else if (std::ifstream in(entry.path(), std::ios::binary); in) what.assign(std::istreambuf_iterator<char>(in), {});
    }
    return entries;
  }
};

class Installer : public ::testing::TestWithParam<Agent> {
protected:
  const Agent& a = GetParam();
  Home h{a};
};

TEST_P(Installer, FreshInstallRepeatAndUninstall) {
  expectOut(h.tarnelctl("install"), h.installed(a.events));
  std::string fresh = replaced(readFile(fixtures / (a.word + ".fresh.json")), "@COMMAND@", ourCommand);
  EXPECT_EQ(readFile(h.file), fresh);
  EXPECT_FALSE(fs::exists(h.backup));
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(modeOf(h.file), 0666u & ~mask);
  h.expectSchemaValid();

  auto stamp = fs::last_write_time(h.file);
  expectOut(h.tarnelctl("install"), already);
  EXPECT_EQ(readFile(h.file), fresh);
  EXPECT_EQ(fs::last_write_time(h.file), stamp);
  EXPECT_FALSE(fs::exists(h.backup));

  expectOut(h.tarnelctl("uninstall"), h.removed(a.events.size()));
  EXPECT_EQ(readFile(h.file), a.word == "cursor" ? "{\n  \"version\": 1\n}" : "{}");
  EXPECT_EQ(readFile(h.backup), fresh);
  stamp = fs::last_write_time(h.file);
  expectOut(h.tarnelctl("uninstall"), noneFound);
  EXPECT_EQ(fs::last_write_time(h.file), stamp);
}

TEST_P(Installer, AddsOnlyWhereMissing) {
  json last = h.ours("/old/place/tarnelctl busy");
  last.insert(last.begin(), h.element(foreign));
  h.put({{"hooks", {{a.events.back(), last}}}});
  std::vector<std::string> missing(a.events.begin(), a.events.end() - 1);
  expectOut(h.tarnelctl("install"), h.installed(missing));
  json expected = {{"hooks", {{a.events.back(), last}}}};
  for (const auto& e : missing) expected["hooks"][e] = h.ours();
  if (a.word == "cursor") expected["version"] = 1;
  EXPECT_EQ(h.contents(), expected);
  h.expectSchemaValid();
}

TEST_P(Installer, OwnershipRules) {
  for (const auto& [handler, isOurs] : a.ownership) {
    SCOPED_TRACE(handler.dump());
    json settings = {{"hooks", json::object()}};
    for (const auto& e : a.events) settings["hooks"][e] = json::array({h.element(handler)});
    h.put(settings);
    expectOut(h.tarnelctl("install"), isOurs ? already : h.installed(a.events));
    for (const auto& e : a.events)
      EXPECT_EQ(h.contents()["hooks"][e], isOurs ? settings["hooks"][e] : json::array({h.element(handler), h.ours()[0]}));
    h.put(settings);
    expectOut(h.tarnelctl("uninstall"), isOurs ? h.removed(a.events.size()) : noneFound);
    EXPECT_EQ(h.contents(), isOurs ? json::object() : settings);
  }
}

TEST_P(Installer, UninstallTakesOutOursAndPrunesWhatItEmpties) {
  json mine = a.ours(ourCommand), before = {mine, foreign, mine, json::object()}, after = {foreign, json::object()};
  if (a.grouped) {
    before = {{{"matcher", "Bash"}, {"hooks", {mine, foreign}}}, {{"hooks", json::array()}},
              {{"hooks", json::array({mine})}, {"matcher", "*"}}, {{"matcher", "none"}}, {{"hooks", "not a list"}}};
    after = {{{"matcher", "Bash"}, {"hooks", json::array({foreign})}}, {{"matcher", "none"}}, {{"hooks", "not a list"}}};
  }
  // "Zeta" is no event of ours: never looked at, even when it holds our hook.
  h.put({{"x", 1}, {"hooks", {{"Zeta", h.ours()}, {a.events[0], before}, {a.events[1], json::array()}}}});
  expectOut(h.tarnelctl("uninstall"), h.removed(2));
  EXPECT_EQ(h.contents(), (json{{"x", 1}, {"hooks", {{"Zeta", h.ours()}, {a.events[0], after}}}}));

  // Only pruning to do, nothing of ours: nothing is written.
  if (a.grouped) after.push_back(json{{"hooks", json::array()}});
  h.put({{"hooks", {{a.events[0], after}, {a.events[1], json::array()}}}});
  std::string bytes = readFile(h.file);
  expectOut(h.tarnelctl("uninstall"), noneFound);
  EXPECT_EQ(readFile(h.file), bytes);
}

TEST_P(Installer, ForeignContentSurvivesInOrder) {
  json original = json::parse(readFile(fixtures / "foreign.json"));
  original["hooks"] = {{"Zeta", h.ours()}, {"Stop", json::array({h.element(foreign)})}};
  h.put(original);
  expectOut(h.tarnelctl("install"), h.installed(a.events));
  for (auto text : {"9223372036854775807", "-9223372036854775808", "18446744073709551615", "a/b/c", "緑の 🙂"})
    EXPECT_NE(readFile(h.file).find(text), std::string::npos) << text;
  json expected = original;
  for (const auto& e : a.events) expected["hooks"][e] = h.ours();
  if (a.word == "cursor") original["version"] = expected["version"] = 1;
  EXPECT_EQ(h.contents(), expected);
  expectOut(h.tarnelctl("uninstall"), h.removed(a.events.size()));
  EXPECT_EQ(h.contents(), original);
}

TEST_P(Installer, BackupIsTheFirstFileNeverRefreshedAndNoMoreReadable) {
  writeFile(h.file, "");
  fs::permissions(h.file, fs::perms(0600));
  expectOut(h.tarnelctl("install"), h.installed(a.events));
  EXPECT_EQ(readFile(h.backup), "");
  EXPECT_EQ(modeOf(h.file), 0600u);
  EXPECT_EQ(modeOf(h.backup), 0600u);
  h.expectSchemaValid();
  expectOut(h.tarnelctl("uninstall"), h.removed(a.events.size()));
  expectOut(h.tarnelctl("install"), h.installed(a.events));
  EXPECT_EQ(readFile(h.backup), "");
}

TEST_P(Installer, WritesThroughASymbolicLink) {
  fs::path real = h.home.path() / "dotfiles" / "agent.json";
  writeFile(real, "{\"keep\": true}");
  fs::create_directories(h.file.parent_path());
  fs::create_symlink("../dotfiles/agent.json", h.file);
  expectOut(h.tarnelctl("install"), h.installed(a.events));
  EXPECT_EQ(fs::read_symlink(h.file), "../dotfiles/agent.json");
  EXPECT_EQ(json::parse(readFile(real))["hooks"][a.events[0]], h.ours());
  EXPECT_EQ(readFile(h.backup), "{\"keep\": true}");
  EXPECT_EQ(std::distance(fs::directory_iterator(real.parent_path()), fs::directory_iterator()), 1);
}

TEST_P(Installer, HookCommandIsThePathItWasStartedBy) {
  fs::path bin = h.home.path() / "bin", link = bin / "tarnelctl", copy = bin / "keepawake";
  fs::create_directories(bin);
  fs::create_symlink(TARNELCTL_PATH, link);
  fs::copy_file(TARNELCTL_PATH, copy);
  // A link such as a package manager's keeps its name across upgrades.
  expectOut(h.tarnelctl("install", {}, link), h.installed(a.events));
  EXPECT_EQ(h.contents()["hooks"][a.events[0]], h.ours(link.string() + " busy"));
  h.expectSchemaValid();
  // Found on PATH, argv[0] is no path: the running executable's own.
  fs::remove(h.file);
  expectOut(h.tarnelctl("install", {"/bin/sh", "-c", "exec \"$@\"", "sh"}, "tarnelctl"), h.installed(a.events));
  EXPECT_EQ(h.contents()["hooks"][a.events[0]], h.ours(fs::canonical(TARNELCTL_PATH).string() + " busy"));
  // A copy without "tarnelctl" in its name writes hooks that the command test never knows again.
  fs::remove(h.file);
  expectOut(h.tarnelctl("install", {}, copy), h.installed(a.events));
  expectOut(h.tarnelctl("install", {}, copy), a.knowsByCommand ? h.installed(a.events) : already);
  EXPECT_EQ(h.contents()["hooks"][a.events[0]].size(), a.knowsByCommand ? 2u : 1u);
  expectOut(h.tarnelctl("uninstall", {}, copy), a.knowsByCommand ? noneFound : h.removed(a.events.size()));
}

// Install then uninstall giving back the same object, member order included,
// is a property of arbitrary settings: the settings fuzzers check it (fuzz/).

INSTANTIATE_TEST_SUITE_P(Agents, Installer, ::testing::ValuesIn(agents), [](auto& info) { return info.param.word; });

// Refusals and failures: the exact message, and nothing below the home directory changed.
struct Failure {
  std::string name;
  std::function<void(const Home&)> setup;
  std::string error;         // {file}, {event} and {entries} stand for the agent's own
  std::string uninstallOut;  // what uninstall prints instead, when it does not fail
  std::vector<std::string> prefix = {};
};
void PrintTo(const Failure& f, std::ostream* os) { *os << f.name; }

// Root reads and writes whatever the permission bits say: drop that power.
const std::vector<std::string> asUser =
    geteuid() == 0 ? std::vector<std::string>{"setpriv", "--bounding-set=-dac_override,-dac_read_search", "--"}
                   : std::vector<std::string>{};
void write(const Home& h, const std::string& text) { writeFile(h.file, text); }
void oursAndPadding(const Home& h) { h.put({{"padding", std::string(1500, 'p')}, {"hooks", {{h.a.events[0], h.ours()}}}}); }
const std::string notJson = "{file} is not valid JSON (line ";

const Failure failures[] = {
    {"TopLevelArray", [](auto& h) { write(h, "[{\"hooks\": {}}]"); }, "{file} is not a JSON object" + refusal, ""},
    {"WhitespaceOnly", [](auto& h) { write(h, " \n\t"); },
     notJson + "2, column 2: unexpected end of input; expected '[', '{', or a literal)" + refusal, ""},
    {"BareScalar", [](auto& h) { write(h, "\n  \"text\""); }, notJson + "2, column 3: expected '{' or '[')" + refusal, ""},
    {"TrailingComma", [](auto& h) { write(h, "{\n  \"a\": 1,\n}"); },
     notJson + "3, column 1: unexpected '}'; expected string literal)" + refusal, ""},
    {"InvalidUtf8", [](auto& h) { write(h, "{\n  \"a\": \"caf\xC3\x28\"}"); },
     notJson + "2, column 13: invalid string: ill-formed UTF-8 byte)" + refusal, ""},
    {"NumberOverflow", [](auto& h) { write(h, "{\"a\": 1e400}"); }, notJson + "1, column 11: number out of range)" + refusal,
     ""},
    {"TooDeep", [](auto& h) { write(h, "{\"a\":" + std::string(100000, '[')); },
     notJson + "1, column 517: nesting deeper than 512 levels)" + refusal, ""},
    {"HooksNotAnObject", [](auto& h) { h.put({{"hooks", h.ours()}}); }, "{file}: \"hooks\" is not an object" + refusal,
     noneFound},
    {"EventNotAList", [](auto& h) { h.put({{"hooks", {{h.a.events[0], {h.ours()[0], "x"}}}}}); },
     "{file}: \"hooks\" → \"{event}\" is not a list of {entries}" + refusal, noneFound},
    {"Directory", [](auto& h) { fs::create_directories(h.file); }, "{file}: Is a directory", ""},
    {"LinkLoop", [](auto& h) { fs::create_directories(h.file.parent_path()); fs::create_symlink(h.file, h.file); },
     "{file}: Too many levels of symbolic links", ""},
    {"Unreadable", [](auto& h) { oursAndPadding(h); fs::permissions(h.file, fs::perms::none); },
     "{file}: Permission denied", "", asUser},
    {"ReadOnlyDirectory", [](auto& h) { oursAndPadding(h); fs::permissions(h.file.parent_path(), fs::perms(0555)); },
     "{file}: Permission denied", "", asUser},
    {"FileSizeLimit", oursAndPadding, "{file}: File too large", "", {"/bin/sh", "-c", "ulimit -f 2 && exec \"$@\"", "sh"}},
};

class Refusal : public ::testing::TestWithParam<std::tuple<Agent, Failure>> {};

TEST_P(Refusal, ExactMessageAndNothingChanged) {
  const auto& [agent, failure] = GetParam();
  Home h{agent};
  failure.setup(h);
  auto before = h.snapshot();
  std::string error = replaced(replaced(replaced(failure.error, "{file}", "~/" + agent.relativePath), "{event}",
                                        agent.events[0]), "{entries}", agent.grouped ? "hook groups" : "hook entries");
  for (std::string verb : {"install", "uninstall"}) {
    SCOPED_TRACE(verb);
    auto r = h.tarnelctl(verb, failure.prefix);
    if (verb == "uninstall" && !failure.uninstallOut.empty()) {
      expectOut(r, failure.uninstallOut);
    } else {
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, error + "\n");
      EXPECT_EQ(r.status, 1);
    }
    EXPECT_EQ(h.snapshot(), before);
  }
}

INSTANTIATE_TEST_SUITE_P(Agents, Refusal, ::testing::Combine(::testing::ValuesIn(agents), ::testing::ValuesIn(failures)),
                         [](auto& info) { return std::get<0>(info.param).word + "_" + std::get<1>(info.param).name; });

// A backup that cannot be made does not stop the write; a home that does not
// exist yet is made by install and left alone by uninstall.
TEST_P(Installer, BackupBlockedAndMissingHome) {
  h.put({{"keep", 1}});
  fs::create_directories(h.backup);  // the copy fails: a directory stands in its way
  expectOut(h.tarnelctl("install"), h.installed(a.events));
  EXPECT_EQ(h.contents()["keep"], 1);
  EXPECT_TRUE(fs::is_empty(h.backup));

  fs::path missing = h.home.path() / "not" / "yet";
  auto runAt = [&](const std::string& verb) {
    return run({TARNELCTL_PATH, verb + "-" + a.word + "-hooks"}, {{"HOME", missing.string()}});
  };
  expectOut(runAt("uninstall"), noneFound);
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_EQ(runAt("install").status, 0);
  EXPECT_TRUE(fs::is_regular_file(missing / a.relativePath));
}

TEST(CursorVersion, SuppliedOnlyWhenAbsentAndSomethingIsWritten) {
  Home h{agents[3]};
  for (json version : {json(2), json("2"), json(nullptr)}) {
    h.put({{"version", version}});
    expectOut(h.tarnelctl("install"), h.installed(h.a.events));
    EXPECT_EQ(h.contents().begin().key(), "version");
    EXPECT_EQ(h.contents()["version"], version);
  }
  json all = {{"hooks", json::object()}};
  for (const auto& e : h.a.events) all["hooks"][e] = h.ours();
  h.put(all);
  expectOut(h.tarnelctl("install"), already);
  EXPECT_EQ(h.contents(), all);
}

TEST(SettingsJson, RepeatedKeysDeepNestingAndHugeObjects) {
  Home h{agents[0]};
  std::string many = "{\"a\": 1, \"b\": 2, \"a\": 3, \"big\": {";  // big enough for repeated keys found by hashing
  for (int i = 0; i < 40; ++i) many += "\"k" + std::to_string(i) + "\": " + std::to_string(i) + ", ";
  writeFile(h.file, many + "\"k5\": \"later\"}, \"deep\": " + std::string(511, '[') + std::string(511, ']') + "}");
  expectOut(h.tarnelctl("install"), h.installed(h.a.events));
  json after = h.contents();
  EXPECT_EQ(after.dump().substr(0, 21), R"({"a":3,"b":2,"big":{")");
  EXPECT_EQ(std::next(after["big"].begin(), 5).key(), "k5");
  EXPECT_EQ(after["big"]["k5"], "later");
  EXPECT_EQ(after["deep"].dump(), std::string(511, '[') + std::string(511, ']'));

  // Reading stays linear in the number of members: a scan per member would take minutes here.
  std::string huge = "{\"env\": {\"V0\": 0";
  for (int i = 1; i < 300000; ++i) huge += ", \"V" + std::to_string(i) + "\": " + std::to_string(i);
  writeFile(h.file, huge + "}}");
  expectOut(h.tarnelctl("install"), h.installed(h.a.events));
  EXPECT_EQ(nlohmann::json::parse(readFile(h.file))["env"].size(), 300000u);
}

}  // namespace
