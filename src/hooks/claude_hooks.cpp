// Claude Code: ~/.claude/settings.json, hook groups, our handlers marked "_origin": "tarnel".
#include "hooks/hook_installers.h"
#include "hooks/settings_store.h"

namespace ClaudeHooks {
namespace {

constexpr std::string_view events[] = {"PreToolUse", "UserPromptSubmit"};

}  // namespace

const tarnel::AgentFile agent{
    .relativePath = ".claude/settings.json",
    .events = events,
    .layout = tarnel::Layout::hookGroups,
    .isOurs = [](const tarnel::json& handler) { return tarnel::hasMarker(handler, "_origin"); },
    .ourHandler = [](const std::string& command) {
      return tarnel::json{{"type", "command"}, {"command", command}, {"_origin", "tarnel"}};
    },
    .installNote = " Restart Claude Code to load it.",
    .agentName = "Claude Code",
    .uninstallWord = "uninstall-claude-hooks",
    .notAnObject = [] { return std::make_exception_ptr(HookError::notAnObject()); },
};

std::string install() { return tarnel::install(agent); }
std::string uninstall() { return tarnel::uninstall(agent); }

}  // namespace ClaudeHooks

HookError HookError::notAnObject() { return HookError(tarnel::notAnObjectText(ClaudeHooks::agent)); }
