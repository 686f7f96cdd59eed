// The AI coding agents whose settings get Tarnel's "busy" heartbeat hook:
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

/// Where a file keeps its map from event names to event lists.
enum class EventsAt {
  hooksMember,  ///< in the top-level member "hooks"
  topLevel,     ///< at the top level itself (Droid's hooks.json)
};

/// What the agent makes of a hook command that fails, by its exit status
/// (2 when it says "block", 127 when the shell finds no program, 126 when what
/// it finds cannot run). Whatever it is, our command never fails: the agent
/// runs "<program> busy || true".
enum class OnFailure {
  blocksOn2,        ///< status 2 blocks the tool call or prompt; any other is reported and passed over
  blocksOn2And127,  ///< as blocksOn2, and 127 blocks too
  deniesAny,        ///< any status but 0 denies the tool call
  throwBlocks,      ///< a plugin: a hook of its that throws stops the tool call; it has no status
  answerOnly,       ///< no status blocks: only an answer of {"cancel": true} stops the task
};

/// Whether an agent that meets failures as `onFailure` blocks when a hook exits with `status`.
constexpr bool blocks(OnFailure onFailure, int status) {
  switch (onFailure) {
    case OnFailure::blocksOn2: return status == 2;
    case OnFailure::blocksOn2And127: return status == 2 || status == 127;
    case OnFailure::deniesAny: return status != 0;
    case OnFailure::throwBlocks:
    case OnFailure::answerOnly: return false;
  }
  return false;
}

/// How a second file of the agent's hooks shares the events with the first.
enum class SecondFile {
  none,
  perEvent,   ///< its hooks for an event run only while the first file has no key for that event
  alongside,  ///< its hooks run too: ours there is mended, not added again
};

/// What an agent's second file of hooks has of its own: its place, its
/// format, and how it shares the events with the main file. All else (the
/// events, the layout, our handler's members) is the agent's.
struct SecondFileRow {
  SecondFile sharing = SecondFile::none;
  std::string_view homePath = "", pathInDir = "";  ///< as the agent's own, below the home or its folder
  bool comments = false, wantsVersion = false;
  EventsAt eventsAt = EventsAt::hooksMember;
  unsigned timeoutSec = 0;
};

/// What holds an agent's hooks.
enum class HookFile {
  settings,  ///< a JSON file of hooks in the agent's format (an own file too, as Copilot CLI's)
  plugin,    ///< our own OpenCode plugin: a JavaScript module that the agent loads from its plugin folder
  script,    ///< our own executable per event, named as the event, in the agent's folder of hook scripts
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
  EventsAt eventsAt = EventsAt::hooksMember;
  bool typed = true;                         ///< our handler says "type": "command"
  std::string_view commandKey = "command";   ///< the handler's member that holds the shell command
  unsigned timeoutSec = 0;                   ///< our handler's "timeoutSec"; 0 for none
  bool expandsVariables = false;  ///< replaces $NAME and ${NAME} in its settings' strings before the shell runs them
  OnFailure onFailure = OnFailure::blocksOn2;  ///< what a hook of its that fails does (agents.cpp says where that is from)
  bool ownFile = false;           ///< the file is ours alone: uninstall deletes it when nothing else is left
  SecondFileRow second = {};      ///< its second file, if `second.sharing` says it has one
  /// What holds its hooks. For `script`, `homePath` and `pathInDir` name the
  /// folder of the scripts, and the file of each event is the event's name there.
  HookFile file = HookFile::settings;
};

/// `agent` as it reads and writes its second file: that file's place and
/// format, the agent's hooks.
Agent inSecondFile(const Agent& agent);

/// `agent` as it reads and writes the script of its event number `event`
/// alone: for an agent whose file is `HookFile::script`.
Agent forEvent(const Agent& agent, std::size_t event);

/// Claude Code, Codex, Gemini CLI, Cursor, Qwen Code, Copilot CLI, Droid, OpenCode, Cline and Windsurf.
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
