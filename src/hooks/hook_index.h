// Where an agent's hooks stand in a settings text: one walk over the document
// that finds the map of events, each event's list, the groups and handlers in
// it, each handler's command and whether it is ours. The only place that
// decides whether a layout can be edited.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "hooks/agents.h"
#include "hooks/hook_command_text.h"
#include "settings/json_doc.h"

namespace tarnel {

/// A settings text that must not be edited. what() completes a sentence that
/// begins with the file's name: " is not a JSON object", ": "hooks" is not an object".
class Refused : public std::runtime_error {
public:
  explicit Refused(const std::string& what, bool saysWhatToDo = false)
      : std::runtime_error(what), saysWhatToDo(saysWhatToDo) {}
  bool saysWhatToDo;  ///< what() ends in what to do, which is not to fix the file by hand
};

/// The settings text of `agent` read as a document; nothing for no settings
/// yet (no text, or an empty one). Throws Refused for a text that is not a JSON object.
std::optional<JsonDoc> readHooksDoc(const Agent& agent, const std::optional<std::string>& text);

/// One handler: the object that holds a command.
struct HandlerAt {
  const JsonDoc::Node* node;
  const JsonDoc::Node* command;        ///< its command, when that is a string; nullptr otherwise
  std::optional<std::string> program;  ///< what the command runs with "busy", when it is one word
  bool ours;        ///< ours by its marker or by its program
  bool oursOrDead;  ///< ours, or running a name that is dead from an element that stands as ours wrote it
};

/// One element of an event list: a group around handlers, or for flat entries the handler itself.
struct GroupAt {
  const JsonDoc::Node* node;
  const JsonDoc::Node* list;  ///< a group's "hooks" list; nullptr for a flat entry or a group without one
  std::vector<HandlerAt> handlers;
};

/// One event of the agent, as the text holds it.
struct EventAt {
  std::string_view name;
  const JsonDoc::Node* list = nullptr;  ///< the value of its (last) key; nullptr when it has none
  bool isList = false;                  ///< that value is a list of objects
  bool unique = false;                  ///< its key stands once
  std::size_t position = 0;             ///< its (last) key's place among the map's members
  std::vector<GroupAt> groups;          ///< when it is a list
};

struct HookIndex {
  const JsonDoc::Node* map = nullptr;  ///< the object of the events (the top level, or "hooks"); nullptr for none
  std::vector<EventAt> events;         ///< the agent's events, in its order
  std::optional<std::string> refusal;  ///< why install may not edit this layout, completing a sentence as Refused does
};

/// The agent's hooks in `doc`.
HookIndex indexHooks(const Agent& agent, const JsonDoc& doc, const HookRules& rules);

/// How many members of `object` are named `name`.
std::size_t keysNamed(const JsonDoc& doc, const JsonDoc::Node& object, std::string_view name);

}  // namespace tarnel
