// The hook commands: install or uninstall our hook in one agent's settings
// files, from finding the files to the message for the user. Planning an
// edit (read, settle, edit in memory) is apart from writing it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "hooks/agents.h"
#include "hooks/hook_command_text.h"
#include "hooks/hook_edit.h"
#include "settings/settings_disk.h"

namespace tarnel {

/// What a hook command did.
struct HookOutcome {
  std::string message;  ///< for standard output, without a final newline
  bool wrote = false;   ///< whether the settings file was changed
  std::size_t removed = 0;  ///< handlers of ours that uninstall took out
  std::string diff;         ///< in a dry run, the unified diff of each file that would change
  std::string note;         ///< the end of `message` that says our own file is deleted; else empty
};

/// A hook command's edit, planned on the file as read and not yet written.
struct HookPlan {
  SettingsPath where;
  std::unique_ptr<SettingsRead> read;  ///< held in place: `text` refers to its bytes
  std::optional<EditedText> text;      ///< the new text; nothing when nothing changes
  std::size_t removed = 0;             ///< handlers of ours that uninstall takes out
  std::vector<std::string_view> added, updated;  ///< the events that install gives our hook, and repoints
  /// The message once `text` is written, told whether a backup exists; or the one for no change.
  std::function<std::string(bool backup)> message;
};

/// A file of the user's, or a link, at the name of a file of our own: only that file's hook is refused.
class NameTaken : public SettingsError {
public:
  using SettingsError::SettingsError;
};

/// Reads the settings file of `command` and plans its edit. A file that reads
/// as empty, or as JSON cut short, may be an editor's save caught between
/// truncating and writing: it is read again after a pause until two reads agree.
/// `addTo` limits the events to which install adds our hook. Throws SettingsError.
HookPlan planHookCommand(const HookCommand& command, const SettingsPath& where, const HookRules& rules, Events addTo,
                         SettingsDisk& disk);

/// Runs `command`: plans, writes, and plans again when another program
/// changed the file meanwhile. A dry run writes nothing: its outcome holds the
/// diff and the message that the real run would give. Throws SettingsError,
/// whose what() is the whole message.
HookOutcome runHookCommand(const HookCommand& command, bool dryRun = false);
/// Runs `command` on `disk`, which does what comes of it: changes files, or
/// (the dry run) shows the changes; then the outcome holds no diff.
HookOutcome runHookCommand(const HookCommand& command, SettingsDisk& disk);

}  // namespace tarnel
