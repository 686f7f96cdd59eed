#include "cli/command_text.h"

#include <cstdint>
#include <limits>

namespace {

/// A timer argument split into its digits and its unit ("h", "m", "ʼ" or empty).
struct Timer {
  std::string_view digits;
  std::string_view unit;
};

/// Matches the whole of `arg` against one or more digits followed by an
/// optional unit: "h" (hours), "m" or "ʼ" (U+02BC, minutes).
std::optional<Timer> matchTimer(std::string_view arg) {
  size_t n = 0;
  while (n < arg.size() && arg[n] >= '0' && arg[n] <= '9') ++n;
  if (n == 0) return std::nullopt;
  std::string_view unit = arg.substr(n);
  if (unit.empty() || unit == "h" || unit == "m" || unit == "\xCA\xBC") return Timer{arg.substr(0, n), unit};
  return std::nullopt;
}

/// The decimal value of `digits` (ASCII digits, leading zeros allowed), or 0
/// when it exceeds the largest signed 64-bit integer.
int64_t toInt64(std::string_view digits) {
  constexpr int64_t max = std::numeric_limits<int64_t>::max();
  int64_t value = 0;
  for (char c : digits) {
    int digit = c - '0';
    if (value > (max - digit) / 10) return 0;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace

std::optional<std::string> commandText(std::span<const std::string_view> args) {
  if (args.empty()) return std::nullopt;
  for (auto word : helpWords)
    if (args[0] == word) return std::nullopt;

  if (args.size() == 1) {
    if (auto timer = matchTimer(args[0])) {
      int64_t minutes = toInt64(timer->digits);
      if (timer->unit == "h") {
        if (minutes > std::numeric_limits<int64_t>::max() / 60) return std::nullopt;
        minutes *= 60;
      }
      return "extend " + std::to_string(minutes);
    }
  }

  std::string text;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i > 0) text += ' ';
    text += args[i];
  }
  return text;
}

bool isHeartbeat(std::string_view text) {
  for (auto prefix : heartbeatPrefixes)
    if (text.starts_with(prefix)) return true;
  return false;
}
