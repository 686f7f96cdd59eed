// Where an agent's settings file lies: below the folder that the agent's own
// variable names, or below the user's home directory.
#pragma once

#include <string>

#include "hooks/agents.h"
#include "settings/settings_file.h"

namespace tarnel {

/// "HOME", else the user's entry in the password database; an empty value counts as none.
std::string homeDirectory();

/// The agent's settings file. Throws SettingsError when the agent's variable
/// is set to a path that is not absolute, or to a folder that the agent needs
/// and that does not exist.
SettingsPath locate(const Agent& agent);

}  // namespace tarnel
