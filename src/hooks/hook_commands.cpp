#include "hooks/hook_commands.h"

#include "hooks/hook_edit.h"
#include "hooks/settings_location.h"
#include "hooks/unified_diff.h"
#include "settings/settings_file.h"

#include <sys/stat.h>

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
                                std::optional<EditedText>& changed, std::span<const std::string_view> only) {
  const Agent& agent = *command.agent;
  try {
    if (command.verb == Verb::install) {
      InstallEdit edit = installHook(agent, text, rules, only);
      if (!edit.text) return std::nullopt;
      changed = std::move(edit.text);
      return HookOutcome{installMessage(agent, where.path, edit, rules), true};
    }
    UninstallEdit edit = uninstallHook(agent, text, rules);
    if (!edit.text) return std::nullopt;
    changed = std::move(edit.text);
    return HookOutcome{uninstallMessage(agent, edit), true, edit.removed};
  } catch (const Refused& refused) {
    throw SettingsError(where.shown + refused.what() + std::string(refusal));
  } catch (const std::domain_error&) {
    throw SettingsError(where.shown + ": this program's path, " + rules.program +
                        ", is not valid UTF-8, which the file cannot hold — move the program to a folder whose name is.");
  }
}

bool store(const Agent& agent, const SettingsPath& where, const SettingsRead& read, const EditedText& text,
           HookOutcome& outcome);

/// The whole course on the file of `command`'s agent, for all its events or those of `only`.
HookOutcome runOnFile(const HookCommand& command, const HookRules& rules, std::span<const std::string_view> only = {}) {
  SettingsPath where = locate(*command.agent);
  for (int attempt = 0; attempt <= retries; ++attempt) {
    SettingsRead read = readSettings(where);
    std::optional<EditedText> changed;
    auto outcome = edit(command, where, read.bytes, rules, changed, only);
    if (!outcome) return {std::string(command.verb == Verb::install ? alreadyInstalled : noneFound), false};
    if (store(*command.agent, where, read, *changed, *outcome)) return *outcome;
  }
  throw SettingsError(where.shown + ": another program kept changing it while we were writing — nothing was " +
                      "changed. Try again in a moment.");
}

// Agents with a second file of hooks.

/// Replaces the file with `text`; our own file, once nothing else is left in it, is deleted instead.
bool store(const Agent& agent, const SettingsPath& where, const SettingsRead& read, const EditedText& text,
           HookOutcome& outcome) {
  struct stat link;  // a link to a file of the user's is not ours to delete
  bool deletable = agent.ownFile && lstat(where.path.c_str(), &link) == 0 && S_ISREG(link.st_mode) &&
                   holdsNothingElse(agent, text.str());
  if (!deletable) return replaceSettings(where, read, text.pieces());
  if (!removeSettings(where, read)) return false;
  outcome.message += "\n  Nothing else was left in " + where.shown + ", so it is deleted.";
  return true;
}

/// What the file of `agent` holds for each of its events.
std::vector<EventHeld> held(const Agent& agent, const HookRules& rules) {
  SettingsPath where = locate(agent);
  try {
    return eventsHeld(agent, readSettings(where).bytes, rules);
  } catch (const Refused& refused) {
    throw SettingsError(where.shown + refused.what() + std::string(refusal));
  }
}

/// Two outcomes as one: the last line that both end with, said once.
HookOutcome joined(HookOutcome first, const HookOutcome& second) {
  if (!second.wrote) return first.wrote ? first : second;
  if (!first.wrote) return second;
  std::string last(1, '\n');
  last += second.message.substr(second.message.rfind('\n') + 1);
  if (first.message.ends_with(last)) first.message.resize(first.message.size() - last.size());
  return {first.message + "\n" + second.message, true, first.removed + second.removed};
}

/// Droid: an event's hooks come from hooks.json when it has a key for the
/// event, else from settings.json. Ours goes where the user's hooks for that
/// event already are; uninstall takes it out of both. Each file then runs its
/// own course, read again and replaced only if unchanged.
HookOutcome runPerEvent(const HookCommand& command, const HookRules& rules) {
  const Agent &first = *command.agent, &second = *first.second;
  if (command.verb == Verb::uninstall) {
    HookOutcome both = joined(runOnFile({Verb::uninstall, &second}, rules), runOnFile(command, rules));
    return both.wrote ? HookOutcome{uninstallMessage(first, {std::nullopt, both.removed}), true, both.removed} : both;
  }
  auto inFirst = held(first, rules), inSecond = held(second, rules);
  std::vector<std::string_view> toFirst, toSecond;
  for (std::size_t e = 0; e < first.events.size(); ++e)
    (!inFirst[e].listed && inSecond[e].listed ? toSecond : toFirst).push_back(first.events[e]);
  HookOutcome none{std::string(alreadyInstalled), false};
  return joined(toSecond.empty() ? none : runOnFile({Verb::install, &second}, rules, toSecond),
                toFirst.empty() ? none : runOnFile(command, rules, toFirst));
}

/// Copilot CLI runs the hooks of its settings.json beside those of our file:
/// an event whose hook of ours is there already does not get a second one.
HookOutcome runAlongside(const HookCommand& command, const HookRules& rules) {
  const Agent& second = *command.agent->second;
  std::vector<EventHeld> there(second.events.size());
  try {
    there = held(second, rules);
  } catch (const SettingsError&) {
    // a file the agent cannot read either runs nothing of ours
  }
  std::vector<std::string_view> missing, elsewhere;
  for (std::size_t e = 0; e < there.size(); ++e) (there[e].ours ? elsewhere : missing).push_back(second.events[e]);
  std::string note = locate(second).shown + " already runs Tarnel's \"busy\" heartbeat for " + joined(elsewhere);
  if (command.verb == Verb::uninstall) {
    HookOutcome outcome = runOnFile(command, rules);
    if (!elsewhere.empty()) outcome.message += "\n  " + note + ": yours, left as it is.";
    return outcome;
  }
  if (missing.empty()) return {note + " — nothing to do.", false};
  HookOutcome outcome = runOnFile(command, rules, missing);
  if (!elsewhere.empty()) outcome.message += "\n  " + note + ": not added twice.";
  return outcome;
}

}  // namespace

HookOutcome runHookCommand(const HookCommand& command) {
  HookRules rules = runningProgramRules();
  switch (command.agent->secondFile) {
    case SecondFile::perEvent: return runPerEvent(command, rules);
    case SecondFile::alongside: return runAlongside(command, rules);
    case SecondFile::none: break;
  }
  return runOnFile(command, rules);
}

HookPreview previewHookCommand(const HookCommand& command) {
  SettingsPath where = locate(*command.agent);
  HookRules rules = runningProgramRules();
  SettingsRead read = readSettings(where);
  std::optional<EditedText> changed;
  auto outcome = edit(command, where, read.bytes, rules, changed, {});
  if (!outcome) return {"", {std::string(command.verb == Verb::install ? alreadyInstalled : noneFound), false}};
  return {unifiedDiff(*changed, read.bytes ? where.path : "/dev/null", where.path), *outcome};
}

}  // namespace tarnel
