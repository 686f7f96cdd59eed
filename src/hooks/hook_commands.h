// The hook commands: install or uninstall our hook in one agent's settings
// file, from finding the file to the message for the user. Planning the edit
// (read, settle, edit in memory) is apart from writing it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "hooks/agents.h"
#include "hooks/hook_command_text.h"
#include "hooks/hook_edit.h"
#include "settings/settings_file.h"

namespace tarnel {

/// What a hook command did.
struct HookOutcome {
  std::string message;  ///< for standard output, without a final newline
  bool wrote = false;   ///< whether the settings file was changed
};

/// A hook command's edit, planned on the file as read and not yet written.
struct HookPlan {
  SettingsPath where;
  std::unique_ptr<SettingsRead> read;  ///< held in place: `text` refers to its bytes
  std::optional<EditedText> text;      ///< the new text; nothing when nothing changes
  /// The message once `text` is written, told whether a backup exists; or the one for no change.
  std::function<std::string(bool backup)> message;
};

/// Reads the settings file of `command` and plans its edit. A file that reads
/// as empty, or as JSON cut short, may be an editor's save caught between
/// truncating and writing: it is read again after a pause until two reads agree.
/// Throws SettingsError.
HookPlan planHookCommand(const HookCommand& command, const SettingsPath& where, const HookRules& rules);

/// Runs `command`: plans, writes, and plans again when another program
/// changed the file meanwhile. Throws SettingsError, whose what() is the whole message.
HookOutcome runHookCommand(const HookCommand& command);

}  // namespace tarnel
