// Adding and removing our hook over arbitrary settings texts, in memory. The
// first byte picks the agent; the rest is the text. For every text:
// - a refused text is one that the strict parser refuses too (or one of the
//   shape refusals); an accepted one is JSON that the strict parser accepts;
// - install's text is valid, holds our hook in every event, and a second
//   install changes nothing;
// - uninstall gives back the text byte for byte, whenever the text held
//   nothing of ours and nothing that uninstall also prunes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "hooks/hook_edit.h"

using namespace tarnel;

namespace {

void check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "broken: %s\n", what);
    abort();
  }
}

const HookRules rules{"/t/tarnelctl", "/t/tarnelctl busy", [](auto& p) { return p == "/opt/tl"; },
                      [](auto& p) { return p.starts_with("/gone/"); }};

/// Whether uninstall takes out more of `root` than install adds: an empty
/// "hooks", an empty list or group under our events, or the "version" that install supplies.
bool uninstallPrunesMore(const Agent& agent, const json& root) {
  if (agent.wantsVersion && !member(root, "version")) return true;
  const json* hooks = member(root, "hooks");
  if (!hooks) return false;
  if (hooks->empty()) return true;
  for (auto event : agent.events) {
    const json* list = member(*hooks, event);
    if (!list || !isListOfObjects(*list)) continue;
    if (list->empty()) return true;
    for (const json& group : *list) {
      const json* handlers = member(group, "hooks");
      if (agent.layout == Layout::hookGroups && handlers && handlers->is_array() && handlers->empty()) return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const Agent& agent = agents[data[0] % agents.size()];
  const std::optional<std::string> text = std::string(reinterpret_cast<const char*>(data + 1), size - 1);
  bool comments = agent.comments;
  std::optional<InstallEdit> installed;
  try {
    installed = installHook(agent, text, rules);
  } catch (const Refused&) {
    return 0;
  }
  if (!text->empty()) check(json::accept(*text, comments), "accepted what the strict parser refuses");
  const std::optional<std::string> after = installed->text ? installed->text->str() : *text;
  check(json::accept(*after, comments), "install wrote invalid JSON");
  check(!installHook(agent, after, rules).text, "a second install changed something");
  if (text->empty() || installed->text == std::nullopt) return 0;

  auto removed = uninstallHook(agent, after, rules);
  check(removed.removed >= installed->added.size(), "uninstall missed a hook that install added");
  json root = json::parse(*text, nullptr, false, comments);
  if (uninstallHook(agent, text, rules).removed == 0 && installed->updated.empty() && !uninstallPrunesMore(agent, root))
    check(removed.text && removed.text->str() == *text, "install then uninstall did not give back the text");
  return 0;
}
