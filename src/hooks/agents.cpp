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
    {.word = "claude", .restartName = "Claude Code", .homePath = ".claude/settings.json",
     .dirVariable = "CLAUDE_CONFIG_DIR", .pathInDir = "settings.json", .dirMustExist = false,
     .events = claudeEvents, .layout = Layout::hookGroups, .marker = "_origin",
     .comments = false, .trustsByPosition = false, .wantsVersion = false},
    {.word = "codex", .restartName = "Codex", .homePath = ".codex/hooks.json",
     .dirVariable = "CODEX_HOME", .pathInDir = "hooks.json", .dirMustExist = true,
     .events = codexEvents, .layout = Layout::hookGroups, .marker = "",
     .comments = false, .trustsByPosition = true, .wantsVersion = false},
    {.word = "gemini", .restartName = "Gemini CLI", .homePath = ".gemini/settings.json",
     .dirVariable = "GEMINI_CLI_HOME", .pathInDir = ".gemini/settings.json", .dirMustExist = false,
     .events = geminiEvents, .layout = Layout::hookGroups, .marker = "name",
     .comments = true, .trustsByPosition = false, .wantsVersion = false},
    {.word = "cursor", .restartName = "the Cursor agent", .homePath = ".cursor/hooks.json",
     .dirVariable = "", .pathInDir = "", .dirMustExist = false,
     .events = cursorEvents, .layout = Layout::flatEntries, .marker = "",
     .comments = false, .trustsByPosition = false, .wantsVersion = true},
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
