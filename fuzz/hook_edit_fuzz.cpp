// Adding and removing our hook over arbitrary settings texts, in memory; the
// first byte picks the agent. Install's text is valid (a second install would
// refuse it otherwise) and a second install changes nothing. Uninstall gives back byte for byte a text that held nothing of ours
// and nothing that uninstall also prunes: such is the text that uninstall
// leaves after a writing install, so that one, whatever the input was, goes
// round again.
#include <cstdint>
#include <cstdlib>

#include "hooks/hook_edit.h"

using namespace tarnel;

static const HookRules rules{"/t/tarnelctl", "/t/tarnelctl busy", [](auto& p) { return p == "/opt/tl"; },
                             [](auto& p) { return p.starts_with("/gone/"); }};

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
  // Uninstalled after a writing install, a text holds nothing of ours, nothing left to prune, and Cursor's "version".
  const auto plain = edited(agent, edited(agent, edited(agent, installed, false), true), false);
  const auto again = edited(agent, plain, true);
  if (edited(agent, again, false) != plain || edited(agent, again, true) != again) abort();
  return 0;
}
