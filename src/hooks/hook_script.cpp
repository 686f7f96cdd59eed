#include "hooks/hook_script.h"

#include "settings/json_doc.h"
#include "settings/text_edit.h"

namespace tarnel {
namespace {

constexpr std::string_view placeholder = "@PROGRAM@";

// Our files as they are written: @NAME@ is the agent's name, @WORD@ its word,
// @HOOKS@ a line for each of its events, and the program stands at `placeholder`.
constexpr std::string_view clineScript = R"(#!/bin/sh
# Tarnel's "busy" heartbeat for @NAME@, made by tarnelctl: it tells Tarnel that
# @NAME@ is at work, and lets @NAME@ go on whatever becomes of the program.
# Remove it with: tarnelctl uninstall-@WORD@-hooks
cat >/dev/null
@PROGRAM@ busy >/dev/null 2>&1 </dev/null || true
echo '{"cancel": false}'
exit 0
)";
constexpr std::string_view openCodePlugin = R"(// Tarnel's "busy" heartbeat for @NAME@, made by tarnelctl: before each tool call
// and on each message it starts "<program> busy" and does not wait for it.
// Nothing that becomes of the program reaches @NAME@.
// Remove it with: tarnelctl uninstall-@WORD@-hooks
import { spawn } from "node:child_process";

const program = @PROGRAM@;

function busy() {
  try {
    spawn(program, ["busy"], { detached: true, stdio: "ignore" }).on("error", () => {}).unref();
  } catch {}
}

export const TarnelHeartbeat = async () => ({
@HOOKS@});
)";

/// `text` with each `name` replaced by `value`.
std::string filled(std::string text, std::string_view name, std::string_view value) {
  for (std::size_t at = 0; (at = text.find(name, at)) != std::string::npos; at += value.size()) text.replace(at, name.size(), value);
  return text;
}

/// The text of our file for `agent`, with `placeholder` where the program is written.
std::string scriptTemplate(const Agent& agent) {
  std::string hooks;
  for (std::string_view event : agent.events) hooks.append("  \"").append(event).append("\": async () => busy(),\n");
  std::string text = filled(std::string(agent.file == HookFile::script ? clineScript : openCodePlugin), "@NAME@", agent.restartName);
  return filled(filled(std::move(text), "@WORD@", agent.word), "@HOOKS@", hooks);
}

/// `program` as the file writes it: a shell word, or a JavaScript string.
std::string literal(const Agent& agent, const std::string& program) {
  return agent.file == HookFile::script ? shellWord(program) : writeJson(program, TextStyle());  // JSON's string is JavaScript's
}

/// The program that a literal written by `literal` names.
std::optional<std::string> program(const Agent& agent, std::string_view written) {
  if (agent.file == HookFile::script) return busyProgram(std::string(written) + " busy");
  try {  // a JavaScript string as we write it is a JSON string, here in a list of its own
    std::string list(1, '[');
    list.append(written).append("]");
    JsonDoc doc(list, Comments::refused);
    auto items = doc.children(doc.root());
    if (!items.empty() && items.begin()->kind == JsonKind::string) return std::string(doc.string(*items.begin()));
  } catch (const JsonSyntaxError&) {
    // not one of ours
  }
  return std::nullopt;
}

/// The line of our script that runs `program`.
std::string runLine(const Agent& agent, const std::string& program) {
  std::string text = ourScript(agent, program), word = literal(agent, program);
  std::size_t at = text.find("\n" + word) + 1;
  return text.substr(at, text.find('\n', at) - at);
}

/// The program that a script of the user's runs by a line exactly as ours runs it (added as the refusal says).
std::optional<std::string> programOfLine(const Agent& agent, std::string_view text) {
  const std::string form = runLine(agent, std::string(placeholder));
  const std::string_view tail = std::string_view(form).substr(form.find(placeholder) + placeholder.size());
  for (std::size_t at = 0; agent.file == HookFile::script && at < text.size();) {
    std::size_t end = std::min(text.find('\n', at), text.size());
    std::string_view line = text.substr(at, end - at);
    if (auto named = line.ends_with(tail) ? program(agent, line.substr(0, line.size() - tail.size())) : std::nullopt;
        named && !named->empty() && runLine(agent, *named) == line)
      return named;
    at = end + 1;
  }
  return std::nullopt;
}

std::string refusal(const Agent& agent, const HookRules& rules) {
  if (agent.file == HookFile::plugin)
    return " is a plugin of your own — refusing to replace it. Give it another name in that folder (" +
           std::string(agent.restartName) + " loads every .js and .ts file there), then run again.";
  return " is a hook script of your own — refusing to replace it. To have it run Tarnel's heartbeat too, add this "
         "line to it, then run again:\n  " + runLine(agent, rules.program);
}

EditedText whole(const std::optional<std::string>& original, std::string text) {
  std::string_view before = original ? std::string_view(*original) : std::string_view();
  return EditedText(before, {{{0, before.size()}, std::move(text)}});
}

}  // namespace

std::string ourScript(const Agent& agent, const std::string& path) {
  std::string text = scriptTemplate(agent);
  return text.replace(text.find(placeholder), placeholder.size(), literal(agent, path));
}

std::optional<std::string> scriptProgram(const Agent& agent, std::string_view text) {
  const std::string form = scriptTemplate(agent);
  const std::size_t at = form.find(placeholder), after = form.size() - at - placeholder.size();
  if (text.size() < form.size() - placeholder.size() || !text.starts_with(std::string_view(form).substr(0, at)) ||
      !text.ends_with(std::string_view(form).substr(at + placeholder.size())))
    return std::nullopt;
  auto named = program(agent, text.substr(at, text.size() - at - after));
  if (!named || named->empty()) return std::nullopt;
  try {
    return ourScript(agent, *named) == text ? named : std::nullopt;  // written as we write it, and nothing else
  } catch (const std::domain_error&) {
    return std::nullopt;
  }
}

InstallEdit installScript(const Agent& agent, const std::optional<std::string>& original, const HookRules& rules) {
  InstallEdit edit;
  if (!original || original->empty()) {
    edit.text = whole(original, ourScript(agent, rules.program));
    edit.added.assign(agent.events.begin(), agent.events.end());
    return edit;
  }
  auto named = scriptProgram(agent, *original);
  if (!named && programOfLine(agent, *original)) return edit;  // the user's script runs it: theirs to keep
  if (!named) throw Refused(refusal(agent, rules), true);
  if (*named != rules.program && rules.isGone(*named)) {
    edit.text = whole(original, ourScript(agent, rules.program));
    edit.updated.assign(agent.events.begin(), agent.events.end());
  }
  return edit;
}

UninstallEdit uninstallScript(const Agent& agent, const std::optional<std::string>& original) {
  UninstallEdit edit;
  if (!original || !scriptProgram(agent, *original)) return edit;
  edit.text = whole(original, "");
  edit.removed = agent.events.size();
  return edit;
}

std::vector<FoundHook> scriptHooks(const Agent& agent, const std::optional<std::string>& original) {
  std::vector<FoundHook> found;
  auto named = original ? scriptProgram(agent, *original) : std::nullopt;
  if (!named && original) named = programOfLine(agent, *original);
  if (named)
    for (std::string_view event : agent.events) found.push_back({event, shellWord(*named) + " busy" + std::string(neverFails), named});
  return found;
}

}  // namespace tarnel
