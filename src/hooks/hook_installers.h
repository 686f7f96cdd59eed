// The four agent installers. Each installs or removes Tarnel's "busy"
// heartbeat hook in one AI coding agent's settings file and returns the message
// to print; each fails with an exception whose what() is the whole message for
// the user.
#pragma once

#include <stdexcept>
#include <string>

/// Everything the installers fail with: a settings file that cannot be read,
/// parsed, trusted or written. what() names the file and says what is wrong.
class SettingsError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Each installer's own error, with the single case `notAnObject`: the settings
// file's top level is not a JSON object. Any two values of one type are equal.

class HookError : public SettingsError {
public:
  static HookError notAnObject();
  bool operator==(const HookError&) const { return true; }

private:
  using SettingsError::SettingsError;
};

class CodexHookError : public SettingsError {
public:
  static CodexHookError notAnObject();
  bool operator==(const CodexHookError&) const { return true; }

private:
  using SettingsError::SettingsError;
};

class GeminiHookError : public SettingsError {
public:
  static GeminiHookError notAnObject();
  bool operator==(const GeminiHookError&) const { return true; }

private:
  using SettingsError::SettingsError;
};

class CursorHookError : public SettingsError {
public:
  static CursorHookError notAnObject();
  bool operator==(const CursorHookError&) const { return true; }

private:
  using SettingsError::SettingsError;
};

namespace ClaudeHooks {
std::string install();
std::string uninstall();
}  // namespace ClaudeHooks

namespace CodexHooks {
std::string install();
std::string uninstall();
}  // namespace CodexHooks

namespace GeminiHooks {
std::string install();
std::string uninstall();
}  // namespace GeminiHooks

namespace CursorHooks {
std::string install();
std::string uninstall();
}  // namespace CursorHooks
