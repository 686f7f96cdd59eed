// tarneld's state in process: one sequence of commands and clock steps, with
// the reply, whether anything holds and when the next timed hold ends after
// each; and its settings file.
#include <gtest/gtest.h>

#include <cstdlib>

#include "daemon/daemon_settings.h"
#include "daemon/keep_awake.h"

namespace {

using namespace tarneld;
using std::chrono::minutes;

constexpr const char* none = "nothing holds — the machine may sleep";

/// After `wait` minutes, `command`; then the reply ("" for none), whether anything holds, and the
/// next end in minutes from the start (-1: none).
struct Step {
  int wait;
  const char* command;
  const char* reply;
  bool holding;
  long nextEnd;
} const steps[] = {
  {0, "on", "awake — manual", true, -1},
  {5, "off", none, false, -1},
  {0, "extend 30", "awake — timer until 14:35", true, 35},
  {10, "extend 30", "awake — timer until 15:05", true, 65},  // from the timer's end, which is later
  {0, "busy", "", true, 40},                                 // the settings' 25 minutes
  {0, "status", "awake — timer until 15:05; agent busy until 14:40", true, 40},
  {0, "busy 1", "", true, 16},                               // the last heartbeat counts, even a shorter one
  {0, "on", "awake — manual; timer until 15:05; agent busy until 14:16", true, 16},
  {1, "heartbeat 3", "", true, 19},
  {60, "status", "awake — manual", true, -1},                // 15:16: the timer and the agent are over
  {0, "extend 5", "awake — manual; timer until 15:21", true, 81},  // from now, the timer being over
  {0, "off", none, false, -1},
  {0, "extend", "unknown command: extend", false, -1},
  {0, "ON", "unknown command: ON", false, -1},
  {0, "extend 99999999999999999999", "awake — timer until 2026-12-13 15:16 (cut to the longest, 7 days)", true, 76 + longestTimer},
  {0, "busy 99999999999", "", true, 76 + longestAgentHold},
  {0, "status", "awake — timer until 2026-12-13 15:16; agent busy until 2026-12-07 15:16 (cut to the longest, 24 h)",
   true, 76 + longestAgentHold},  // the cut timer said so in its own reply only; a heartbeat has none
  {0, "busy 0", "", true, 76 + longestTimer},                 // over at once
  {0, "off", none, false, -1},
  {0, "extend 10080", "awake — timer until 2026-12-13 15:16", true, 76 + longestTimer},  // the longest, not cut
  {0, "extend 1", "awake — timer until 2026-12-13 15:16 (cut to the longest, 7 days)", true, 76 + longestTimer},
  {0, "on", "awake — manual; timer until 2026-12-13 15:16", true, 76 + longestTimer},
};

TEST(KeepAwakeTest, EachStepRepliesHoldsAndEndsAsExpected) {
  setenv("TZ", "UTC", 1);
  const TimePoint start = std::chrono::sys_days{std::chrono::December / 6 / 2026} + std::chrono::hours(14);
  KeepAwake state(Settings{25});
  TimePoint now = start;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.command);
    Outcome outcome = state.apply(step.command, now += minutes(step.wait));
    EXPECT_EQ(outcome == Outcome::heartbeat ? "" : outcome == Outcome::unknown ? unknownCommand(step.command) : state.status(now), step.reply);
    EXPECT_EQ(state.holding(now), step.holding);
    EXPECT_EQ(state.nextEnd(now) ? (*state.nextEnd(now) - start) / minutes(1) : -1, step.nextEnd);
  }
}

TEST(DaemonSettingsTest, AgentMinutesOrTheDefaultsWithTheLineAndWhatIsWrong) {
  const std::tuple<std::string, long, std::string> cases[] = {
    {"", 10, ""},
    {"# minutes\r\n\n  agent-minutes =  25 \r\n", 25, ""},
    {"agent-minutes = 1441", 10, "line 1: agent-minutes must be a whole number of minutes from 1 to 1440"},
    {"agent-minutes = 5\n\nagent = 5\n", 10, "line 3: unknown setting \"agent\" (known: agent-minutes)"},
    {"agent-minutes 5", 10, "line 1: expected \"name = value\""},
    {"\xEF\xBB\xBF agent-minutes = 7", 7, ""},
  };
  for (const auto& [text, minutes, problem] : cases)
    EXPECT_EQ(std::pair(parseSettings(text).settings.agentMinutes, parseSettings(text).problem), std::pair(minutes, problem)) << text;
  EXPECT_EQ(loadSettings("/").problem, "/: is not a file; using the defaults");
}

}  // namespace
