// Hook files wholly of our making: OpenCode's plugin module and Cline's hook
// scripts. Each is the text that `ourScript` makes for one program, and a file
// is ours only when it is exactly such a text: a file of the user's at that
// name is never replaced, and never deleted.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hooks/hook_edit.h"

namespace tarnel {

/// The whole text of `agent`'s hook file that runs "<program> busy".
std::string ourScript(const Agent& agent, const std::string& program);

/// The program that `text` runs, when `text` is exactly `ourScript` of `agent` for one.
std::optional<std::string> scriptProgram(const Agent& agent, std::string_view text);

/// Writes our file where there is none (or an empty one); points ours at
/// this program when its program is gone. Throws Refused for a file of the user's.
InstallEdit installScript(const Agent& agent, const std::optional<std::string>& original, const HookRules& rules);
/// Empties a file of ours, for it to be deleted; leaves any other file.
UninstallEdit uninstallScript(const Agent& agent, const std::optional<std::string>& original);
/// The hooks that a file of ours runs, one for each of the agent's events.
std::vector<FoundHook> scriptHooks(const Agent& agent, const std::optional<std::string>& original);

}  // namespace tarnel
