#include "hooks/hook_commands.h"

#include <chrono>
#include <thread>

#include "hooks/settings_location.h"

namespace tarnel {
namespace {

constexpr std::string_view refusal = " — refusing to modify it. Fix it by hand first.";
constexpr std::string_view alreadyInstalled = "Tarnel hooks already installed — nothing to do.";
constexpr std::string_view noneFound = "No Tarnel hooks found.";
/// How often a file that another program keeps changing is read again.
constexpr int retries = 5;
/// A file that may be caught between an editor's truncating and writing is
/// read every `settlePause`; it is taken as it is once `settledReads` reads in
/// a row agree (a quarter of a second), and given up after `settleReads`.
constexpr auto settlePause = std::chrono::milliseconds(50);
constexpr int settledReads = 5, settleReads = 20;

std::string joined(const std::vector<std::string_view>& names) {
  std::string text;
  for (auto name : names) text += (text.empty() ? "" : " + ") + std::string(name);
  return text;
}

/// What install did: the events that got our hook, and those whose hook was repointed.
struct Installed {
  std::vector<std::string_view> added, updated;
};

std::string installMessage(const Agent& agent, const std::string& path, const Installed& edit,
                           const HookRules& rules, bool backup) {
  std::string text;
  if (!edit.added.empty()) text = "✓ Added Tarnel's \"busy\" heartbeat to " + joined(edit.added) + " in\n  " + path;
  if (!edit.updated.empty()) {
    text += text.empty() ? "✓ Updated Tarnel's \"busy\" heartbeat in " : "\n  and updated it in ";
    text += joined(edit.updated) + " to\n  " + rules.program;
    if (edit.added.empty()) text += "\n  in " + path;
  }
  if (backup) text.append("\n  (backup: ").append(path).append(backupSuffix).append(")");
  text += '.';
  if (!agent.trustsByPosition)
    text += " Restart " + std::string(agent.restartName) + " to load it.";
  else if (edit.updated.empty())
    text += "\n  IMPORTANT: run /hooks in " + std::string(agent.restartName) + " once to TRUST it — until then it won't fire.";
  else
    text += "\n  IMPORTANT: run /hooks in " + std::string(agent.restartName) +
            " to TRUST the updated hook again — until then it won't fire.";
  return text + "\n  Undo any time: tarnelctl uninstall-" + std::string(agent.word) + "-hooks";
}

std::string uninstallMessage(const Agent& agent, std::size_t removed, bool movedOthers) {
  std::string text = "✓ Removed Tarnel hooks (" + std::to_string(removed) + "). Restart " +
                     std::string(agent.restartName) + " to apply.";
  if (agent.trustsByPosition && movedOthers)
    text += "\n  Your other hooks in these events moved up, and " + std::string(agent.restartName) +
            " trusts a hook by its place:\n  run /hooks in " + std::string(agent.restartName) +
            " to TRUST them again — until then they won't fire.";
  return text;
}

/// Plans the edit of `planned.read`'s bytes. Throws SettingsError.
void plan(const HookCommand& command, const HookRules& rules, HookPlan& planned) {
  const Agent& agent = *command.agent;
  const std::string path = planned.where.path;
  const auto& text = planned.read->bytes;
  try {
    if (command.verb == Verb::install) {
      InstallEdit edit = installHook(agent, text, rules);
      planned.text = std::move(edit.text);
      planned.message = [&agent, path, rules, done = Installed{edit.added, edit.updated}](bool backup) {
        return installMessage(agent, path, done, rules, backup);
      };
    } else {
      UninstallEdit edit = uninstallHook(agent, text, rules);
      planned.text = std::move(edit.text);
      planned.message = [&agent, removed = edit.removed, moved = edit.movedOthers](bool) {
        return uninstallMessage(agent, removed, moved);
      };
    }
    if (!planned.text)
      planned.message = [none = command.verb == Verb::install ? alreadyInstalled : noneFound](bool) { return std::string(none); };
  } catch (const Refused& refused) {
    throw SettingsError(planned.where.shown + refused.what() + std::string(refusal));
  } catch (const std::domain_error&) {
    throw SettingsError(planned.where.shown + ": this program's path, " + rules.program +
                        ", is not valid UTF-8, which the file cannot hold — move the program to a folder whose name is.");
  }
}

/// Whether `text` is empty or JSON cut short, as a file is while an editor writes it.
bool endsEarly(const std::string& text) {
  try {
    JsonText check(text, Comments::allowed);
    return false;
  } catch (const JsonSyntaxError& error) {
    return error.endsEarly();
  }
}

[[noreturn]] void keptChanging(const SettingsPath& where) {
  throw SettingsError(where.shown + ": another program kept changing it while we were writing — nothing was " +
                      "changed. Try again in a moment.");
}

}  // namespace

HookPlan planHookCommand(const HookCommand& command, const SettingsPath& where, const HookRules& rules) {
  std::optional<std::string> previous;
  timespec changed{};
  for (int reads = 0, alike = 0; reads < settleReads; ++reads) {
    HookPlan planned{where, std::make_unique<SettingsRead>(readSettings(where)), std::nullopt, {}};
    const auto& bytes = planned.read->bytes;
    // Alike: the same bytes, and no write in between.
    timespec now = planned.read->status ? modifiedAt(*planned.read->status) : timespec{};
    bool same = bytes == previous && now.tv_sec == changed.tv_sec && now.tv_nsec == changed.tv_nsec;
    alike = reads > 0 && same ? alike + 1 : 1;
    bool settled = alike >= settledReads;
    changed = now;
    try {
      plan(command, rules, planned);
      if (!bytes || !bytes->empty() || settled) return planned;
    } catch (const SettingsError&) {
      if (settled || !bytes || !endsEarly(*bytes)) throw;
    }
    previous = bytes;
    std::this_thread::sleep_for(settlePause);
  }
  keptChanging(where);
}

HookOutcome runHookCommand(const HookCommand& command) {
  SettingsPath where = locate(*command.agent);
  HookRules rules = runningProgramRules();
  for (int attempt = 0; attempt <= retries; ++attempt) {
    HookPlan planned = planHookCommand(command, where, rules);
    if (!planned.text) return {planned.message(false), false};
    if (replaceSettings(where, *planned.read, planned.text->pieces())) return {planned.message(hasBackup(where)), true};
  }
  keptChanging(where);
}

}  // namespace tarnel
