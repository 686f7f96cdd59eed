// tarnelctl: remote control for the Tarnel keep-awake application, and the
// installer of its "busy" heartbeat hook for AI coding agents.
#include <signal.h>
#include <unistd.h>

#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "messaging/app_messaging.h"
#include "cli/command_text.h"
#include "hooks/hook_installers.h"
#include "util/write_all.h"

namespace {

constexpr std::string_view usage =
    "usage: tarnelctl <command>\n"
    "  tarnelctl on            giữ máy thức (thủ công) / manual hold\n"
    "  tarnelctl off           gỡ giữ + hủy hẹn giờ + agent / release everything\n"
    "  tarnelctl 2h | 45m      giữ trong 2 giờ / 45 phút (timer)\n"
    "  tarnelctl extend 30     giữ thêm 30 phút\n"
    "  tarnelctl busy [phút]   nhịp \"đang bận\" cho agent AI (bỏ trống → theo Cài đặt)\n"
    "  tarnelctl status        trạng thái / current status\n"
    "\n"
    "  tarnelctl install-claude-hooks     bật tích hợp Claude Code (opt-in)\n"
    "  tarnelctl uninstall-claude-hooks   gỡ tích hợp\n"
    "  tarnelctl install-codex-hooks      bật tích hợp Codex (opt-in; cần /hooks trust)\n"
    "  tarnelctl uninstall-codex-hooks    gỡ tích hợp Codex\n"
    "  tarnelctl install-gemini-hooks     bật tích hợp Gemini CLI (opt-in)\n"
    "  tarnelctl uninstall-gemini-hooks   gỡ tích hợp Gemini\n"
    "  tarnelctl install-cursor-hooks     bật tích hợp Cursor (opt-in)\n"
    "  tarnelctl uninstall-cursor-hooks   gỡ tích hợp Cursor";

struct HookCommand {
  std::string_view word;
  std::string (*operation)();
};

constexpr HookCommand hookCommands[] = {
    {"install-claude-hooks", ClaudeHooks::install}, {"uninstall-claude-hooks", ClaudeHooks::uninstall},
    {"install-codex-hooks", CodexHooks::install},   {"uninstall-codex-hooks", CodexHooks::uninstall},
    {"install-gemini-hooks", GeminiHooks::install}, {"uninstall-gemini-hooks", GeminiHooks::uninstall},
    {"install-cursor-hooks", CursorHooks::install}, {"uninstall-cursor-hooks", CursorHooks::uninstall},
};

int runHookCommand(std::string (*operation)()) {
  try {
    writeAll(STDOUT_FILENO, operation() + "\n");
    return 0;
  } catch (const std::exception& error) {
    writeAll(STDERR_FILENO, std::string(error.what()) + "\n");
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that went away must not kill us before the exit status is set;
  // what it would not take is dropped, and the status still tells.
  signal(SIGPIPE, SIG_IGN);

  const std::vector<std::string_view> rawArgs(argv + (argc > 0 ? 1 : 0), argv + argc);

  if (!rawArgs.empty()) {
    for (const auto& command : hookCommands)
      if (rawArgs[0] == command.word) return runHookCommand(command.operation);
  }

  auto text = commandText(rawArgs);
  if (!text) {
    writeAll(STDOUT_FILENO, std::string(usage) + "\n");
    return 2;
  }
  if (isHeartbeat(*text)) {
    postCommand(*text);
    return 0;
  }
  if (auto reply = sendAndWait(*text)) {
    writeAll(STDOUT_FILENO, *reply + "\n");
    return 0;
  }
  writeAll(STDERR_FILENO, noReplyMessage);
  return 1;
}
