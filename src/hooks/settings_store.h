// The agent settings file store and the one course of install and uninstall
// that all four installers follow. An installer is an `AgentFile`: the file's
// place, its events, the shape of the hook and the test that knows it again.
#pragma once

#include <sys/types.h>

#include <exception>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "hooks/hook_installers.h"
#include "settings/settings_json.h"

namespace tarnel {

/// How an agent's event lists hold their handlers.
enum class Layout {
  hookGroups,   ///< groups {"hooks": [handler, ...], ...} around the handlers
  flatEntries,  ///< the handlers themselves, one entry each
};

/// Everything that tells one agent's settings file apart from another's.
struct AgentFile {
  std::string_view relativePath;             ///< below the home directory
  std::span<const std::string_view> events;  ///< the events that get the hook, in message order
  Layout layout;
  bool (*isOurs)(const json& handler);             ///< the handler test
  json (*ourHandler)(const std::string& command);  ///< the handler that install writes
  std::string_view installNote;    ///< ends the backup line of the install message
  std::string_view agentName;      ///< as in "Restart Claude Code to apply."
  std::string_view uninstallWord;  ///< the command word that undoes the install
  std::exception_ptr (*notAnObject)();    ///< the agent's own error
  void (*onInstall)(json& root) = nullptr;  ///< a last touch before an install writes
};

/// A settings file as `load` found it.
struct Settings {
  json root;                         ///< the settings object
  std::optional<std::string> bytes;  ///< the file's content; nothing when there was no file
  mode_t mode = 0;                   ///< its permission bits
};

/// The settings file's absolute path below the home directory ("HOME", else
/// the user's entry in the password database).
std::string settingsURL(const AgentFile& agent);

/// The hook command text: this executable's path followed by " busy".
std::string command();

/// Reads the settings file: an empty object when there is none or it is empty.
/// Throws SettingsError for a file that cannot be read or is not JSON, and the
/// agent's `notAnObject` when its top level is not an object.
Settings load(const AgentFile& agent);

/// Writes `settings.root` back: makes the directory, keeps a one-time backup of
/// the file that `load` found, and replaces the file (or a symbolic link's
/// target) atomically with the same permission bits. Throws SettingsError.
void save(const AgentFile& agent, const Settings& settings);

/// Whether one element of an event list holds the program's handler.
bool hasOurs(const AgentFile& agent, const json& element);

/// The common course: add the hook to every event that lacks it / take out
/// every handler of ours and what that leaves empty. Return the message to print.
std::string install(const AgentFile& agent);
std::string uninstall(const AgentFile& agent);

/// The description of an agent's `notAnObject`.
std::string notAnObjectText(const AgentFile& agent);

// Handler tests that agents share.

/// The handler carries `key` with the string value "tarnel".
bool hasMarker(const json& handler, std::string_view key);

/// The handler's "command" is a string that contains "tarnelctl" and ends with " busy".
bool runsOurCommand(const json& handler);

}  // namespace tarnel

// Each agent's record, for code that drives the common course directly.
namespace ClaudeHooks { extern const tarnel::AgentFile agent; }
namespace CodexHooks { extern const tarnel::AgentFile agent; }
namespace GeminiHooks { extern const tarnel::AgentFile agent; }
namespace CursorHooks { extern const tarnel::AgentFile agent; }
