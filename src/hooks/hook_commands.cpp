#include "hooks/hook_commands.h"

#include "hooks/hook_edit.h"
#include "hooks/settings_location.h"
#include "hooks/unified_diff.h"
#include "settings/settings_file.h"

namespace tarnel {
namespace {

constexpr std::string_view refusal = " — refusing to modify it. Fix it by hand first.";
constexpr std::string_view alreadyInstalled = "Tarnel hooks already installed — nothing to do.";
constexpr std::string_view noneFound = "No Tarnel hooks found.";
/// How often a file that another program keeps changing is read again.
constexpr int retries = 3;

std::string joined(const std::vector<std::string_view>& names) {
  std::string text;
  for (auto name : names) text += (text.empty() ? "" : " + ") + std::string(name);
  return text;
}

std::string installMessage(const Agent& agent, const std::string& path, const InstallEdit& edit,
                           const HookRules& rules) {
  std::string text;
  if (!edit.added.empty()) text = "✓ Added Tarnel's \"busy\" heartbeat to " + joined(edit.added) + " in\n  " + path;
  if (!edit.updated.empty()) {
    text += text.empty() ? "✓ Updated Tarnel's \"busy\" heartbeat in " : "\n  and updated it in ";
    text += joined(edit.updated) + " to\n  " + rules.program;
    if (edit.added.empty()) text += "\n  in " + path;
  }
  text += "\n  (backup: " + path + std::string(backupSuffix) + ").";
  if (!agent.trustsByPosition)
    text += " Restart " + std::string(agent.restartName) + " to load it.";
  else if (edit.updated.empty())
    text += "\n  IMPORTANT: run /hooks in " + std::string(agent.restartName) + " once to TRUST it — until then it won't fire.";
  else
    text += "\n  IMPORTANT: run /hooks in " + std::string(agent.restartName) +
            " to TRUST the updated hook again — until then it won't fire.";
  return text + "\n  Undo any time: tarnelctl uninstall-" + std::string(agent.word) + "-hooks";
}

std::string uninstallMessage(const Agent& agent, const UninstallEdit& edit) {
  std::string text = "✓ Removed Tarnel hooks (" + std::to_string(edit.removed) + "). Restart " +
                     std::string(agent.restartName) + " to apply.";
  if (agent.trustsByPosition && edit.movedOthers)
    text += "\n  Your other hooks in these events moved up, and " + std::string(agent.restartName) +
            " trusts a hook by its place:\n  run /hooks in " + std::string(agent.restartName) +
            " to TRUST them again — until then they won't fire.";
  return text;
}

/// The message for the new text of the settings, which goes to `changed`; nothing when nothing changes.
std::optional<HookOutcome> edit(const HookCommand& command, const SettingsPath& where,
                                const std::optional<std::string>& text, const HookRules& rules,
                                std::optional<EditedText>& changed) {
  const Agent& agent = *command.agent;
  try {
    if (command.verb == Verb::install) {
      InstallEdit edit = installHook(agent, text, rules);
      if (!edit.text) return std::nullopt;
      changed = std::move(edit.text);
      return HookOutcome{installMessage(agent, where.path, edit, rules), true};
    }
    UninstallEdit edit = uninstallHook(agent, text, rules);
    if (!edit.text) return std::nullopt;
    changed = std::move(edit.text);
    return HookOutcome{uninstallMessage(agent, edit), true};
  } catch (const Refused& refused) {
    throw SettingsError(where.shown + refused.what() + std::string(refusal));
  } catch (const std::domain_error&) {
    throw SettingsError(where.shown + ": this program's path, " + rules.program +
                        ", is not valid UTF-8, which the file cannot hold — move the program to a folder whose name is.");
  }
}

}  // namespace

HookOutcome runHookCommand(const HookCommand& command) {
  SettingsPath where = locate(*command.agent);
  HookRules rules = runningProgramRules();
  for (int attempt = 0; attempt <= retries; ++attempt) {
    SettingsRead read = readSettings(where);
    std::optional<EditedText> changed;
    auto outcome = edit(command, where, read.bytes, rules, changed);
    if (!outcome) return {std::string(command.verb == Verb::install ? alreadyInstalled : noneFound), false};
    if (replaceSettings(where, read, changed->pieces())) return *outcome;
  }
  throw SettingsError(where.shown + ": another program kept changing it while we were writing — nothing was " +
                      "changed. Try again in a moment.");
}

HookPreview previewHookCommand(const HookCommand& command) {
  SettingsPath where = locate(*command.agent);
  HookRules rules = runningProgramRules();
  SettingsRead read = readSettings(where);
  std::optional<EditedText> changed;
  auto outcome = edit(command, where, read.bytes, rules, changed);
  if (!outcome) return {"", {std::string(command.verb == Verb::install ? alreadyInstalled : noneFound), false}};
  return {unifiedDiff(*changed, read.bytes ? where.path : "/dev/null", where.path), *outcome};
}

}  // namespace tarnel
