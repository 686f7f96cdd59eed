// The hook commands: install or uninstall our hook in one agent's settings
// files, from finding the files to the message for the user.
#pragma once

#include <string>

#include "hooks/agents.h"

namespace tarnel {

/// What a hook command did.
struct HookOutcome {
  std::string message;  ///< for standard output, without a final newline
  bool wrote = false;   ///< whether the settings file was changed
  std::size_t removed = 0;  ///< handlers of ours that uninstall took out
};

/// Runs `command`. Throws SettingsError, whose what() is the whole message.
HookOutcome runHookCommand(const HookCommand& command);

/// What running `command` would do, worked out without writing anything.
struct HookPreview {
  std::string diff;     ///< the settings file's unified diff; empty when nothing would change
  HookOutcome outcome;  ///< what the run would print, and whether it would write
};

/// Reads the settings file of `command` and edits it in memory only. Throws as runHookCommand does.
HookPreview previewHookCommand(const HookCommand& command);

}  // namespace tarnel
