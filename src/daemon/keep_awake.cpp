#include "daemon/keep_awake.h"

#include <time.h>

#include <algorithm>
#include <charconv>
#include <limits>

#include "cli/command_text.h"

namespace tarneld {
namespace {

using std::chrono::minutes;

/// `text` as a count of minutes: decimal digits only; the largest long for more.
std::optional<long> parseMinutes(std::string_view text) {
  if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  long value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() ? value : std::numeric_limits<long>::max();
}

/// The end of a hold of `length` minutes from `from`, at most `longest`
/// minutes after `now`; `cut` tells whether it was cut to that.
TimePoint holdEnd(TimePoint now, TimePoint from, long length, long longest, bool& cut) {
  TimePoint end = from + minutes(std::min(length, longest)), latest = now + minutes(longest);
  cut = length > longest || end > latest;
  return std::min(end, latest);
}

std::string cutNote(bool cut, std::string_view longest) {
  return cut ? " (cut to the longest, " + std::string(longest) + ")" : "";
}

/// `end` in local time: "14:05" on the day of `now`, else "2026-12-07 14:05".
std::string clockTime(TimePoint end, TimePoint now) {
  time_t endSeconds = std::chrono::system_clock::to_time_t(end);
  time_t nowSeconds = std::chrono::system_clock::to_time_t(now);
  tm endTm{}, nowTm{};
  localtime_r(&endSeconds, &endTm);
  localtime_r(&nowSeconds, &nowTm);
  bool sameDay = endTm.tm_year == nowTm.tm_year && endTm.tm_yday == nowTm.tm_yday;
  char text[32];
  size_t length = strftime(text, sizeof text, sameDay ? "%H:%M" : "%Y-%m-%d %H:%M", &endTm);
  return std::string(text, length);
}

bool after(const std::optional<TimePoint>& end, TimePoint now) { return end && *end > now; }

}  // namespace

Outcome KeepAwake::apply(std::string_view command, TimePoint now) {
  if (isHeartbeat(command)) {
    // "busy 20" names its minutes; any other heartbeat takes the settings'.
    std::optional<long> given;
    if (auto space = command.find(' '); space != std::string_view::npos) given = parseMinutes(command.substr(space + 1));
    agentEnd_ = holdEnd(now, now, given.value_or(settings_.agentMinutes), longestAgentHold, agentCut_);
    return Outcome::heartbeat;
  }
  timerCut_ = false;  // said only in the reply to the extend that was cut
  if (command == "on") {
    manual_ = true;
  } else if (command == "off") {
    manual_ = false;
    timerEnd_.reset();
    agentEnd_.reset();
  } else if (command.starts_with("extend ")) {
    auto more = parseMinutes(command.substr(7));
    if (!more) return Outcome::unknown;
    timerEnd_ = holdEnd(now, std::max(now, timerEnd_.value_or(now)), *more, longestTimer, timerCut_);
  } else if (command != "status") {
    return Outcome::unknown;
  }
  return Outcome::done;
}

bool KeepAwake::holding(TimePoint now) const { return manual_ || after(timerEnd_, now) || after(agentEnd_, now); }

std::optional<TimePoint> KeepAwake::nextEnd(TimePoint now) const {
  std::optional<TimePoint> next;
  for (const auto& end : {timerEnd_, agentEnd_})
    if (after(end, now) && (!next || *end < *next)) next = end;
  return next;
}

std::string KeepAwake::reason(TimePoint now) const {
  std::string text;
  if (manual_) text = "manual";
  if (after(timerEnd_, now)) text += text.empty() ? "timer" : ", timer";
  if (after(agentEnd_, now)) text += text.empty() ? "agent at work" : ", agent at work";
  return text;
}

std::string KeepAwake::status(TimePoint now) const {
  std::string holds;
  if (manual_) holds = "manual";
  if (after(timerEnd_, now))
    holds += (holds.empty() ? "" : "; ") + ("timer until " + clockTime(*timerEnd_, now)) + cutNote(timerCut_, "7 days");
  if (after(agentEnd_, now))
    holds += (holds.empty() ? "" : "; ") + ("agent busy until " + clockTime(*agentEnd_, now)) + cutNote(agentCut_, "24 h");
  return holds.empty() ? "nothing holds — the machine may sleep" : "awake — " + holds;
}

std::string unknownCommand(std::string_view command) { return "unknown command: " + std::string(command); }

}  // namespace tarneld
