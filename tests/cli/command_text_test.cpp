#include "cli/command_text.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Case {
  std::vector<std::string_view> args;
  std::optional<std::string> text;  ///< nothing: the usage is shown
};

const std::optional<std::string> usage;

const Case cases[] = {
    // Help words count only first; nothing else is a word of ours.
    {{}, usage}, {{"help"}, usage}, {{"-h"}, usage}, {{"--help"}, usage}, {{"help", "on"}, usage},
    {{"on", "--help"}, "on --help"}, {{"HELP"}, "HELP"}, {{"-H"}, "-H"},
    {{"on"}, "on"}, {{"extend", "30"}, "extend 30"}, {{"busy", "20"}, "busy 20"}, {{"busy 20"}, "busy 20"},
    {{""}, ""}, {{"", ""}, " "}, {{"tiếng", "Việt ✓"}, "tiếng Việt ✓"},
    // Timers: a lone first argument, ASCII digits, h, m, ʼ or nothing.
    {{"2h"}, "extend 120"}, {{"45m"}, "extend 45"}, {{"45"}, "extend 45"}, {{"45\u02BC"}, "extend 45"},
    {{"0h"}, "extend 0"}, {{"007m"}, "extend 7"},
    {{"2H"}, "2H"}, {{"45'"}, "45'"}, {{"45\u2032"}, "45\u2032"}, {{"1.5h"}, "1.5h"}, {{"2hm"}, "2hm"},
    {{"+5m"}, "+5m"}, {{"-5"}, "-5"}, {{"5 m"}, "5 m"}, {{"h"}, "h"}, {{"2", "h"}, "2 h"}, {{"45m", "x"}, "45m x"},
    {{"\u0663"}, "\u0663"}, {{"1\u0663m"}, "1\u0663m"},
    // 64-bit limits: too many minutes is 0; too many hours for minutes is no command at all.
    {{"9223372036854775807"}, "extend 9223372036854775807"}, {{"9223372036854775808"}, "extend 0"},
    {{"00000000000000000001"}, "extend 1"}, {{"153722867280912930h"}, "extend 9223372036854775800"},
    {{"153722867280912931h"}, usage}, {{"9223372036854775808h"}, "extend 0"},
};

TEST(CommandText, TranslatesArguments) {
  for (const auto& c : cases) EXPECT_EQ(commandText(c.args), c.text) << testing::PrintToString(c.args);
}

TEST(CommandText, HeartbeatIsAPrefixTestOnTheWholeText) {
  for (std::string_view text : {"busy", "busy 20", "busybody", "working", "heartbeat now"}) EXPECT_TRUE(isHeartbeat(text));
  for (std::string_view text : {"status", "Busy", " busy", "bus", ""}) EXPECT_FALSE(isHeartbeat(text)) << text;
}

}  // namespace
