// The command that our hook makes an agent run, "<this program> busy", and
// how to know such a command again.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnel {

/// `path` as one POSIX shell word: as it is when every character is one of
/// A–Z a–z 0–9 / . _ - + , : @ % =, otherwise in single quotes, each single
/// quote written as '\''.
std::string shellWord(std::string_view path);

/// What our command ends with, so that the shell's status is 0 whatever
/// happens to the program: an agent blocks on some statuses (agents.h).
inline constexpr std::string_view neverFails = " || true";

/// The program that `command` runs when it is exactly one shell word, one
/// space and "busy", then perhaps `neverFails` (earlier versions wrote it
/// without); the word's quoting (single quotes, double quotes without
/// expansions, backslashes) removed. Nothing for any other command.
std::optional<std::string> busyProgram(std::string_view command);

/// The exit statuses that the shell may give "<program> busy" when `program`
/// is gone: 127 when nothing is at the path, 126 when what is there cannot
/// run; for a kernel alias, which is the agent's shell, 2 (dash) or 127 (bash)
/// for the script "busy" that it does not find.
std::vector<int> goneStatuses(const std::string& program);

/// What editing a settings file needs to know about programs.
struct HookRules {
  std::string program;  ///< the path of the program that our hook runs
  std::string command;  ///< the hook command text that install writes: `program` as a shell word, " busy"
  /// Whether `program` names the running executable, under any name.
  std::function<bool(const std::string& program)> isRunning;
  /// Whether `program` no longer exists as an executable file.
  std::function<bool(const std::string& program)> isGone;
  /// Whether nothing at all is left at `program`, an absolute path in a folder
  /// that still exists: uninstall takes out a `busy` hook of such a name, which
  /// earlier versions may have written through a link since deleted.
  std::function<bool(const std::string& program)> isDeadName;
};

/// Whether a hook that runs `program` is ours: its last component is
/// "tarnelctl", or it is the running executable under another name, or a
/// kernel alias such as /proc/self/exe (which `isGone` counts as gone).
bool isOurProgram(const std::string& program, const HookRules& rules);

/// The rules for the running program. Its path is found from the one it was
/// started by (for a bare name, the place on PATH the shell found it) when
/// that names the running executable: along its chain of symbolic links, the
/// first name whose last component is "tarnelctl" (a package manager's link
/// outlives upgrades; the versioned file behind it does not). Otherwise, and
/// for kernel aliases such as /proc/self/exe, the running executable's real path.
HookRules runningProgramRules();

}  // namespace tarnel
