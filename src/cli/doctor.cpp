#include "cli/doctor.h"

#include <algorithm>

#include "cli/version.h"
#include "hooks/agents.h"
#include "hooks/hook_edit.h"
#include "hooks/settings_location.h"

namespace {

using namespace tarnel;

/// How a line is marked: works, does not work (the status becomes 1), worth a look, nothing to say.
enum class Mark { good, bad, warn, none };

class Report {
public:
  explicit Report(bool colour) : colour_(colour) {
    width_ = std::string_view("backup").size();
    for (const Agent& agent : agents)
      for (std::string_view event : agent.events) width_ = std::max(width_, event.size());
    width_ += 2;
  }

  void heading(const std::string& text) { text_ += text + "\n"; }

  /// A line under the heading: its mark, a label in the first column, the text.
  void line(Mark mark, std::string_view label, const std::string& text) {
    static constexpr std::string_view plain[] = {"✓", "✗", "!", " "},
                                      coloured[] = {"\033[32m✓\033[0m", "\033[31m✗\033[0m", "\033[33m!\033[0m", " "};
    text_ += "  ";
    text_ += (colour_ ? coloured : plain)[static_cast<std::size_t>(mark)];
    text_ += ' ';
    if (!label.empty()) text_.append(label).append(width_ - std::min(width_, label.size()), ' ');
    text_ += text;
    text_ += '\n';
    if (mark == Mark::bad) status_ = 1;
  }

  DoctorReport done() {
    text_.pop_back();
    return {std::move(text_), status_};
  }

private:
  bool colour_;
  std::size_t width_;
  std::string text_;
  int status_ = 0;
};

/// Whether `agent` blocks what `hook` guards while its program is gone: only
/// the command of an earlier version, without `neverFails`, can fail.
bool blocksAgent(const Agent& agent, const FoundHook& hook) {
  if (!hook.program || hook.command.ends_with(neverFails)) return false;
  auto statuses = goneStatuses(*hook.program);
  return std::any_of(statuses.begin(), statuses.end(), [&](int status) { return blocks(agent.onFailure, status); });
}

void checkHook(Report& report, const Agent& agent, const FoundHook& hook, const HookRules& rules) {
  bool urgent = blocksAgent(agent, hook);
  if (!hook.program)
    report.line(Mark::warn, hook.event, "runs \"" + hook.command + "\", which is not \"<program> busy\"");
  else if (rules.isRunning(*hook.program))
    report.line(Mark::good, hook.event, "this program");
  else if (rules.isGone(*hook.program))
    report.line(Mark::bad, hook.event,
                (urgent ? "URGENT: " : "") + *hook.program + " is gone — " +
                    (urgent ? std::string(agent.restartName) + " blocks on this hook while it fails; " : "") +
                    "tarnelctl install-" + std::string(agent.word) + "-hooks points it at this program");
  else if (hook.program->starts_with('/'))
    report.line(Mark::good, hook.event, "another build: " + *hook.program);
  else
    report.line(Mark::good, hook.event, *hook.program + ", as the agent finds it on its PATH");
}

void checkAgent(Report& report, const Agent& agent, const HookRules& rules) {
  std::string name(agent.word);
  SettingsPath where;
  try {
    where = locate(agent);
  } catch (const SettingsError& error) {
    // Said under the agent's name, the program's own name before it is noise.
    std::string_view what = error.what();
    if (what.starts_with("tarnelctl: ")) what.remove_prefix(std::string_view("tarnelctl: ").size());
    report.heading(name + ":");
    return report.line(Mark::bad, "", std::string(what));
  }
  report.heading(name + ": " + where.shown);
  std::vector<FoundHook> hooks;
  try {
    SettingsRead read = readSettings(where);
    if (!read.bytes) return report.line(Mark::none, "", "no file, no hook installed");
    hooks = ourHooks(agent, read.bytes, rules);
  } catch (const SettingsError& error) {
    return report.line(Mark::bad, "", error.what());
  } catch (const Refused& refused) {
    return report.line(Mark::bad, "", where.shown + refused.what());
  }
  if (hooks.empty()) report.line(Mark::none, "", "no hook installed");
  for (const FoundHook& hook : hooks) checkHook(report, agent, hook, rules);
  if (hasBackup(where)) report.line(Mark::none, "backup", std::string(where.shown).append(backupSuffix));
  if (agent.trustsByPosition && !hooks.empty())
    report.line(Mark::none, "", "a new or moved hook runs only once trusted with /hooks in " + std::string(agent.restartName));
}

}  // namespace

DoctorReport doctorReport(const std::optional<std::string>& reply, bool colour) {
  Report report(colour);
  HookRules rules = runningProgramRules();
  report.heading("tarnelctl " + std::string(programVersion) + ": " + rules.program);
  for (const Agent& agent : agents) checkAgent(report, agent, rules);
  report.heading("Tarnel:");
  if (reply) report.line(Mark::good, "status", *reply);
  else report.line(Mark::warn, "status", "no answer within 2.0 s — is the app running?");
  return report.done();
}
