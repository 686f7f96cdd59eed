#include "hooks/hook_index.h"

#include <cstdlib>

namespace tarnel {
namespace {

using Node = JsonDoc::Node;

bool isString(const JsonDoc& doc, const Node* node, std::string_view value) {
  return node && node->kind == JsonKind::string && doc.string(*node) == value;
}

/// Whether a member of our handler may hold `value` as `name`.
bool isOurMember(const Agent& agent, const JsonDoc& doc, std::string_view name, const Node& value) {
  if (name == agent.commandKey) return true;
  if (name == "type") return agent.typed && isString(doc, &value, "command");
  if (name != "timeoutSec" || !agent.timeoutSec || value.kind != JsonKind::number) return false;
  std::string number(doc.text().substr(value.begin, value.end - value.begin));
  return std::strtod(number.c_str(), nullptr) == agent.timeoutSec;
}

/// Whether an element of an event list stands exactly as install writes
/// ours: a group of its own, holding nothing but one handler, which holds
/// nothing but the members of ours (a marker aside, which counts by itself).
/// Of repeated keys, the last counts, as for any reader.
bool hasOurShape(const Agent& agent, const JsonDoc& doc, const Node& element) {
  const Node* handler = &element;
  if (agent.layout == Layout::hookGroups) {
    const Node* hooks = doc.find(element, "hooks");
    bool onlyHooks = hooks != nullptr;
    for (const Node& m : doc.children(element)) onlyHooks = onlyHooks && doc.name(m) == "hooks";
    if (!onlyHooks || hooks->kind != JsonKind::array) return false;
    auto handlers = doc.children(*hooks);
    if (handlers.empty() || ++handlers.begin() != handlers.end()) return false;
    handler = &*handlers.begin();
  }
  if (handler->kind != JsonKind::object) return false;
  for (const Node& m : doc.children(*handler))
    if (!isOurMember(agent, doc, doc.name(m), *doc.find(*handler, doc.name(m)))) return false;
  return true;
}

HandlerAt handlerAt(const Agent& agent, const JsonDoc& doc, const Node& handler, const Node& element,
                    const HookRules& rules) {
  HandlerAt at{&handler, doc.find(handler, agent.commandKey), std::nullopt, false, false};
  if (at.command && at.command->kind != JsonKind::string) at.command = nullptr;
  if (at.command) at.program = busyProgram(std::string(doc.string(*at.command)));
  bool marked = !agent.marker.empty() && isString(doc, doc.find(handler, agent.marker), "tarnel");
  at.ours = marked || (at.program && isOurProgram(*at.program, rules));
  // An earlier version wrote the name it was started by, perhaps a link
  // deleted since: uninstall takes that out too, from an element that stands
  // exactly as ours. A hook of the user's with a matcher, a timeout or a neighbour stays.
  at.oursOrDead = at.ours || (at.program && rules.isDeadName && hasOurShape(agent, doc, element) &&
                              rules.isDeadName(*at.program));
  return at;
}

GroupAt groupAt(const Agent& agent, const JsonDoc& doc, const Node& element, const HookRules& rules) {
  GroupAt group{&element, nullptr, {}};
  if (agent.layout == Layout::flatEntries) {
    group.handlers.push_back(handlerAt(agent, doc, element, element, rules));
    return group;
  }
  const Node* hooks = doc.find(element, "hooks");
  if (!hooks || !doc.isObjectList(*hooks)) return group;
  group.list = hooks;
  for (const Node& handler : doc.children(*hooks)) group.handlers.push_back(handlerAt(agent, doc, handler, element, rules));
  return group;
}

std::string notAList(const Agent& agent, std::string_view event) {
  return ": " + std::string(agent.eventsAt == EventsAt::topLevel ? "" : "\"hooks\" → ") + "\"" + std::string(event) +
         "\" is not a list of " + (agent.layout == Layout::hookGroups ? "hook groups" : "hook entries");
}

}  // namespace

std::optional<JsonDoc> readHooksDoc(const Agent& agent, const std::optional<std::string>& text) {
  if (!text || text->empty()) return std::nullopt;
  try {
    JsonDoc doc(*text, agent.comments ? Comments::allowed : Comments::refused);
    if (doc.root().kind != JsonKind::object) throw Refused(" is not a JSON object");
    return doc;
  } catch (const JsonSyntaxError& syntax) {
    throw Refused(" is not valid JSON (" + std::string(syntax.what()) + ")");
  }
}

std::size_t keysNamed(const JsonDoc& doc, const JsonDoc::Node& object, std::string_view name) {
  std::size_t count = 0;
  for (const Node& m : doc.children(object)) count += doc.name(m) == name;
  return count;
}

HookIndex indexHooks(const Agent& agent, const JsonDoc& doc, const HookRules& rules) {
  HookIndex index;
  index.map = &doc.root();
  if (agent.eventsAt == EventsAt::hooksMember) {
    index.map = doc.find(doc.root(), "hooks");
    if (index.map && index.map->kind != JsonKind::object) {
      index.map = nullptr;
      index.refusal = ": \"hooks\" is not an object";
    }
  }
  for (std::string_view name : agent.events) {
    EventAt& event = index.events.emplace_back();
    event.name = name;
    event.list = index.map ? doc.find(*index.map, name) : nullptr;
    if (!event.list) continue;
    event.unique = keysNamed(doc, *index.map, name) == 1;
    for (const Node& m : doc.children(*index.map)) {
      if (&m == event.list) break;
      ++event.position;
    }
    event.isList = doc.isObjectList(*event.list);
    if (!event.isList && !index.refusal) index.refusal = notAList(agent, name);
    if (!event.isList) continue;
    for (const Node& element : doc.children(*event.list)) event.groups.push_back(groupAt(agent, doc, element, rules));
  }
  return index;
}

}  // namespace tarnel
