// The four AI coding agents whose settings get Tarnel's "busy" heartbeat hook:
// everything that tells one agent's hooks apart from another's.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace tarnel {

/// How an agent's event lists hold their handlers.
enum class Layout {
  hookGroups,   ///< groups {"hooks": [handler, ...], ...} around the handlers
  flatEntries,  ///< the handlers themselves, one entry each
};

struct Agent {
  std::string_view word;          ///< in the command words: install-<word>-hooks
  std::string_view restartName;   ///< as in "Restart Claude Code to apply."
  std::string_view homePath;      ///< the settings file below the home directory
  std::string_view dirVariable;   ///< names the folder that replaces the default one; "" for none
  std::string_view pathInDir;     ///< the settings file below that folder
  bool dirMustExist;              ///< the agent itself refuses a folder that is missing
  std::span<const std::string_view> events;  ///< the events that get the hook, in message order
  Layout layout;
  std::string_view marker;        ///< our handler's member with the value "tarnel"; "" for none
  bool comments;                  ///< the agent reads `//` and `/* */` comments in its file
  bool trustsByPosition;          ///< runs a hook only once trusted, keyed by its place in the file
  bool wantsVersion;              ///< a written file needs a top-level "version"
};

/// Claude Code, Codex, Gemini CLI and Cursor.
extern const std::span<const Agent> agents;

enum class Verb { install, uninstall };

/// What a hook command word asks for.
struct HookCommand {
  Verb verb;
  const Agent* agent;
};

/// The hook command that `word` names ("install-claude-hooks" …), or nothing.
std::optional<HookCommand> hookCommand(std::string_view word);

}  // namespace tarnel
