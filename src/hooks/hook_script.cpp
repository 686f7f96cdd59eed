#include "hooks/hook_script.h"

#include <nlohmann/json.hpp>

namespace tarnel {
namespace {

constexpr std::string_view placeholder = "@PROGRAM@";
/// What our Cline script runs: the heartbeat, nothing from or to the agent, and a status of 0.
constexpr std::string_view quietly = " busy >/dev/null 2>&1 </dev/null || true";

/// The text of our file for `agent`, with `placeholder` where the program is written.
std::string scriptTemplate(const Agent& agent) {
  std::string name(agent.restartName), undo = "tarnelctl uninstall-" + std::string(agent.word) + "-hooks";
  if (agent.file == HookFile::script)
    return "#!/bin/sh\n"
           "# Tarnel's \"busy\" heartbeat for " + name + ", made by tarnelctl: it tells Tarnel that\n"
           "# " + name + " is at work, and lets " + name + " go on whatever becomes of the program.\n"
           "# Remove it with: " + undo + "\n"
           "cat >/dev/null\n" +
           std::string(placeholder) + std::string(quietly) + "\n"
           "echo '{\"cancel\": false}'\n"
           "exit 0\n";
  std::string hooks;
  for (std::string_view event : agent.events) hooks += "  \"" + std::string(event) + "\": async () => busy(),\n";
  return "// Tarnel's \"busy\" heartbeat for " + name + ", made by tarnelctl: before each tool call\n"
         "// and on each message it starts \"<program> busy\" and does not wait for it.\n"
         "// Nothing that becomes of the program reaches " + name + ".\n"
         "// Remove it with: " + undo + "\n"
         "import { spawn } from \"node:child_process\";\n"
         "\n"
         "const program = " + std::string(placeholder) + ";\n"
         "\n"
         "function busy() {\n"
         "  try {\n"
         "    spawn(program, [\"busy\"], { detached: true, stdio: \"ignore\" }).on(\"error\", () => {}).unref();\n"
         "  } catch {}\n"
         "}\n"
         "\n"
         "export const TarnelHeartbeat = async () => ({\n" + hooks + "});\n";
}

/// `program` as the file writes it: a shell word, or a JavaScript string.
std::string literal(const Agent& agent, const std::string& program) {
  if (agent.file == HookFile::script) return shellWord(program);
  try {
    return nlohmann::json(program).dump();
  } catch (const nlohmann::json::type_error&) {
    throw std::domain_error("the program's path is not valid UTF-8");
  }
}

/// The program that a literal written by `literal` names.
std::optional<std::string> program(const Agent& agent, std::string_view written) {
  if (agent.file == HookFile::script) return busyProgram(std::string(written) + " busy");
  auto value = nlohmann::json::parse(written, nullptr, false);
  return value.is_string() ? std::optional(value.get<std::string>()) : std::nullopt;
}

std::string refusal(const Agent& agent, const HookRules& rules) {
  std::string name(agent.restartName);
  if (agent.file == HookFile::plugin)
    return " is a plugin of your own — refusing to replace it. Give it another name in that folder (" + name +
           " loads every .js and .ts file there), then run again.";
  return " is a hook script of your own — refusing to replace it. To have it run Tarnel's heartbeat too, add this "
         "line to it:\n  " + literal(agent, rules.program) + std::string(quietly);
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
  if (named)
    for (std::string_view event : agent.events) found.push_back({event, shellWord(*named) + " busy" + std::string(neverFails), named});
  return found;
}

}  // namespace tarnel
