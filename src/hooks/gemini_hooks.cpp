// Gemini CLI: ~/.gemini/settings.json, hook groups, our handlers named "tarnel".
#include "hooks/hook_installers.h"
#include "hooks/settings_store.h"

namespace GeminiHooks {
namespace {

constexpr std::string_view events[] = {"BeforeTool", "BeforeAgent"};

}  // namespace

const tarnel::AgentFile agent{
    .relativePath = ".gemini/settings.json",
    .events = events,
    .layout = tarnel::Layout::hookGroups,
    .isOurs = [](const tarnel::json& handler) { return tarnel::hasMarker(handler, "name"); },
    .ourHandler = [](const std::string& command) {
      return tarnel::json{{"type", "command"}, {"command", command}, {"name", "tarnel"}};
    },
    .installNote = " Restart Gemini CLI to load it.",
    .agentName = "Gemini CLI",
    .uninstallWord = "uninstall-gemini-hooks",
    .notAnObject = [] { return std::make_exception_ptr(GeminiHookError::notAnObject()); },
};

std::string install() { return tarnel::install(agent); }
std::string uninstall() { return tarnel::uninstall(agent); }

}  // namespace GeminiHooks

GeminiHookError GeminiHookError::notAnObject() { return GeminiHookError(tarnel::notAnObjectText(GeminiHooks::agent)); }
