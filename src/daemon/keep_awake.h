// What keeps the machine awake, as tarneld decides it: a manual hold, a timer
// and an agent at work, each until its own end, and the replies to commands.
// Pure: the caller passes the time in, so that the tests drive the clock, and
// the bus and logind stay outside.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace tarneld {

using TimePoint = std::chrono::system_clock::time_point;

/// The longest that a heartbeat keeps the machine awake, in minutes (24 h),
/// and the furthest ahead that a timer may end (7 days): a longer hold is
/// cut to it, and the reply says so.
inline constexpr long longestAgentHold = 24 * 60;
inline constexpr long longestTimer = 7 * 24 * 60;

struct Settings {
  long agentMinutes = 10;  ///< how long an agent counts as busy after a heartbeat that names no minutes
};

/// What a command turned out to be.
enum class Outcome { heartbeat, done, unknown };

/// The holds and their ends; all of it lives in memory and costs a heartbeat no allocation.
class KeepAwake {
public:
  explicit KeepAwake(Settings settings = {}) : settings_(settings) {}
  void setSettings(Settings settings) { settings_ = settings; }

  /// Carries out `command` at `now`.
  Outcome apply(std::string_view command, TimePoint now);
  /// Whether anything holds at `now`.
  bool holding(TimePoint now) const;
  /// The earliest end of a timed hold after `now`, if one holds.
  std::optional<TimePoint> nextEnd(TimePoint now) const;
  /// What holds at `now`, without times, for the inhibitor: "manual, agent at work".
  std::string reason(TimePoint now) const;
  /// One line: "awake — manual; agent busy until 14:05", or that nothing holds.
  /// The reply to an extend that was cut to the longest says so; an agent hold
  /// says so while it lasts, as a heartbeat gets no reply.
  std::string status(TimePoint now) const;

private:
  Settings settings_;
  bool manual_ = false;
  std::optional<TimePoint> timerEnd_;
  std::optional<TimePoint> agentEnd_;
  bool timerCut_ = false;  ///< whether the last command, an extend, was cut to the longest
  bool agentCut_ = false;  ///< whether the last heartbeat was
};

/// The reply to a command that is not ours.
std::string unknownCommand(std::string_view command);

}  // namespace tarneld
