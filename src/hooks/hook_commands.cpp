#include "hooks/hook_commands.h"

#include <sys/stat.h>

#include <algorithm>
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
/// read every `settlePause`; it is taken as it is once `agreeingReads` reads in
/// a row agree (a quarter of a second), and given up after `maxReads`.
constexpr auto settlePause = std::chrono::milliseconds(50);
constexpr int agreeingReads = 5, maxReads = 20;

std::string listed(const std::vector<std::string_view>& names) {
  std::string text;
  for (auto name : names) text += (text.empty() ? "" : " + ") + std::string(name);
  return text;
}

/// What install did: the events that got our hook, those whose hook was repointed, and those whose hook could fail.
struct Installed {
  std::vector<std::string_view> added, updated, guarded;
};

std::string installMessage(const Agent& agent, const std::string& path, const Installed& edit,
                           const HookRules& rules, bool backup) {
  std::string text;
  if (!edit.added.empty()) text = "✓ Added Tarnel's \"busy\" heartbeat to " + listed(edit.added) + " in\n  " + path;
  if (!edit.updated.empty()) {
    text += text.empty() ? "✓ Updated Tarnel's \"busy\" heartbeat in " : "\n  and updated it in ";
    text += listed(edit.updated) + " to\n  " + rules.program;
  }
  if (!edit.guarded.empty()) {
    text += text.empty() ? "✓ Made Tarnel's \"busy\" heartbeat in " : "\n  and made it in ";
    text += listed(edit.guarded) + " never block " + std::string(agent.restartName);
  }
  if (edit.added.empty()) text += "\n  in " + path;
  if (backup) text.append("\n  (backup: ").append(path).append(backupSuffix).append(")");
  text += '.';
  if (!agent.trustsByPosition)
    text += " Restart " + std::string(agent.restartName) + " to load it.";
  else if (edit.updated.empty() && edit.guarded.empty())
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

/// Plans the edit of `planned.read`'s bytes; install adds to all the agent's events or those of `addTo`. Throws SettingsError.
void planEdit(const HookCommand& command, const HookRules& rules, Events addTo, HookPlan& planned) {
  const Agent& agent = *command.agent;
  const std::string path = planned.where.path;
  const auto& text = planned.read->bytes;
  // A link at the name of a file of our own is the user's, whatever it leads to: never written through
  // (the agent may not even run it), never emptied.
  const bool linked = agent.file != HookFile::settings && isSymbolicLink(path);
  try {
    if (command.verb == Verb::install) {
      if (linked)
        throw Refused(" is a symbolic link, and a file of Tarnel's own is never written through one — remove it, "
                      "then run again.", true);
      InstallEdit edit = installHook(agent, text, rules, addTo);
      planned.text = std::move(edit.text);
      planned.added = edit.added;
      planned.updated = edit.updated;
      planned.message = [&agent, path, rules, done = Installed{edit.added, edit.updated, edit.guarded}](bool backup) {
        return installMessage(agent, path, done, rules, backup);
      };
    } else {
      static const std::optional<std::string> none;
      UninstallEdit edit = uninstallHook(agent, linked ? none : text, rules);  // the edit refers to these bytes
      planned.text = std::move(edit.text);
      planned.removed = edit.removed;
      planned.message = [&agent, removed = edit.removed, moved = edit.movedOthers](bool) {
        return uninstallMessage(agent, removed, moved);
      };
    }
    if (!planned.text)
      planned.message = [none = command.verb == Verb::install ? alreadyInstalled : noneFound](bool) { return std::string(none); };
  } catch (const Refused& refused) {
    if (refused.saysWhatToDo) throw NameTaken(planned.where.shown + refused.what());
    throw SettingsError(planned.where.shown + refused.what() + std::string(refusal));
  } catch (const std::domain_error&) {
    throw SettingsError(planned.where.shown + ": this program's path, " + rules.program +
                        ", is not valid UTF-8, which the file cannot hold — move the program to a folder whose name is.");
  }
}

/// Whether `text` is empty or JSON cut short, as a file is while an editor writes it.
bool endsEarly(const std::string& text) {
  try {
    JsonDoc check(text, Comments::allowed);
    return false;
  } catch (const JsonSyntaxError& error) {
    return error.endsEarly();
  }
}

[[noreturn]] void keptChanging(const SettingsPath& where) {
  throw SettingsError(where.shown + ": another program kept changing it while we were writing — nothing was " +
                      "changed. Try again in a moment.");
}

/// What one run needs beside the command: the rules for our program, and
/// the disk it reads and changes (the dry run only shows the changes).
struct Run {
  HookRules rules;
  SettingsDisk& disk;
};

/// Whether the planned text leaves our own file with nothing else in it: then it is deleted.
bool deletes(const Agent& agent, const HookPlan& planned) {
  struct stat link;  // a link to a file of the user's is not ours to delete
  return agent.ownFile && lstat(planned.where.path.c_str(), &link) == 0 && S_ISREG(link.st_mode) &&
         holdsNothingElse(agent, planned.text->str());
}

/// Writes the planned text, or deletes our own file; false when the file changed meanwhile.
bool carryOut(const Agent& agent, SettingsDisk& disk, const HookPlan& planned, HookOutcome& outcome) {
  const SettingsPath& where = planned.where;
  bool gone = deletes(agent, planned);
  if (!(gone ? disk.remove(where, *planned.read) : disk.replace(where, *planned.read, *planned.text))) return false;
  // The first run over content backs it up; a dry run says what the real run would.
  bool backup = disk.backedUp(where, *planned.read);
  if (gone)
    outcome.note = agent.file == HookFile::settings ? "\n  Nothing else was left in " + where.shown + ", so it is deleted."
                                                    : "\n  Deleted " + where.shown + ".";
  outcome.message = planned.message(backup) + outcome.note;
  return true;
}

/// The whole course on the file of `command`'s agent; install adds to all its events or those of `addTo`.
/// It begins with `first` when that is planned already.
HookOutcome runOnFile(const HookCommand& command, const Run& run, Events addTo = std::nullopt,
                      std::optional<HookPlan> first = std::nullopt) {
  SettingsPath where = locate(*command.agent);
  for (int attempt = 0; attempt <= retries; ++attempt) {
    HookPlan planned = attempt == 0 && first ? std::move(*first) : planHookCommand(command, where, run.rules, addTo, run.disk);
    if (!planned.text) return {planned.message(false), false, 0, "", ""};
    HookOutcome outcome{"", true, planned.removed, "", ""};
    if (carryOut(*command.agent, run.disk, planned, outcome)) return outcome;
  }
  keptChanging(where);
}

// Agents with a second file of hooks.

/// What the file of `agent` holds for each of its events.
std::vector<EventHeld> eventsHeldIn(const Agent& agent, const Run& run) {
  SettingsPath where = locate(agent);
  try {
    return eventsHeld(agent, run.disk.read(where).bytes, run.rules);
  } catch (const Refused& refused) {
    throw SettingsError(where.shown + refused.what() + std::string(refusal));
  }
}

/// Two outcomes as one: the last line that both end with, said once.
HookOutcome merged(HookOutcome first, const HookOutcome& second) {
  if (!second.wrote) return first.wrote ? first : second;
  if (!first.wrote) return second;
  std::string last(1, '\n');
  last += second.message.substr(second.message.rfind('\n') + 1);
  if (first.message.ends_with(last)) first.message.resize(first.message.size() - last.size());
  return {first.message + "\n" + second.message, true, first.removed + second.removed, "", first.note + second.note};
}

/// `done`, the course on the file of `agent`, then `next`; when `next` fails
/// after `done` changed that file, the error says so.
HookOutcome inTurn(const HookOutcome& done, const Agent& agent, const Run& run,
                   const std::function<HookOutcome()>& next) {
  try {
    return merged(done, next());
  } catch (const SettingsError& error) {
    if (!done.wrote || run.disk.dryRun()) throw;
    throw SettingsError(error.what() + ("\n  " + locate(agent).shown) + " was changed all the same: " + done.message);
  }
}

/// Uninstall from both files of an agent, the second first: for Droid, so
/// that no event list goes from hooks.json while ours in settings.json stays.
/// Each file runs its own course, read again and replaced only if unchanged.
/// Copilot CLI's settings.json, when it cannot read it either, runs nothing
/// of ours: it is left as it is, as install leaves it.
HookOutcome uninstallBoth(const HookCommand& command, const Run& run) {
  const Agent &first = *command.agent, second = inSecondFile(first);
  bool readable = true;
  try {
    eventsHeldIn(second, run);
  } catch (const SettingsError&) {
    if (first.second.sharing != SecondFile::alongside) throw;
    readable = false;
  }
  HookOutcome fromSecond = readable ? runOnFile({Verb::uninstall, &second}, run) : HookOutcome{"", false, 0, "", ""};
  HookOutcome both = inTurn(fromSecond, second, run, [&] { return runOnFile(command, run); });
  if (both.wrote) both.message = uninstallMessage(first, both.removed, false) + both.note;
  return both;
}

/// Droid: an event's hooks come from hooks.json when it has a key for the
/// event, else from settings.json. Ours goes where the user's hooks for that
/// event already are; ours in either file is mended.
HookOutcome runPerEvent(const HookCommand& command, const Run& run) {
  const Agent &first = *command.agent, second = inSecondFile(first);
  auto inFirst = eventsHeldIn(first, run), inSecond = eventsHeldIn(second, run);
  std::vector<std::string_view> toFirst, toSecond;
  for (std::size_t e = 0; e < first.events.size(); ++e)
    (!inFirst[e].listed && inSecond[e].listed ? toSecond : toFirst).push_back(first.events[e]);
  return inTurn(runOnFile({Verb::install, &second}, run, toSecond), second, run,
                [&] { return runOnFile(command, run, toFirst); });
}

/// Copilot CLI runs the hooks of its settings.json beside those of our file:
/// ours there is mended, and an event that runs it gets no second one. Where
/// settings.json cannot be changed, an event whose hook there fails gets one
/// in our file.
HookOutcome runAlongside(const HookCommand& command, const Run& run) {
  const Agent second = inSecondFile(*command.agent);
  std::vector<EventHeld> there(second.events.size());
  try {
    there = eventsHeldIn(second, run);
  } catch (const SettingsError&) {
    // a file the agent cannot read either runs nothing of ours
  }
  HookOutcome mended{"", false, 0, "", ""};
  std::string unchanged;
  if (std::any_of(there.begin(), there.end(), [](const EventHeld& e) { return e.ours; })) {
    try {
      mended = runOnFile({Verb::install, &second}, run, Events(std::span<const std::string_view>()));
      for (EventHeld& event : there) event.live = event.ours;
    } catch (const SettingsError& error) {
      unchanged = "\n  " + std::string(error.what());
    }
  }
  std::vector<std::string_view> missing, elsewhere;
  for (std::size_t e = 0; e < there.size(); ++e) (there[e].live ? elsewhere : missing).push_back(second.events[e]);
  std::string note = locate(second).shown + " already runs Tarnel's \"busy\" heartbeat for " + listed(elsewhere);
  return inTurn(mended, second, run, [&] {
    HookOutcome outcome = missing.empty() ? HookOutcome{note + " — nothing to do.", false, 0, "", ""}
                                          : runOnFile(command, run, missing);
    if (!missing.empty() && !elsewhere.empty()) outcome.message += "\n  " + note + ": not added twice.";
    outcome.message += unchanged;
    return outcome;
  });
}

/// Cline: a script of ours for each event, each on its own course. All are
/// planned and checked before any is written; a file of the user's at an
/// event's name keeps ours from that event alone, and the command then fails
/// saying what was done all the same.
HookOutcome runEventFiles(const HookCommand& command, const Run& run) {
  const Agent& agent = *command.agent;
  std::vector<Agent> files;
  for (std::size_t e = 0; e < agent.events.size(); ++e) files.push_back(forEvent(agent, e));
  std::vector<std::optional<HookPlan>> plans;
  std::string taken;
  for (const Agent& file : files) {
    try {
      HookPlan& plan = plans.emplace_back(planHookCommand({command.verb, &file}, locate(file), run.rules, std::nullopt, run.disk)).value();
      if (plan.text) checkChange(plan.where, *plan.read, plan.text->str().size(), deletes(file, plan));
    } catch (const NameTaken& error) {
      plans.emplace_back();
      taken += (taken.empty() ? "" : "\n") + std::string(error.what());
    }
  }
  HookOutcome done{"", false, 0, "", ""};
  Installed installed;
  std::string changed;  // the files written so far
  for (std::size_t e = 0; e < files.size(); ++e) {
    if (!plans[e]) continue;
    installed.added.insert(installed.added.end(), plans[e]->added.begin(), plans[e]->added.end());
    installed.updated.insert(installed.updated.end(), plans[e]->updated.begin(), plans[e]->updated.end());
    const std::string shown = plans[e]->where.shown;
    try {
      HookOutcome one = runOnFile({command.verb, &files[e]}, run, std::nullopt, std::move(plans[e]));
      if (one.wrote) changed += (changed.empty() ? "" : ", ") + shown;
      done = {"", done.wrote || one.wrote, done.removed + one.removed, "", done.note + one.note};
    } catch (const SettingsError& error) {
      if (changed.empty() || run.disk.dryRun()) throw;
      throw SettingsError(error.what() + ("\n  Changed all the same: " + changed + "."));
    }
  }
  const std::string first = locate(agent).path, folder = first.substr(0, first.rfind('/'));
  if (command.verb == Verb::uninstall) done.message = done.wrote ? uninstallMessage(agent, done.removed, false) + done.note : std::string(noneFound);
  else done.message = done.wrote ? installMessage(agent, folder, installed, run.rules, false) : std::string(alreadyInstalled);
  if (!taken.empty())
    throw SettingsError(taken + (done.wrote && !run.disk.dryRun() ? "\n  The others were done all the same: " + done.message : ""));
  return done;
}

}  // namespace

