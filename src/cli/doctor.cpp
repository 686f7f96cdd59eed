#include "cli/doctor.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

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

std::string installWord(const Agent& agent) { return "tarnelctl install-" + std::string(agent.word) + "-hooks"; }

/// Whether `agent` blocks what `hook` guards while its program is gone: only
/// the command of an earlier version, without `neverFails`, can fail.
bool blocksAgent(const Agent& agent, const FoundHook& hook) {
  if (!hook.program || hook.command.ends_with(neverFails)) return false;
  auto statuses = goneStatuses(*hook.program);
  return std::any_of(statuses.begin(), statuses.end(), [&](int status) { return blocks(agent.onFailure, status); });
}

/// `text` as a basic string of TOML.
std::string tomlString(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' || c == '\\' ? std::string{'\\', c} : std::string(1, c);
  return quoted + "\"";
}

/// The quoted keys of `toml`, quotes and all: each string that a table header
/// or a key holds, followed by ".", "=" or, on a line that opens with "[",
/// "]". A string in a comment or a value is none. Enough for the keys that
/// Codex writes, not a TOML parser: multi-line strings are not known.
std::vector<std::string_view> tomlQuotedKeys(std::string_view toml) {
  std::vector<std::string_view> keys;
  bool lineStart = true, header = false;
  for (std::size_t i = 0; i < toml.size(); ++i) {
    char c = toml[i];
    if (c == '\n') lineStart = true;
    if (c == '\n' || c == ' ' || c == '\t') continue;
    if (lineStart) header = c == '[', lineStart = false;
    if (c == '#') i = std::min(toml.find('\n', i), toml.size()) - 1;  // a comment, to the end of its line
    if (c != '"' && c != '\'') continue;
    std::size_t end = i + 1;  // the closing quote, if the line holds one
    while (end < toml.size() && toml[end] != c && toml[end] != '\n') end += c == '"' && toml[end] == '\\' ? 2 : 1;
    if (end >= toml.size() || toml[end] == '\n') {  // no string ends on this line: no key on it
      i = end - 1;
      continue;
    }
    std::size_t next = toml.find_first_not_of(" \t", end + 1);
    if (next != std::string_view::npos && (toml[next] == '.' || toml[next] == '=' || (header && toml[next] == ']')))
      keys.push_back(toml.substr(i, end + 1 - i));
    i = end;
  }
  return keys;
}

