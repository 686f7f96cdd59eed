// Adding and removing our hook over arbitrary settings texts, in memory; the
// first byte picks the agent. An accepted text is JSON that the parser's own
// check accepts too; install's text is JSON and a second install changes
// nothing; uninstall gives back the text byte for byte whenever it held
// nothing of ours and nothing that uninstall also prunes.
#include <cstdint>
#include <cstdlib>

#include "hooks/hook_edit.h"

using namespace tarnel;

static const HookRules rules{"/t/tarnelctl", "/t/tarnelctl busy", [](auto& p) { return p == "/opt/tl"; },
                             [](auto& p) { return p.starts_with("/gone/"); }};

/// Whether uninstall takes out more of `root` than install adds: an empty
/// "hooks", an empty list or group under our events, or the "version" that install supplies.
static bool uninstallPrunesMore(const Agent& agent, const json& root) {
  const json* hooks = member(root, "hooks");
  bool more = (agent.wantsVersion && !member(root, "version")) || (hooks && hooks->empty());
  for (auto event : agent.events) {
    const json* list = hooks ? member(*hooks, event) : nullptr;
    if (!list || !isListOfObjects(*list)) continue;
    more = more || list->empty();
    for (const json& group : *list)
      more = more || (agent.layout == Layout::hookGroups && member(group, "hooks") && *member(group, "hooks") == json::array());
  }
  return more;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const Agent& agent = agents[data[0] % agents.size()];
  const std::optional<std::string> text = std::string(reinterpret_cast<const char*>(data + 1), size - 1);
  std::optional<InstallEdit> installed;
  try {
    installed = installHook(agent, text, rules);
  } catch (const Refused&) {
    return 0;
  }
  if (!text->empty() && !json::accept(*text, agent.comments)) abort();
  const std::optional<std::string> after = installed->text ? installed->text->str() : *text;
  if (!json::accept(*after, agent.comments) || installHook(agent, after, rules).text) abort();
  if (text->empty() || !installed->text || uninstallHook(agent, text, rules).removed > 0 || !installed->updated.empty() ||
      uninstallPrunesMore(agent, json::parse(*text, nullptr, false, agent.comments)))
    return 0;
  auto removed = uninstallHook(agent, after, rules);
  if (!removed.text || removed.text->str() != *text) abort();
  return 0;
}
