// Where each agent's settings file is found, from the environment.
#include "hooks/settings_location.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

namespace {

using namespace tarnel;

struct Place {
  const char* agent;
  std::vector<std::pair<const char*, const char*>> env;  // a null value unsets the variable
  std::string path, shownOrError;                        // an empty path: refused with that error
};

const std::string passwordHome = getpwuid(getuid())->pw_dir;

const Place places[] = {
    {"claude", {{"HOME", "/h"}, {"CLAUDE_CONFIG_DIR", nullptr}}, "/h/.claude/settings.json", "~/.claude/settings.json"},
    {"claude", {{"HOME", "/h/"}, {"CLAUDE_CONFIG_DIR", ""}}, "/h/.claude/settings.json", "~/.claude/settings.json"},
    {"claude", {{"HOME", nullptr}}, passwordHome + "/.claude/settings.json", "~/.claude/settings.json"},
    {"cursor", {{"HOME", ""}}, passwordHome + "/.cursor/hooks.json", "~/.cursor/hooks.json"},
    {"claude", {{"CLAUDE_CONFIG_DIR", "/c/d"}}, "/c/d/settings.json", "/c/d/settings.json"},
    {"gemini", {{"GEMINI_CLI_HOME", "/g/"}}, "/g/.gemini/settings.json", "/g/.gemini/settings.json"},
    {"codex", {{"CODEX_HOME", "/"}}, "/hooks.json", "/hooks.json"},
    {"codex", {{"CODEX_HOME", "/nonexistent/codex"}}, "",
     "CODEX_HOME names /nonexistent/codex, which is not a folder — Codex needs it to exist: create it, or unset CODEX_HOME."},
    {"gemini", {{"GEMINI_CLI_HOME", "g"}}, "",
     "GEMINI_CLI_HOME is \"g\", which is not an absolute path — set it to one, or unset it."},
};

TEST(SettingsLocation, FromTheAgentsVariableOrTheHome) {
  for (const Place& p : places) {
    SCOPED_TRACE(p.path + p.shownOrError);
    for (const char* name : {"HOME", "CLAUDE_CONFIG_DIR", "CODEX_HOME", "GEMINI_CLI_HOME"}) unsetenv(name);
    setenv("HOME", "/home/someone", 1);
    for (auto [name, value] : p.env) value ? setenv(name, value, 1) : unsetenv(name);
    const Agent& agent = *hookCommand("install-" + std::string(p.agent) + "-hooks")->agent;
    try {
      SettingsPath where = locate(agent);
      EXPECT_EQ(where.path, p.path);
      EXPECT_EQ(where.shown, p.shownOrError);
    } catch (const SettingsError& error) {
      EXPECT_EQ(p.path, "");
      EXPECT_EQ(error.what(), p.shownOrError);
    }
  }
}

}  // namespace
