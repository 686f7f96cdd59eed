// What the two stand-in applications share, apart from their transport: the
// options that make them misbehave, the keep-awake state they keep in memory,
// and the replies they send to one request.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

using Clock = std::chrono::steady_clock;

struct Options {
  long delayMs = 0;                 ///< reply this late
  bool silent = false;              ///< never reply
  int replies = 1;                  ///< replies per request; with more than one, each ends in " #i"
  bool empty = false;               ///< reply the empty text
  bool nonString = false;           ///< reply with an integer instead of a string (D-Bus only)
  bool noArg = false;               ///< reply with a status signal without argument (D-Bus only)
  std::optional<std::string> text;  ///< reply exactly this instead of the state
  const char* log = nullptr;        ///< append every command text received to this file
};

/// The options of `argv`, or nothing (after printing the usage) when they are wrong.
std::optional<Options> parseOptions(int argc, char** argv);

/// What keeps the machine awake: a manual hold, a timer, an agent at work.
class KeepAwake {
public:
  /// Carries out `command` and returns the reply: the state afterwards.
  std::string apply(std::string_view command, Clock::time_point now);

private:
  std::string describe(Clock::time_point now) const;

  bool manual_ = false;
  std::optional<Clock::time_point> timerEnd_;
  std::optional<Clock::time_point> agentEnd_;
};

/// A stand-in application without its transport.
class App {
public:
  explicit App(Options options);
  ~App();
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  const Options& options() const { return options_; }
  /// False when the log could not be opened.
  bool ok() const { return !options_.log || logFd_ >= 0; }

  /// Logs `command`, carries it out and returns the texts to reply, in order.
  std::vector<std::string> handle(std::string_view command);

private:
  Options options_;
  int logFd_ = -1;
  KeepAwake state_;
};

}  // namespace standin