/// For each hook of `hooks` in Codex's hooks.json at `where`: whether Codex's
/// config.toml beside it holds no state at all for it, so Codex has never
/// trusted what stands there. Codex keys a hook's state (its "trusted_hash")
/// by "<hooks.json>:<event in snake case>:<group>:<handler>", the file's path
/// under CODEX_HOME made real, else under the home as it is; the hash itself
/// is Codex's own, so a state that is there may still be for an older hook.
std::vector<bool> neverTrusted(const SettingsPath& where, const std::vector<FoundHook>& hooks) {
  std::vector<bool> never(hooks.size(), false);
  std::string folder = where.path.substr(0, where.path.rfind('/'));
  std::optional<std::string> config;
  try {
    config = readSettings({folder + "/config.toml", folder + "/config.toml", folder}).bytes;
  } catch (const SettingsError&) {
    return never;  // unknown
  }
  std::vector<std::string_view> keys = config ? tomlQuotedKeys(*config) : std::vector<std::string_view>();
  std::error_code error;
  std::string real = std::filesystem::canonical(folder, error).string() + "/hooks.json";
  for (std::size_t i = 0; i < hooks.size(); ++i) {
    std::string place = ":";
    for (char c : hooks[i].event) {
      if (std::isupper(static_cast<unsigned char>(c)) && place.size() > 1) place += '_';
      place += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    place.append(":").append(std::to_string(hooks[i].group)).append(":").append(std::to_string(hooks[i].handler));
    auto stated = [&](const std::string& file) {
      return std::ranges::find(keys, tomlString(file + place)) != keys.end() ||
             std::ranges::find(keys, "'" + file + place + "'") != keys.end();
    };
    never[i] = !stated(where.path) && (error || !stated(real));
  }
  return never;
}

/// What a hook of ours may keep from working beside its program.
struct Hindrance {
  bool untrusted = false;  ///< the agent has never trusted it
  std::string shadowed;    ///< the agent reads its event from this other file instead; else empty
};

/// Why `program`, which `rules` count as gone, does not run this program.
std::string whyGone(const std::string& program) {
  if (isKernelAlias(program)) return program + " names the agent's shell, not tarnelctl";
  return program + (program.find('/') == std::string::npos ? " is not on PATH" : " is gone");
}

/// One hook of ours: what it runs, and what keeps it from working.
void checkHook(Report& report, const Agent& agent, const FoundHook& hook, const HookRules& rules, const Hindrance& hindrance) {
  std::string name(agent.restartName);
  bool gone = hook.program && rules.isGone(*hook.program);
  std::string runs = !hook.program                    ? "runs \"" + hook.command + "\", which is not \"<program> busy\""
                     : gone                            ? whyGone(*hook.program)
                     : rules.isRunning(*hook.program)  ? "this program"
                     : hook.program->starts_with('/') ? "another build: " + *hook.program
                                                      : *hook.program + ", as the agent finds it on its PATH";
  if (!hindrance.shadowed.empty())  // never run, so whatever it runs does no harm
    return report.line(Mark::none, hook.event, runs + "; not run: " + name + " takes this event from " + hindrance.shadowed);
  if (!hook.program) return report.line(Mark::warn, hook.event, runs);
  if (gone) {
    bool urgent = blocksAgent(agent, hook);
    return report.line(Mark::bad, hook.event, (urgent ? "URGENT: " : "") + runs +
                                                  (urgent ? ", and " + name + " blocks on this hook while it fails" : "") +
                                                  " — " + installWord(agent) + " points it at this program");
  }
  if (!hook.command.ends_with(neverFails))
    report.line(Mark::warn, hook.event, runs + "; should it fail, " + name + " may block — " + installWord(agent) +
                                            " makes it never fail");
  else if (hindrance.untrusted)
    report.line(Mark::warn, hook.event, runs + "; " + name + " has not trusted it: run /hooks in " + name +
                                            " — until then it never fires");
  else
    report.line(Mark::good, hook.event, runs);
}

/// The events of `first` that its file lists, by which Droid takes them from there and not from its settings.json.
std::vector<bool> listedIn(const Agent& first, const HookRules& rules) {
  std::vector<bool> listed;
  try {
    for (const EventHeld& event : eventsHeld(first, readSettings(locate(first)).bytes, rules)) listed.push_back(event.listed);
  } catch (const std::exception&) {
    // said under that file
  }
  return listed;
}

/// The report on one settings file of an agent: `agent` is the agent, or the
/// agent in its second file, whose events `first` may take over.
void checkFile(Report& report, const Agent& agent, const HookRules& rules, const Agent* first = nullptr) {
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
    if (!read.bytes) {
      checkChange(where, read, 0);  // what install would refuse, such as a link into a folder that does not exist
      return report.line(Mark::none, "", "no file, no hook installed");
    }
    hooks = ourHooks(agent, read.bytes, rules);
    if (agent.file == HookFile::script && !hooks.empty() && isSymbolicLink(where.path))
      return report.line(Mark::bad, "", "a symbolic link, and " + std::string(agent.restartName) +
                                            " runs only a file itself there — put the script in its place");
  } catch (const SettingsError& error) {
    return report.line(Mark::bad, "", error.what());
  } catch (const Refused& refused) {
    return report.line(Mark::bad, "", where.shown + refused.what());
  }
  std::vector<bool> untrusted(hooks.size(), false), listed = first ? listedIn(*first, rules) : std::vector<bool>();
  if (agent.trustsByPosition) untrusted = neverTrusted(where, hooks);
  if (hooks.empty()) report.line(Mark::none, "", "no hook installed");
  for (std::size_t e = 0; e < agent.events.size() && !hooks.empty(); ++e) {
    bool any = false;
    for (std::size_t i = 0; i < hooks.size(); ++i)
      if (hooks[i].event == agent.events[e])
        checkHook(report, agent, hooks[i], rules, {untrusted[i], e < listed.size() && listed[e] ? locate(*first).shown : ""}),
            any = true;
    if (!any) report.line(Mark::none, agent.events[e], "no hook of ours");
  }
  if (hasBackup(where)) report.line(Mark::none, "backup", std::string(where.shown).append(backupSuffix));
  if (agent.trustsByPosition && std::find(untrusted.begin(), untrusted.end(), false) != untrusted.end())
    report.line(Mark::none, "", "a new or moved hook runs only once trusted with /hooks in " + std::string(agent.restartName));
}

}  // namespace

DoctorReport doctorReport(const Answer& status, bool colour) {
  Report report(colour);
  HookRules rules = runningProgramRules();
  report.heading("tarnelctl " + std::string(programVersion) + ": " + rules.program);
  for (const Agent& agent : agents) {
    if (agent.file != HookFile::script) checkFile(report, agent, rules);
    else  // a file for each event
      for (std::size_t e = 0; e < agent.events.size(); ++e) checkFile(report, forEvent(agent, e), rules);
    if (agent.second.sharing != SecondFile::none)
      checkFile(report, inSecondFile(agent), rules, agent.second.sharing == SecondFile::perEvent ? &agent : nullptr);
  }
  report.heading("Tarnel:");
  if (status.reply)
    report.line(status.reply->find(cannotHold) == std::string::npos ? Mark::good : Mark::bad, "status", *status.reply);
  else if (!status.noCenter.empty())
    report.line(Mark::bad, "status", status.noCenter);
  else
    report.line(Mark::bad, "status", "no answer within 2.0 s — is the app running?");
  return report.done();
}
