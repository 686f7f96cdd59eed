// Where an agent's settings file lies: below the folder that the agent's own
// variable names, or below the user's home directory.
#pragma once

#include <string>

#include "hooks/agents.h"
#include "settings/settings_file.h"

namespace tarnel {

/// The home directory, from HOME. Throws SettingsError when HOME is unset,
/// empty, not an absolute path or no existing folder; the message suggests
/// `variable` (an agent's own folder variable) when there is one.
std::string homeDirectory(std::string_view variable = "");

/// The agent's settings file; for an agent of hook scripts, the script of
/// its first event (see forEvent). Throws SettingsError when the agent's variable
/// is set to a path that is not absolute, or to a folder that the agent needs
/// and that does not exist, or when it is not set and the home is bad.
SettingsPath locate(const Agent& agent);

}  // namespace tarnel
