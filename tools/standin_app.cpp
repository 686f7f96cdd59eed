#include "standin_app.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "cli/command_text.h"
#include "util/write_all.h"

namespace standin {
namespace {

using Minutes = std::chrono::minutes;

constexpr const char* usageText =
    "usage: tarnel-standin [--delay-ms N] [--silent] [--replies N] [--empty] [--non-string]\n"
    "                      [--no-arg] [--text T] [--log FILE]\n";

/// How long an agent counts as busy after a heartbeat without a duration.
constexpr long defaultAgentMinutes = 10;
/// Longer holds are cut to this many minutes (about two years), far from overflow.
constexpr long longestHold = 1'000'000;

std::optional<long> parseNumber(std::string_view text) {
  long value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

std::optional<Options> parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--silent") {
      options.silent = true;
    } else if (arg == "--empty") {
      options.empty = true;
    } else if (arg == "--non-string") {
      options.nonString = true;
    } else if (arg == "--no-arg") {
      options.noArg = true;
    } else if (arg == "--text" && hasValue) {
      options.text = argv[++i];
    } else if (arg == "--log" && hasValue) {
      options.log = argv[++i];
    } else if (arg == "--delay-ms" && hasValue) {
      auto n = parseNumber(argv[++i]);
      if (!n) return std::nullopt;
      options.delayMs = *n;
    } else if (arg == "--replies" && hasValue) {
      auto n = parseNumber(argv[++i]);
      if (!n || *n > 1000) return std::nullopt;
      options.replies = static_cast<int>(*n);
    } else {
      return std::nullopt;
    }
  }
  return options;
}

/// Whole minutes from `now` to `end`, rounded up, in decimal.
std::string minutesLeft(Clock::time_point end, Clock::time_point now) {
  return std::to_string(std::chrono::ceil<Minutes>(end - now).count());
}

}  // namespace

std::optional<Options> parseOptions(int argc, char** argv) {
  auto options = parse(argc, argv);
  if (!options) fputs(usageText, stderr);
  return options;
}

std::string KeepAwake::apply(std::string_view command, Clock::time_point now) {
  if (command == "on") {
    manual_ = true;
  } else if (command == "off") {
    *this = KeepAwake();
  } else if (command.starts_with("extend ")) {
    auto minutes = parseNumber(command.substr(7));
    if (!minutes) return "Lệnh không rõ: " + std::string(command) + " — " + describe(now);
    timerEnd_ = std::max(now, timerEnd_.value_or(now)) + Minutes(std::min(*minutes, longestHold));
  } else if (isHeartbeat(command)) {
    std::optional<long> minutes;
    if (auto space = command.find(' '); space != std::string_view::npos)
      minutes = parseNumber(command.substr(space + 1));
    agentEnd_ = now + Minutes(std::min(minutes.value_or(defaultAgentMinutes), longestHold));
  } else if (command != "status") {
    return "Lệnh không rõ: " + std::string(command) + " — " + describe(now);
  }
  return describe(now);
}

std::string KeepAwake::describe(Clock::time_point now) const {
  std::vector<std::string> holds;
  if (manual_) holds.push_back("thủ công");
  if (timerEnd_ && *timerEnd_ > now) holds.push_back("hẹn giờ " + minutesLeft(*timerEnd_, now) + " phút");
  if (agentEnd_ && *agentEnd_ > now) holds.push_back("agent AI " + minutesLeft(*agentEnd_, now) + " phút");
  if (holds.empty()) return "Không giữ máy thức";
  std::string text = "Đang giữ máy thức: ";
  for (size_t i = 0; i < holds.size(); ++i) text += (i ? " + " : "") + holds[i];
  return text;
}

App::App(Options options) : options_(std::move(options)) {
  if (options_.log) logFd_ = open(options_.log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

App::~App() {
  if (logFd_ >= 0) close(logFd_);
}

std::vector<std::string> App::handle(std::string_view command) {
  if (logFd_ >= 0 && !writeAll(logFd_, std::string(command) + "\n")) fputs("tarnel-standin: cannot write the log\n", stderr);
  std::string reply = state_.apply(command, Clock::now());
  if (options_.silent) return {};
  if (options_.text) reply = *options_.text;
  if (options_.empty) reply.clear();
  std::vector<std::string> texts;
  for (int i = 1; i <= options_.replies; ++i)
    texts.push_back(options_.replies > 1 ? reply + " #" + std::to_string(i) : reply);
  return texts;
}

}  // namespace standin
