// tarnelctl: remote control for the Tarnel keep-awake application, and the
// installer of its "busy" heartbeat hook for AI coding agents.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_options.h"
#include "cli/command_text.h"
#include "cli/doctor.h"
#include "cli/version.h"
#include "messaging/app_messaging.h"
#include "hooks/agents.h"
#include "hooks/hook_commands.h"
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

/// Prints `text` and a newline. When standard output refuses it, says so
/// on standard error and turns `status` into 1; `done` tells what happened all the same.
int print(const std::string& text, int status, std::string_view done = "") {
  if (writeAll(STDOUT_FILENO, text + "\n")) return status;
  std::string error = "tarnelctl: cannot write to standard output: " + std::string(std::strerror(errno));
  writeAll(STDERR_FILENO, error + std::string(done) + "\n");
  return 1;
}

/// Says that `word` is no argument of `command`: a usage error.
int unexpected(std::string_view command, std::string_view word) {
  writeAll(STDERR_FILENO, "tarnelctl: " + std::string(command) + ": unexpected argument '" + std::string(word) + "'\n");
  return 2;
}

int runHook(const tarnel::HookCommand& command, bool dryRun) {
  try {
    auto outcome = tarnel::runHookCommand(command, dryRun);
    if (dryRun) return print(outcome.diff + outcome.message + (outcome.wrote ? "\nDry run — nothing was changed." : ""), 0);
    return print(outcome.message, 0, outcome.wrote ? " — the settings file was changed all the same." : "");
  } catch (const std::exception& error) {
    writeAll(STDERR_FILENO, std::string(error.what()) + "\n");
    return 1;
  }
}

int doctor() {
  const char* noColor = std::getenv("NO_COLOR");
  auto report = doctorReport(sendAndWait("status"), isatty(STDOUT_FILENO) && !(noColor && *noColor));
  return print(report.text, report.status);
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that went away must not kill us: the write fails, and we say so.
  signal(SIGPIPE, SIG_IGN);

  const std::vector<std::string_view> rawArgs(argv + (argc > 0 ? 1 : 0), argv + argc);
  const std::string_view first = rawArgs.empty() ? "" : rawArgs[0];

  // Our own words; nothing after them may go unnoticed.
  const auto hook = tarnel::hookCommand(first);
  if (hook || first == "--version" || first == "doctor") {
    auto options = commandOptions(std::span(rawArgs).subspan(1), hook.has_value());
    if (options.help) return print(std::string(usage), 2);
    if (options.unexpected) return unexpected(first, *options.unexpected);
    if (hook) return runHook(*hook, options.dryRun);
    return first == "doctor" ? doctor() : print("tarnelctl " + std::string(programVersion), 0);
  }

  // Everything else is command text for the application.
  auto text = commandText(rawArgs);
  if (!text) return print(std::string(usage), 2);
  if (isHeartbeat(*text)) {
    postCommand(*text);
    return 0;
  }
  if (auto reply = sendAndWait(*text).reply) return print(*reply, 0);
  writeAll(STDERR_FILENO, noReplyMessage);
  return 1;
}
