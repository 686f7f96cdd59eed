// Adding and removing our hook over arbitrary settings texts, in memory; the
// first byte picks the agent. Install's text is valid (a second install would
// refuse it otherwise) and a second install changes nothing. Uninstall after
// install gives back byte for byte any text that held no hook of ours; for
// Cursor, any that had the "hooks" and "version" that Cursor requires (others
// keep them), and the text it gives goes round again exactly.
#include <cstdint>
#include <cstdlib>

#include "hooks/hook_edit.h"

using namespace tarnel;

static const HookRules rules{"/t/tarnelctl", "/t/tarnelctl busy", [](auto& p) { return p == "/opt/tl"; },
                             [](auto& p) { return p.starts_with("/gone/"); },
                             [](auto& p) { return p.starts_with("/dead/"); }};

/// The text after install (or uninstall) of `agent`'s hook in `text`.
static std::optional<std::string> edited(const Agent& agent, const std::optional<std::string>& text, bool install) {
  auto edit = install ? installHook(agent, text, rules).text : uninstallHook(agent, text, rules).text;
  return edit ? edit->str() : *text;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const Agent& agent = agents[data[0] % agents.size()];
  const std::optional<std::string> text = std::string(reinterpret_cast<const char*>(data + 1), size - 1);
  std::optional<std::string> installed;
  try {
    installed = edited(agent, text, true);
  } catch (const Refused&) {
    return 0;
  }
  if (edited(agent, installed, true) != installed) abort();
  if (text->empty() || uninstallHook(agent, text, rules).removed > 0) return 0;
  const auto back = edited(agent, installed, false);
  const json top = json::parse(*text, nullptr, false, true);
  bool required = !agent.wantsVersion || (top.is_object() && top.contains("hooks") && top.contains("version"));
  if ((required && back != text) || edited(agent, edited(agent, back, true), false) != back) abort();
  return 0;
}
