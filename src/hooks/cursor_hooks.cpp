// Cursor: ~/.cursor/hooks.json, flat entries known by their command text, and
// a "version" member that a writing install supplies when it is missing.
#include "hooks/hook_installers.h"
#include "hooks/settings_store.h"

namespace CursorHooks {
namespace {

constexpr std::string_view events[] = {"beforeShellExecution", "afterFileEdit", "beforeSubmitPrompt"};

}  // namespace

const tarnel::AgentFile agent{
    .relativePath = ".cursor/hooks.json",
    .events = events,
    .layout = tarnel::Layout::flatEntries,
    .isOurs = tarnel::runsOurCommand,
    .ourHandler = [](const std::string& command) { return tarnel::json{{"command", command}}; },
    .installNote = " Restart the Cursor agent to load it.",
    .agentName = "the Cursor agent",
    .uninstallWord = "uninstall-cursor-hooks",
    .notAnObject = [] { return std::make_exception_ptr(CursorHookError::notAnObject()); },
    .onInstall = [](tarnel::json& root) {
      if (!tarnel::member(root, "version")) tarnel::setMember(root, "version", 1);
    },
};

std::string install() { return tarnel::install(agent); }
std::string uninstall() { return tarnel::uninstall(agent); }

}  // namespace CursorHooks

CursorHookError CursorHookError::notAnObject() { return CursorHookError(tarnel::notAnObjectText(CursorHooks::agent)); }
