// Where each agent's settings file is found, from the environment.
#include "hooks/settings_location.h"

#include <gtest/gtest.h>
#include <pwd.h>

namespace {

using namespace tarnel;

struct Place {
  const char* agent;
  std::vector<std::pair<const char*, const char*>> env;  // a null value unsets the variable
  std::string pathOrError, shown = "";                   // no `shown`: refused with that error
};

const std::string passwordHome = getpwuid(getuid())->pw_dir;

const Place places[] = {
    {"claude", {{"CLAUDE_CONFIG_DIR", ""}}, "/h/.claude/settings.json", "~/.claude/settings.json"},
    {"claude", {{"HOME", nullptr}}, passwordHome + "/.claude/settings.json", "~/.claude/settings.json"},
    {"cursor", {{"HOME", ""}}, passwordHome + "/.cursor/hooks.json", "~/.cursor/hooks.json"},
    {"claude", {{"CLAUDE_CONFIG_DIR", "/c/d"}}, "/c/d/settings.json", "/c/d/settings.json"},
    {"gemini", {{"GEMINI_CLI_HOME", "/g/"}}, "/g/.gemini/settings.json", "/g/.gemini/settings.json"},
    {"codex", {{"CODEX_HOME", "/"}}, "/hooks.json", "/hooks.json"},
    {"codex", {{"CODEX_HOME", "/nonexistent"}},
     "CODEX_HOME names /nonexistent, which is not a folder — Codex needs it to exist: create it, or unset CODEX_HOME."},
    {"gemini", {{"GEMINI_CLI_HOME", "g"}}, "GEMINI_CLI_HOME is \"g\", which is not an absolute path — set it to one, or unset it."},
};

TEST(SettingsLocation, FromTheAgentsVariableOrTheHome) {
  for (const Place& p : places) {
    for (const char* name : {"CLAUDE_CONFIG_DIR", "CODEX_HOME", "GEMINI_CLI_HOME"}) unsetenv(name);
    setenv("HOME", "/h/", 1);
    for (auto [name, value] : p.env) value ? setenv(name, value, 1) : unsetenv(name);
    try {
      SettingsPath where = locate(*hookCommand("install-" + std::string(p.agent) + "-hooks")->agent);
      EXPECT_EQ(where.path + " " + where.shown, p.pathOrError + " " + p.shown);
    } catch (const SettingsError& error) {
      EXPECT_EQ(error.what() + p.shown, p.pathOrError);
    }
  }
}

}  // namespace
