#include "hooks/agents.h"

namespace tarnel {
namespace {

constexpr std::string_view claudeEvents[] = {"PreToolUse", "UserPromptSubmit"};
constexpr std::string_view codexEvents[] = {"PreToolUse", "UserPromptSubmit"};
constexpr std::string_view geminiEvents[] = {"BeforeTool", "BeforeAgent"};
constexpr std::string_view cursorEvents[] = {"beforeShellExecution", "afterFileEdit", "beforeSubmitPrompt"};

// Codex skips a whole file that holds an unknown top-level member: nothing but
// "hooks" is ever written at its top. Cursor wants "version" beside "hooks".
constexpr Agent table[] = {
    // word     restartName          homePath                 dirVariable        pathInDir                mustExist
    {"claude", "Claude Code",      ".claude/settings.json", "CLAUDE_CONFIG_DIR", "settings.json",         false,
     claudeEvents, Layout::hookGroups, "_origin", false, false, false},
    {"codex",  "Codex",            ".codex/hooks.json",     "CODEX_HOME",        "hooks.json",            true,
     codexEvents, Layout::hookGroups, "", false, true, false},
    {"gemini", "Gemini CLI",       ".gemini/settings.json", "GEMINI_CLI_HOME",   ".gemini/settings.json", false,
     geminiEvents, Layout::hookGroups, "name", true, false, false},
    {"cursor", "the Cursor agent", ".cursor/hooks.json",    "",                  "",                      false,
     cursorEvents, Layout::flatEntries, "", false, false, true},
};

}  // namespace

const std::span<const Agent> agents = table;

std::optional<HookCommand> hookCommand(std::string_view word) {
  constexpr std::string_view install = "install-", uninstall = "uninstall-", suffix = "-hooks";
  Verb verb = word.starts_with(install) ? Verb::install : Verb::uninstall;
  std::string_view prefix = verb == Verb::install ? install : uninstall;
  if (!word.starts_with(prefix) || !word.ends_with(suffix) || word.size() < prefix.size() + suffix.size())
    return std::nullopt;
  word = word.substr(prefix.size(), word.size() - prefix.size() - suffix.size());
  for (const Agent& agent : agents)
    if (word == agent.word) return HookCommand{verb, &agent};
  return std::nullopt;
}

}  // namespace tarnel