HookPlan planHookCommand(const HookCommand& command, const SettingsPath& where, const HookRules& rules,
                         Events addTo, SettingsDisk& disk) {
  std::optional<std::string> previous;
  timespec changed{};
  for (int reads = 0, alike = 0; reads < maxReads; ++reads) {
    HookPlan planned{where, std::make_unique<SettingsRead>(disk.read(where)), std::nullopt, 0, {}, {}, {}};
    const auto& bytes = planned.read->bytes;
    // Alike: the same bytes, and no write in between.
    timespec now = planned.read->status ? modifiedAt(*planned.read->status) : timespec{};
    bool same = bytes == previous && now.tv_sec == changed.tv_sec && now.tv_nsec == changed.tv_nsec;
    alike = reads > 0 && same ? alike + 1 : 1;
    bool settled = alike >= agreeingReads;
    changed = now;
    try {
      planEdit(command, rules, addTo, planned);
      if (!bytes || !bytes->empty() || settled) return planned;
    } catch (const SettingsError&) {
      if (settled || !bytes || !endsEarly(*bytes)) throw;
    }
    previous = bytes;
    std::this_thread::sleep_for(settlePause);
  }
  keptChanging(where);
}

HookOutcome runHookCommand(const HookCommand& command, bool dryRun) {
  RealDisk real;
  DryRun dry;
  HookOutcome outcome = runHookCommand(command, dryRun ? static_cast<SettingsDisk&>(dry) : real);
  outcome.diff = dry.diff();
  return outcome;
}

HookOutcome runHookCommand(const HookCommand& command, SettingsDisk& disk) {
  Run run{runningProgramRules(), disk};
  if (command.agent->file == HookFile::script) return runEventFiles(command, run);
  if (command.agent->second.sharing != SecondFile::none && command.verb == Verb::uninstall)
    return uninstallBoth(command, run);
  switch (command.agent->second.sharing) {
    case SecondFile::perEvent: return runPerEvent(command, run);
    case SecondFile::alongside: return runAlongside(command, run);
    case SecondFile::none: break;
  }
  return runOnFile(command, run);
}

}  // namespace tarnel
