// Adding and removing our hook in the text of a settings file. Pure: no I/O.
// Only the bytes of our hook change; everything else keeps its bytes, the
// file's indentation, line endings and comments included.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "hooks/agents.h"
#include "hooks/hook_command_text.h"

namespace tarnel {

/// A settings text that must not be edited. what() completes a sentence that
/// begins with the file's name: " is not a JSON object", ": "hooks" is not an object".
class Refused : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct InstallEdit {
  std::optional<std::string> text;        ///< the new text; nothing when nothing changes
  std::vector<std::string_view> added;    ///< events that got our hook
  std::vector<std::string_view> updated;  ///< events whose hook of ours ran a program that is gone
};

struct UninstallEdit {
  std::optional<std::string> text;  ///< the new text; nothing when nothing changes
  std::size_t removed = 0;          ///< handlers of ours taken out
  bool movedOthers = false;         ///< another hook now stands at a smaller index of its list
};

/// Adds our hook to every event of `agent` that lacks it, at the end of its
/// list, and points every hook of ours whose program is gone at ours.
/// `original` is the file's text; nothing or an empty text for no settings yet.
/// Throws Refused; a new file gets two-space indentation.
InstallEdit installHook(const Agent& agent, std::optional<std::string_view> original, const HookRules& rules);

/// Takes every handler of ours out of the events of `agent`, with the groups,
/// event lists and "hooks" member that this leaves empty. Throws Refused.
UninstallEdit uninstallHook(const Agent& agent, std::optional<std::string_view> original, const HookRules& rules);

}  // namespace tarnel
