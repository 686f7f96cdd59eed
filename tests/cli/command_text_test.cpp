#include "cli/command_text.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Case {
  std::vector<std::string_view> args;
  std::optional<std::string> text;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << "{";
  for (auto a : c.args) *os << '"' << a << "\" ";
  *os << "} -> " << (c.text ? '"' + *c.text + '"' : std::string("absent"));
}

class CommandTextTest : public ::testing::TestWithParam<Case> {};

TEST_P(CommandTextTest, Translates) {
  const auto& c = GetParam();
  EXPECT_EQ(commandText(c.args), c.text);
}

const std::optional<std::string> absent;

INSTANTIATE_TEST_SUITE_P(HelpAndEmpty, CommandTextTest, ::testing::Values(
  Case{{}, absent},
  Case{{"help"}, absent}, Case{{"-h"}, absent}, Case{{"--help"}, absent},
  Case{{"help", "on"}, absent},
  Case{{"on", "--help"}, "on --help"}, Case{{"status", "help"}, "status help"},
  Case{{"HELP"}, "HELP"}, Case{{"-H"}, "-H"}));

INSTANTIATE_TEST_SUITE_P(PassedThrough, CommandTextTest, ::testing::Values(
  Case{{"on"}, "on"}, Case{{"off"}, "off"}, Case{{"status"}, "status"},
  Case{{"extend", "30"}, "extend 30"}, Case{{"busy"}, "busy"}, Case{{"busy", "20"}, "busy 20"},
  Case{{"busy 20"}, "busy 20"},
  Case{{""}, ""}, Case{{"", ""}, " "},
  Case{{"tiếng", "Việt ✓"}, "tiếng Việt ✓"}));

INSTANTIATE_TEST_SUITE_P(Timer, CommandTextTest, ::testing::Values(
  Case{{"2h"}, "extend 120"}, Case{{"45m"}, "extend 45"}, Case{{"45"}, "extend 45"},
  Case{{"45\u02BC"}, "extend 45"}, Case{{"0h"}, "extend 0"}, Case{{"007m"}, "extend 7"},
  Case{{"0"}, "extend 0"}));

INSTANTIATE_TEST_SUITE_P(NotATimer, CommandTextTest, ::testing::Values(
  Case{{"2H"}, "2H"}, Case{{"45'"}, "45'"}, Case{{"45\u2032"}, "45\u2032"}, Case{{"1.5h"}, "1.5h"},
  Case{{"2hm"}, "2hm"}, Case{{"+5m"}, "+5m"}, Case{{"-5"}, "-5"}, Case{{"5 m"}, "5 m"}, Case{{"h"}, "h"},
  Case{{"2", "h"}, "2 h"}, Case{{"45m", "x"}, "45m x"},
  // Digits of other scripts are no timer here: never another number than 0.
  Case{{"\u0663"}, "\u0663"}, Case{{"1\u0663m"}, "1\u0663m"}));

INSTANTIATE_TEST_SUITE_P(SixtyFourBitLimits, CommandTextTest, ::testing::Values(
  Case{{"9223372036854775807"}, "extend 9223372036854775807"},
  Case{{"9223372036854775808"}, "extend 0"},
  Case{{"99999999999999999999999"}, "extend 0"},
  Case{{"00000000000000000001"}, "extend 1"},
  Case{{"0000000000009223372036854775807m"}, "extend 9223372036854775807"},
  Case{{"153722867280912930h"}, "extend 9223372036854775800"},
  // Minutes past the limit have no command text: the usage is shown instead.
  Case{{"153722867280912931h"}, absent},
  Case{{"9223372036854775808h"}, "extend 0"}));

TEST(HeartbeatTest, PrefixTestOnTheWholeText) {
  for (std::string_view text : {"busy", "busy 20", "busybody", "working", "heartbeat now"})
    EXPECT_TRUE(isHeartbeat(text)) << text;
  for (std::string_view text : {"status", "Busy", " busy", "bus", "on", ""})
    EXPECT_FALSE(isHeartbeat(text)) << text;
}

}  // namespace
