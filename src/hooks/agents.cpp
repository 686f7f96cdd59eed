#include "hooks/agents.h"

namespace tarnel {
namespace {

constexpr std::string_view claudeEvents[] = {"PreToolUse", "UserPromptSubmit"};
constexpr std::string_view codexEvents[] = {"PreToolUse", "UserPromptSubmit"};
constexpr std::string_view geminiEvents[] = {"BeforeTool", "BeforeAgent"};
constexpr std::string_view cursorEvents[] = {"beforeShellExecution", "afterFileEdit", "beforeSubmitPrompt"};
constexpr std::string_view qwenEvents[] = {"PreToolUse", "UserPromptSubmit"};
constexpr std::string_view copilotEvents[] = {"preToolUse", "userPromptSubmitted"};
constexpr std::string_view droidEvents[] = {"PreToolUse", "UserPromptSubmit"};
constexpr std::string_view opencodeEvents[] = {"tool.execute.before", "chat.message"};
constexpr std::string_view clineEvents[] = {"TaskStart", "UserPromptSubmit", "PreToolUse"};
constexpr std::string_view windsurfEvents[] = {"pre_user_prompt", "pre_read_code", "pre_write_code", "pre_run_command",
                                               "pre_mcp_tool_use"};

// Copilot CLI loads every *.json in its hooks folder, and also runs the hooks
// of its settings.json: ours there is mended, and not added twice. Droid runs
// the hooks of its settings.json for each event that its hooks.json has no
// key for. Codex skips a whole file that holds an unknown top-level member:
// nothing but "hooks" is ever written at its top. Cursor and Copilot CLI want
// "version" beside "hooks". Qwen Code puts its environment into every string,
// so a "$" in our path is written so that it does not look like a variable to it.
// Windsurf's Cascade merges the hooks of a system, a user and a workspace
// file; ours go in the user's, whose place no variable moves. Its handlers
// stand in the event lists themselves, each a "command" with no "type"; it has
// a pre-hook for each kind of tool (reading, writing, a command, an MCP tool)
// and one for the prompt, and documents no comments in the file.
//
// What a hook that fails does (`onFailure`), from each agent's hooks
// documentation and, where noted, its CLI: Claude Code, Codex, Cursor, Qwen
// Code, Droid and Windsurf block the tool call or prompt on status 2 and only
// report any other. Gemini CLI documents the same, but 0.61 blocks every
// prompt on 127 too ("Agent execution blocked: …: No such file or
// directory"). Copilot CLI denies the tool call on any failure ("Denied by
// preToolUse hook … (hook errored)"). A program that is gone gives 127 or
// 126, and 2 where the hook names a kernel alias (dash runs "busy" as a
// script), so every agent gets the command that never fails.
//
// OpenCode has no hooks in its settings: it loads every .js and .ts file of
// its plugin folder (1.18 also of plugin/), and a plugin hook that throws
// stops the tool call. Ours is a plugin module of our own that starts the
// program without waiting for it and never throws: a program that is gone
// changes nothing that OpenCode prints or does.
//
// Cline runs each regular file of its hooks folder that is named as a hook
// (3.0 also in any case, with an extension such as .sh), by its #! line, waits
// up to 120 s for it and reads its answer from standard output; it passes
// over any exit status, and only {"cancel": true} stops the task. Ours are
// scripts of our own, named as the hook, that always answer "go on"; one of
// the user's at such a name is never replaced. Its CLI (3.0.65) runs
// PreToolUse and TaskStart but was never seen to run UserPromptSubmit, which
// its documentation lists: ours answers all three.
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
     .comments = true, .trustsByPosition = false, .wantsVersion = false, .onFailure = OnFailure::blocksOn2And127},
    {.word = "cursor", .restartName = "the Cursor agent", .homePath = ".cursor/hooks.json",
     .dirVariable = "", .pathInDir = "", .dirMustExist = false,
     .events = cursorEvents, .layout = Layout::flatEntries, .marker = "",
     .comments = false, .trustsByPosition = false, .wantsVersion = true, .typed = false},
    {.word = "qwen", .restartName = "Qwen Code", .homePath = ".qwen/settings.json",
     .dirVariable = "QWEN_HOME", .pathInDir = "settings.json", .dirMustExist = false,
     .events = qwenEvents, .layout = Layout::hookGroups, .marker = "",
     .comments = true, .trustsByPosition = false, .wantsVersion = false, .expandsVariables = true},
    {.word = "copilot", .restartName = "Copilot CLI", .homePath = ".copilot/hooks/tarnel.json",
     .dirVariable = "COPILOT_HOME", .pathInDir = "hooks/tarnel.json", .dirMustExist = false,
     .events = copilotEvents, .layout = Layout::flatEntries, .marker = "",
     .comments = false, .trustsByPosition = false, .wantsVersion = true, .commandKey = "bash",
     .timeoutSec = 5, .onFailure = OnFailure::deniesAny, .ownFile = true,
     .second = {.sharing = SecondFile::alongside, .homePath = ".copilot/settings.json", .pathInDir = "settings.json",
                .comments = true}},
    {.word = "droid", .restartName = "Droid", .homePath = ".factory/hooks.json",
     .dirVariable = "FACTORY_HOME_OVERRIDE", .pathInDir = ".factory/hooks.json", .dirMustExist = false,
     .events = droidEvents, .layout = Layout::hookGroups, .marker = "",
     .comments = true, .trustsByPosition = false, .wantsVersion = false, .eventsAt = EventsAt::topLevel,
     .second = {.sharing = SecondFile::perEvent, .homePath = ".factory/settings.json",
                .pathInDir = ".factory/settings.json", .comments = true}},
    {.word = "opencode", .restartName = "OpenCode", .homePath = ".config/opencode/plugins/tarnel.js",
     .dirVariable = "XDG_CONFIG_HOME", .pathInDir = "opencode/plugins/tarnel.js", .dirMustExist = false,
     .events = opencodeEvents, .layout = Layout::flatEntries, .marker = "",
     .comments = false, .trustsByPosition = false, .wantsVersion = false, .onFailure = OnFailure::throwBlocks,
     .ownFile = true, .file = HookFile::plugin},
    {.word = "cline", .restartName = "Cline", .homePath = "Documents/Cline/Hooks",
     .dirVariable = "", .pathInDir = "", .dirMustExist = false,
     .events = clineEvents, .layout = Layout::flatEntries, .marker = "",
     .comments = false, .trustsByPosition = false, .wantsVersion = false, .onFailure = OnFailure::answerOnly,
     .ownFile = true, .file = HookFile::script},
    {.word = "windsurf", .restartName = "Windsurf", .homePath = ".codeium/windsurf/hooks.json",
     .dirVariable = "", .pathInDir = "", .dirMustExist = false,
     .events = windsurfEvents, .layout = Layout::flatEntries, .marker = "",
     .comments = false, .trustsByPosition = false, .wantsVersion = false, .typed = false},
};

}  // namespace

const std::span<const Agent> agents = table;

Agent inSecondFile(const Agent& agent) {
  Agent second = agent;
  second.homePath = agent.second.homePath;
  second.pathInDir = agent.second.pathInDir;
  second.comments = agent.second.comments;
  second.wantsVersion = agent.second.wantsVersion;
  second.eventsAt = agent.second.eventsAt;
  second.timeoutSec = agent.second.timeoutSec;
  second.ownFile = false;
  second.second = {};
  return second;
}

Agent forEvent(const Agent& agent, std::size_t event) {
  Agent one = agent;
  one.events = agent.events.subspan(event, 1);
  return one;
}

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
