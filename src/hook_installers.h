// The four agent installers. Each installs or removes Tarnel's "busy"
// heartbeat hook in one AI coding agent's settings file and returns the message
// to print; each fails with an exception whose what() is the whole message for
// the user.
#pragma once

#include <string>

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
