// Codex: ~/.codex/hooks.json, hook groups, our handlers known by their command
// text. Codex skips a whole file with an unknown top-level member, so nothing
// but "hooks" is ever written at the top.
#include "hooks/hook_installers.h"
#include "hooks/settings_store.h"

namespace CodexHooks {
namespace {

constexpr std::string_view events[] = {"PreToolUse", "UserPromptSubmit"};

}  // namespace

const tarnel::AgentFile agent{
    .relativePath = ".codex/hooks.json",
    .events = events,
    .layout = tarnel::Layout::hookGroups,
    .isOurs = tarnel::runsOurCommand,
    .ourHandler = [](const std::string& command) { return tarnel::json{{"type", "command"}, {"command", command}}; },
    .installNote = "\n  IMPORTANT: run /hooks in Codex once to TRUST it — until then it won't fire.",
    .agentName = "Codex",
    .uninstallWord = "uninstall-codex-hooks",
    .notAnObject = [] { return std::make_exception_ptr(CodexHookError::notAnObject()); },
};

std::string install() { return tarnel::install(agent); }
std::string uninstall() { return tarnel::uninstall(agent); }

}  // namespace CodexHooks

CodexHookError CodexHookError::notAnObject() { return CodexHookError(tarnel::notAnObjectText(CodexHooks::agent)); }
