#include "hooks/hook_edit.h"

#include <algorithm>

#include "hooks/hook_script.h"

namespace tarnel {
namespace {

using Node = JsonDoc::Node;

json ourElement(const Agent& agent, const HookRules& rules) {
  json handler = json::object();
  if (agent.typed) handler["type"] = "command";
  handler[std::string(agent.commandKey)] = ourCommand(agent, rules);
  if (agent.timeoutSec) handler["timeoutSec"] = agent.timeoutSec;
  if (!agent.marker.empty()) handler[std::string(agent.marker)] = "tarnel";
  if (agent.layout == Layout::flatEntries) return handler;
  return {{"hooks", json::array({std::move(handler)})}};
}

/// Our element in a list of its own for each of `events`.
json ourLists(const Agent& agent, std::span<const std::string_view> events, const HookRules& rules) {
  json lists = json::object();
  for (auto event : events) lists[std::string(event)] = json::array({ourElement(agent, rules)});
  return lists;
}

/// What mending the hooks of ours in an event list did.
struct Mended {
  bool found = false;    ///< the list holds a hook of ours
  bool updated = false;  ///< one ran a program that is gone: it runs ours now
  bool guarded = false;  ///< one could fail: it ends in `neverFails` now
};

/// Finds our hooks in an event list; repoints those whose program is gone and
/// makes the others never fail.
Mended mend(const Agent& agent, const JsonDoc& doc, TextEditor& editor, const EventAt& event, const HookRules& rules) {
  Mended mended;
  for (const GroupAt& group : event.groups) {
    for (const HandlerAt& handler : group.handlers) {
      if (!handler.ours) continue;
      mended.found = true;
      if (!handler.program) continue;  // not "<program> busy": not ours to rewrite
      std::string now(doc.string(*handler.command));
      bool gone = rules.isGone(*handler.program);
      if (gone ? now == ourCommand(agent, rules) : now.ends_with(neverFails)) continue;
      editor.replace(handler.command->span(), gone ? ourCommand(agent, rules) : now + std::string(neverFails));
      (gone ? mended.updated : mended.guarded) = true;
    }
  }
  return mended;
}

bool all(const std::vector<bool>& marks) { return std::find(marks.begin(), marks.end(), false) == marks.end(); }
bool any(const std::vector<bool>& marks) { return std::find(marks.begin(), marks.end(), true) != marks.end(); }
/// Whether a list that keeps an item after one that goes moves that item up.
bool movesOthers(const std::vector<bool>& gone) {
  return std::find(std::find(gone.begin(), gone.end(), true), gone.end(), false) != gone.end();
}

/// The index of `doc`'s hooks, when install may edit them. Throws Refused.
HookIndex editableIndex(const Agent& agent, const JsonDoc& doc, const HookRules& rules) {
  HookIndex index = indexHooks(agent, doc, rules);
  if (index.refusal) throw Refused(*index.refusal);
  return index;
}

}  // namespace

// For an agent that puts its environment into the strings of its settings,
// each "$" (always inside single quotes: shellWord quotes every word that holds
// one) is followed by an empty quoted piece, `$''`: no variable name follows it
// any more, and the shell still reads one "$".
std::string ourCommand(const Agent& agent, const HookRules& rules) {
  std::string command;
  for (char c : rules.command) command += c == '$' && agent.expandsVariables ? std::string("$''") : std::string(1, c);
  return command + std::string(neverFails);
}

std::vector<FoundHook> ourHooks(const Agent& agent, const std::optional<std::string>& original, const HookRules& rules) {
  if (agent.file != HookFile::settings) return scriptHooks(agent, original);
  std::vector<FoundHook> found;
  auto doc = readHooksDoc(agent, original);
  if (!doc) return found;
  for (const EventAt& event : editableIndex(agent, *doc, rules).events)
    for (std::size_t g = 0; g < event.groups.size(); ++g)
      for (std::size_t h = 0; h < event.groups[g].handlers.size(); ++h)
        if (const HandlerAt& handler = event.groups[g].handlers[h]; handler.ours)
          found.push_back({event.name, handler.command ? std::string(doc->string(*handler.command)) : "",
                           handler.program, g, h});
  return found;
}

InstallEdit installHook(const Agent& agent, const std::optional<std::string>& original, const HookRules& rules,
                        Events addTo) {
  if (agent.file != HookFile::settings) return installScript(agent, original, rules);
  InstallEdit edit;
  auto ourEvents = addTo.value_or(agent.events);
  auto doc = readHooksDoc(agent, original);
  if (!doc && ourEvents.empty()) return edit;
  if (!doc) {
    json hooks = ourLists(agent, ourEvents, rules);
    json root = agent.eventsAt == EventsAt::topLevel ? std::move(hooks) : json{{"hooks", std::move(hooks)}};
    if (agent.wantsVersion) root["version"] = 1;
    edit.added.assign(ourEvents.begin(), ourEvents.end());
    edit.text = EditedText("", {{{0, 0}, writeJson(root, TextStyle())}});
    return edit;
  }
  HookIndex index = editableIndex(agent, *doc, rules);
  TextEditor editor(*doc);
  const Node& root = doc->root();
  std::vector<JsonItem> rootItems;
  bool rootSpread = editor.spread(root, true);
  if (!index.map && !ourEvents.empty()) {
    rootItems.push_back({"hooks", ourLists(agent, ourEvents, rules)});
    edit.added.assign(ourEvents.begin(), ourEvents.end());
  } else if (index.map) {
    bool hooksSpread = index.map == &root ? rootSpread : editor.spread(*index.map, rootSpread);
    std::vector<JsonItem> newEvents;
    for (const EventAt& event : index.events) {
      bool adding = std::find(ourEvents.begin(), ourEvents.end(), event.name) != ourEvents.end();
      if (!event.list) {
        if (!adding) continue;
        newEvents.push_back({std::string(event.name), json::array({ourElement(agent, rules)})});
        edit.added.push_back(event.name);
        continue;
      }
      Mended mended = mend(agent, *doc, editor, event, rules);
      if (mended.updated) edit.updated.push_back(event.name);
      if (mended.guarded) edit.guarded.push_back(event.name);
      if (mended.found || !adding) continue;
      editor.append(*event.list, {{std::nullopt, ourElement(agent, rules)}}, editor.spread(*event.list, hooksSpread));
      edit.added.push_back(event.name);
    }
    if (!newEvents.empty()) editor.append(*index.map, newEvents, hooksSpread);
  }
  bool changes = !edit.added.empty() || !edit.updated.empty() || !edit.guarded.empty();
  if (changes && agent.wantsVersion && !doc->find(root, "version")) rootItems.push_back({"version", 1});
  if (!rootItems.empty()) editor.append(root, rootItems, rootSpread, false);
  edit.text = editor.result();
  return edit;
}

UninstallEdit uninstallHook(const Agent& agent, const std::optional<std::string>& original, const HookRules& rules) {
  if (agent.file != HookFile::settings) return uninstallScript(agent, original);
  UninstallEdit edit;
  auto doc = readHooksDoc(agent, original);
  if (!doc) return edit;
  // Uninstall takes out what it finds, whatever else the layout holds.
  HookIndex index = indexHooks(agent, *doc, rules);
  if (!index.map) return edit;
  TextEditor editor(*doc);

  // Only what our removal empties goes, and only a container that install
  // made: a user's own empty list, group or "hooks", or one with a comment, stays.
  auto members = doc->children(*index.map);
  std::vector<bool> emptied(static_cast<std::size_t>(std::distance(members.begin(), members.end())), false);
  for (const EventAt& event : index.events) {
    if (!event.isList) continue;
    std::vector<bool> gone(event.groups.size(), false);
    for (std::size_t i = 0; i < event.groups.size(); ++i) {
      const GroupAt& group = event.groups[i];
      std::vector<bool> ours;
      for (const HandlerAt& handler : group.handlers) ours.push_back(handler.oursOrDead);
      edit.removed += static_cast<std::size_t>(std::count(ours.begin(), ours.end(), true));
      gone[i] = any(ours) && all(ours) &&
                (agent.layout == Layout::flatEntries || doc->comments(group.node->begin, group.node->end).empty());
      if (!gone[i] && any(ours)) {
        editor.remove(*group.list, ours);
        edit.movedOthers = edit.movedOthers || movesOthers(ours);
      }
    }
    edit.movedOthers = edit.movedOthers || movesOthers(gone);
    // A repeated key stays, emptied: taking it out would bring back an earlier value.
    if (any(gone) && all(gone) && event.unique && editor.madeByUs(*event.list)) emptied[event.position] = true;
    else if (any(gone)) editor.remove(*event.list, gone);
  }
  // Pruning alone is no reason to write: without a handler removed, nothing changed for the agent.
  if (edit.removed == 0) return edit;

  // Cursor requires "hooks" beside "version": its file keeps `"hooks": {}`.
  const Node& root = doc->root();
  if (agent.eventsAt == EventsAt::hooksMember && all(emptied) && keysNamed(*doc, root, "hooks") == 1 &&
      !agent.wantsVersion && editor.madeByUs(*index.map)) {
    std::vector<bool> gone;
    for (const Node& m : doc->children(root)) gone.push_back(&m == index.map);
    editor.remove(root, gone);
  } else if (any(emptied)) {
    editor.remove(*index.map, emptied);
  }
  edit.text = editor.result();
  return edit;
}

std::vector<EventHeld> eventsHeld(const Agent& agent, const std::optional<std::string>& text, const HookRules& rules) {
  std::vector<EventHeld> held(agent.events.size());
  auto doc = readHooksDoc(agent, text);
  if (!doc) return held;
  HookIndex index = editableIndex(agent, *doc, rules);
  for (std::size_t e = 0; e < held.size(); ++e) {
    held[e].listed = index.events[e].list != nullptr;
    for (const GroupAt& group : index.events[e].groups) {
      for (const HandlerAt& handler : group.handlers) {
        if (!handler.ours) continue;
        held[e].ours = true;
        held[e].live = held[e].live || !handler.program || !rules.isGone(*handler.program);
      }
    }
  }
  return held;
}

bool holdsNothingElse(const Agent& agent, const std::optional<std::string>& text) {
  if (agent.file != HookFile::settings) return !text || text->empty();
  auto doc = readHooksDoc(agent, text);
  if (!doc) return true;
  for (const Node& m : doc->children(doc->root())) {
    bool emptyHooks = doc->name(m) == "hooks" && m.kind == JsonKind::object && doc->children(m).empty();
    if (!emptyHooks && !(doc->name(m) == "version" && agent.wantsVersion)) return false;
  }
  return true;
}

}  // namespace tarnel
