// tarnel-standin: a small stand-in for the Tarnel application on the D-Bus
// session bus, for tests and the demo. It observes "dev.tarnel.command"
// requests (signal /dev/tarnel dev.tarnel.command, one string), keeps a
// keep-awake state in memory and answers every request, heartbeats included,
// with a one-line "dev.tarnel.status" reply. Options make it misbehave the
// ways the tests need.
#include <fcntl.h>
#include <signal.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Minutes = std::chrono::minutes;

constexpr const char* usageText =
    "usage: tarnel-standin [--delay-ms N] [--silent] [--replies N] [--empty] [--non-string]\n"
    "                      [--no-arg] [--text T] [--log FILE]\n";

struct Options {
  uint64_t delayMs = 0;       ///< reply this late
  bool silent = false;        ///< never reply
  int replies = 1;            ///< replies per request; with more than one, each ends in " #i"
  bool empty = false;         ///< reply the empty text
  bool nonString = false;     ///< reply with an integer argument instead of a string
  bool noArg = false;         ///< reply with a status signal without argument
  std::optional<std::string> text;  ///< reply exactly this instead of the state
  const char* log = nullptr;  ///< append every command text received to this file
};

std::optional<long> parseNumber(std::string_view text) {
  long value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

std::optional<Options> parseOptions(int argc, char** argv) {
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
      options.delayMs = static_cast<uint64_t>(*n);
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

/// What keeps the machine awake: a manual hold, a timer, an agent at work.
class KeepAwake {
public:
  /// Carries out `command` and returns the reply: the state afterwards.
  std::string apply(std::string_view command, Clock::time_point now) {
    if (command == "on") {
      manual_ = true;
    } else if (command == "off") {
      *this = KeepAwake();
    } else if (command.starts_with("extend ")) {
      auto minutes = parseNumber(command.substr(7));
      if (!minutes) return "Lệnh không rõ: " + std::string(command) + " — " + describe(now);
      timerEnd_ = std::max(now, timerEnd_.value_or(now)) + Minutes(std::min(*minutes, longestHold));
    } else if (command.starts_with("busy") || command.starts_with("working") || command.starts_with("heartbeat")) {
      std::optional<long> minutes;
      if (auto space = command.find(' '); space != std::string_view::npos)
        minutes = parseNumber(command.substr(space + 1));
      agentEnd_ = now + Minutes(std::min(minutes.value_or(defaultAgentMinutes), longestHold));
    } else if (command != "status") {
      return "Lệnh không rõ: " + std::string(command) + " — " + describe(now);
    }
    return describe(now);
  }

private:
  /// How long an agent counts as busy after a heartbeat without a duration.
  static constexpr long defaultAgentMinutes = 10;
  /// Longer holds are cut to this many minutes (about two years), far from overflow.
  static constexpr long longestHold = 1'000'000;

  /// Whole minutes from `now` to `end`, rounded up, in decimal.
  static std::string minutesLeft(Clock::time_point end, Clock::time_point now) {
    return std::to_string(std::chrono::ceil<Minutes>(end - now).count());
  }

  std::string describe(Clock::time_point now) const {
    std::vector<std::string> holds;
    if (manual_) holds.push_back("thủ công");
    if (timerEnd_ && *timerEnd_ > now) holds.push_back("hẹn giờ " + minutesLeft(*timerEnd_, now) + " phút");
    if (agentEnd_ && *agentEnd_ > now) holds.push_back("agent AI " + minutesLeft(*agentEnd_, now) + " phút");
    if (holds.empty()) return "Không giữ máy thức";
    std::string text = "Đang giữ máy thức: ";
    for (size_t i = 0; i < holds.size(); ++i) text += (i ? " + " : "") + holds[i];
    return text;
  }

  bool manual_ = false;
  std::optional<Clock::time_point> timerEnd_;
  std::optional<Clock::time_point> agentEnd_;
};

struct Standin {
  Options options;
  sd_bus* bus = nullptr;
  sd_event* event = nullptr;
  int logFd = -1;
  KeepAwake state;
};

void sendReply(Standin& app, const std::string& text) {
  sd_bus_message* message = nullptr;
  int r = sd_bus_message_new_signal(app.bus, &message, "/dev/tarnel", "dev.tarnel", "status");
  if (r >= 0) {
    if (app.options.nonString)
      r = sd_bus_message_append(message, "i", 42);
    else if (!app.options.noArg)
      r = sd_bus_message_append(message, "s", text.c_str());
  }
  if (r >= 0) r = sd_bus_send(app.bus, message, nullptr);
  if (r < 0) fprintf(stderr, "tarnel-standin: cannot send a reply: %s\n", strerror(-r));
  sd_bus_message_unref(message);
}

/// The replies to one request, sent together once their delay is over.
struct PendingReplies {
  Standin* app;
  std::vector<std::string> texts;
};

void sendAll(const PendingReplies& pending) {
  for (const auto& text : pending.texts) sendReply(*pending.app, text);
}

int onDelayOver(sd_event_source*, uint64_t, void* userdata) {
  sendAll(*static_cast<PendingReplies*>(userdata));
  return 0;
}

void deletePending(void* userdata) { delete static_cast<PendingReplies*>(userdata); }

void logCommand(const Standin& app, std::string_view command) {
  if (app.logFd < 0) return;
  std::string line = std::string(command) + "\n";
  if (write(app.logFd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
    fprintf(stderr, "tarnel-standin: cannot write the log\n");
}

int onCommand(sd_bus_message* message, void* userdata, sd_bus_error*) {
  auto& app = *static_cast<Standin*>(userdata);
  const char* command = nullptr;
  if (sd_bus_message_read(message, "s", &command) <= 0) return 0;  // not a command
  logCommand(app, command);
  std::string reply = app.state.apply(command, Clock::now());
  if (app.options.silent) return 0;
  if (app.options.text) reply = *app.options.text;
  if (app.options.empty) reply.clear();

  auto* pending = new PendingReplies{&app, {}};
  for (int i = 1; i <= app.options.replies; ++i)
    pending->texts.push_back(app.options.replies > 1 ? reply + " #" + std::to_string(i) : reply);
  if (app.options.delayMs == 0) {
    sendAll(*pending);
    delete pending;
    return 0;
  }
  sd_event_source* timer = nullptr;
  int r = sd_event_add_time_relative(app.event, &timer, CLOCK_MONOTONIC, app.options.delayMs * 1000, 0,
                                     onDelayOver, pending);
  if (r < 0) {
    delete pending;
    fprintf(stderr, "tarnel-standin: cannot delay a reply: %s\n", strerror(-r));
    return 0;
  }
  sd_event_source_set_destroy_callback(timer, deletePending);
  sd_event_source_set_floating(timer, 1);
  sd_event_source_unref(timer);
  return 0;
}

int onQuit(sd_event_source* source, const struct signalfd_siginfo*, void*) {
  return sd_event_exit(sd_event_source_get_event(source), 0);
}

int fail(const char* what, int r) {
  fprintf(stderr, "tarnel-standin: %s: %s\n", what, strerror(-r));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  auto options = parseOptions(argc, argv);
  if (!options) {
    fputs(usageText, stderr);
    return 2;
  }
  Standin app;
  app.options = *options;
  if (app.options.log) {
    app.logFd = open(app.options.log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (app.logFd < 0) return fail("cannot open the log", -errno);
  }

  sigset_t quitSignals;
  sigemptyset(&quitSignals);
  sigaddset(&quitSignals, SIGTERM);
  sigaddset(&quitSignals, SIGINT);
  sigprocmask(SIG_BLOCK, &quitSignals, nullptr);

  int r = sd_event_default(&app.event);
  if (r < 0) return fail("cannot make an event loop", r);
  for (int signal : {SIGTERM, SIGINT})
    if ((r = sd_event_add_signal(app.event, nullptr, signal, onQuit, nullptr)) < 0)
      return fail("cannot watch for signals", r);

  if ((r = sd_bus_open_user(&app.bus)) < 0) return fail("cannot connect to the session bus", r);
  // The stand-in goes when its bus goes.
  if ((r = sd_bus_set_exit_on_disconnect(app.bus, 1)) < 0) return fail("cannot set up the bus", r);
  // Synchronous: once it returns the match is in place and the tests may post.
  sd_bus_slot* slot = nullptr;
  r = sd_bus_match_signal(app.bus, &slot, nullptr, nullptr, "dev.tarnel", "command", onCommand, &app);
  if (r < 0) return fail("cannot observe requests", r);
  if ((r = sd_bus_attach_event(app.bus, app.event, SD_EVENT_PRIORITY_NORMAL)) < 0)
    return fail("cannot attach the bus", r);

  fputs("ready\n", stdout);
  fflush(stdout);

  r = sd_event_loop(app.event);
  sd_bus_slot_unref(slot);
  sd_bus_flush_close_unref(app.bus);
  sd_event_unref(app.event);
  if (app.logFd >= 0) close(app.logFd);
  return r < 0 ? fail("event loop failed", r) : 0;
}
