// Adding and removing our hook in the text of a settings file, and what it
// holds of ours: decisions over the index of the agent's hooks, carried out by
// the text editor. Pure: no I/O. Only the bytes of our hook change; everything
// else keeps its bytes, the file's indentation, line endings and comments included.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "hooks/agents.h"
#include "hooks/hook_command_text.h"
#include "hooks/hook_index.h"
#include "settings/text_edit.h"

namespace tarnel {

/// The command that our hook gives `agent` to run: `rules.command`, its "$"
/// kept from an agent that would read a variable there, then `neverFails`.
std::string ourCommand(const Agent& agent, const HookRules& rules);

struct InstallEdit {
  std::optional<EditedText> text;         ///< the new text; nothing when nothing changes
  std::vector<std::string_view> added;    ///< events that got our hook
  std::vector<std::string_view> updated;  ///< events whose hook of ours ran a program that is gone
  std::vector<std::string_view> guarded;  ///< events whose hook of ours, its program there, could fail
};

struct UninstallEdit {
  std::optional<EditedText> text;   ///< the new text; nothing when nothing changes
  std::size_t removed = 0;          ///< handlers of ours taken out
  bool movedOthers = false;         ///< another hook now stands at a smaller index of its list
};

/// Adds our hook to every event of `agent` (or of `addTo`, when given) that
/// lacks it, at the end of its list; points every hook of ours whose program
/// is gone at ours, and makes every other one of ours end in `neverFails`.
/// `original` is the file's text; nothing or an empty text for no settings
/// yet. Throws Refused; a new file gets two-space indentation.
using Events = std::optional<std::span<const std::string_view>>;
InstallEdit installHook(const Agent& agent, const std::optional<std::string>& original, const HookRules& rules,
                        Events addTo = std::nullopt);
InstallEdit installHook(const Agent&, std::optional<std::string>&&, const HookRules&,  // the edit refers to it
                        Events = std::nullopt) = delete;

/// Takes every handler of ours out of the events of `agent`, with the groups,
/// event lists and "hooks" member that this leaves empty. Throws Refused.
UninstallEdit uninstallHook(const Agent& agent, const std::optional<std::string>& original, const HookRules& rules);
UninstallEdit uninstallHook(const Agent&, std::optional<std::string>&&, const HookRules&) = delete;

/// A handler of ours as a settings text holds it.
struct FoundHook {
  std::string_view event;
  std::string command;                 ///< its "command"; empty when that is no string
  std::optional<std::string> program;  ///< what the command runs with "busy", when it is one word
  std::size_t group = 0, handler = 0;  ///< where it stands: its element in the event's list, its place in that group
};

/// The handlers of ours under the events of `agent`, event by event in the
/// agent's order. Reads as install does, and throws Refused where install would.
std::vector<FoundHook> ourHooks(const Agent& agent, const std::optional<std::string>& original, const HookRules& rules);

/// What a settings text holds for one event of an agent.
struct EventHeld {
  bool listed = false;  ///< the event has a key, whatever its list holds
  bool ours = false;    ///< its list holds a handler of ours
  bool live = false;    ///< one of them runs a program that is there
};

/// What `text` holds for each event of `agent`, in the order of its events;
/// nothing held for no text. Throws Refused for a text that install would refuse.
std::vector<EventHeld> eventsHeld(const Agent& agent, const std::optional<std::string>& text, const HookRules& rules);

/// Whether a valid `text` of `agent` holds nothing but an empty "hooks" and
/// the "version" that install adds: what uninstall leaves of a file that
/// only we wrote.
bool holdsNothingElse(const Agent& agent, const std::optional<std::string>& text);

}  // namespace tarnel
