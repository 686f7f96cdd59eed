// End to end: the real tarnelctl against a private session bus, with our
// stand-in application, or with dbus-send and dbus-monitor on the other side.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <thread>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
namespace ts = testing_support;
using namespace std::chrono_literals;
using Args = std::vector<std::string>;

const std::string noReply = "Tarnel không phản hồi — app đang chạy chứ?\n";

// The usage text, byte for byte, as the user must see it.
const std::string usage = ts::readFile(fs::path(SOURCE_DIR) / "tests" / "fixtures" / "usage.txt");

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

/// A private bus, the processes started on it, and the stand-in's log of the
/// command texts that reached it.
class MessagingTest : public ::testing::Test {
protected:
  ~MessagingTest() override {
    for (pid_t pid : children_) ts::killAndReap(pid);
  }

  fs::path logPath() const { return dir_.path() / "commands.log"; }

  /// Starts `argv` on the bus; it is killed when the test ends.
  pid_t start(const Args& argv, int* stdoutFd = nullptr) {
    pid_t pid = ts::spawn(argv, bus_.env(), stdoutFd);
    children_.push_back(pid);
    return pid;
  }

  /// Starts the stand-in application with `options` and waits until it observes requests.
  void startStandin(const Args& options) {
    Args argv{STANDIN_PATH, "--log", logPath().string()};
    argv.insert(argv.end(), options.begin(), options.end());
    int out = -1;
    start(argv, &out);
    auto line = ts::readLine(out, 10s);
    close(out);
    if (line != "ready") throw std::runtime_error("the stand-in did not start");
  }

  ts::RunResult tarnelctl(const Args& args) { return tarnelctl(args, bus_.env()); }
  ts::RunResult tarnelctl(const Args& args, const ts::EnvChanges& env) {
    Args argv{TARNELCTL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return ts::run(argv, env);
  }

  /// The command texts that reached the stand-in, once `count` have (or after 5 s).
  std::vector<std::string> received(size_t count) {
    auto deadline = std::chrono::steady_clock::now() + 5s;
    for (;;) {
      auto texts = lines(ts::readFile(logPath()));
      if (texts.size() >= count || std::chrono::steady_clock::now() > deadline) return texts;
      std::this_thread::sleep_for(10ms);
    }
  }

  ts::TempDir dir_;
  ts::PrivateBus bus_;
  std::vector<pid_t> children_;
};

void expectNoReply(const ts::RunResult& r) {
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, noReply);
  EXPECT_EQ(r.status, 1);
}

void expectSilentSuccess(const ts::RunResult& r) {
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_LT(r.elapsed, 1s);
}

/// Cases print as their name, so that test names stay short and on one line.
template <class Case>
  requires requires(const Case& c) { c.name; }
void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

// --- Replies --------------------------------------------------------------

struct ReplyCase {
  const char* name;
  Args standin;     ///< the stand-in's options
  std::string out;  ///< what `tarnelctl status` prints
};

class ReplyTest : public MessagingTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyTest, PrintedVerbatimWithOneNewline) {
  startStandin(GetParam().standin);
  auto r = tarnelctl({"status"});
  EXPECT_EQ(r.out, GetParam().out);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(received(1), Args{"status"});
}

INSTANTIATE_TEST_SUITE_P(Replies, ReplyTest, ::testing::Values(
  ReplyCase{"multi-line", {"--text", "Đang giữ — ✓\nline 2"}, "Đang giữ — ✓\nline 2\n"},
  ReplyCase{"trailing-newline", {"--text", "ends in a newline\n"}, "ends in a newline\n\n"},
  ReplyCase{"empty", {"--empty"}, "\n"},
  ReplyCase{"late", {"--delay-ms", "500", "--text", "late but in time"}, "late but in time\n"}));

class IgnoredReplyTest : public MessagingTest, public ::testing::WithParamInterface<Args> {};

TEST_P(IgnoredReplyTest, EndsInTheNoReplyMessageAfterTheWait) {
  startStandin(GetParam());
  auto r = tarnelctl({"status"});
  expectNoReply(r);
  EXPECT_GE(r.elapsed, 1.9s);
  EXPECT_LE(r.elapsed, 3s);
  EXPECT_EQ(received(1), Args{"status"});
}

INSTANTIATE_TEST_SUITE_P(Replies, IgnoredReplyTest, ::testing::Values(
  Args{"--silent"}, Args{"--non-string"}, Args{"--no-arg"},
  Args{"--delay-ms", "2600", "--text", "too late"}));

TEST_F(MessagingTest, LastOfSeveralHandledRepliesWins) {
  startStandin({"--text", "reply", "--replies", "3", "--delay-ms", "300"});
  int out = -1;
  pid_t pid = ts::spawn({TARNELCTL_PATH, "status"}, bus_.env(), &out);
  // Freeze tarnelctl while the three replies arrive, so that all of them are
  // waiting for it when it handles the first.
  received(1);
  kill(pid, SIGSTOP);
  std::this_thread::sleep_for(800ms);
  kill(pid, SIGCONT);
  std::string printed;
  while (auto line = ts::readLine(out, 5s)) printed += *line + "\n";
  close(out);
  int raw = 0;
  waitpid(pid, &raw, 0);
  EXPECT_EQ(printed, "reply #3\n");
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0);
}

// --- What goes out ---------------------------------------------------------

struct SentCase {
  const char* name;
  Args args;
  std::string text;  ///< the command text that reaches the application
};

class HeartbeatTest : public MessagingTest, public ::testing::WithParamInterface<SentCase> {};

TEST_P(HeartbeatTest, PostedWithoutWaitingOrPrinting) {
  startStandin({});
  expectSilentSuccess(tarnelctl(GetParam().args));
  EXPECT_EQ(received(1), Args{GetParam().text});
}

INSTANTIATE_TEST_SUITE_P(Heartbeats, HeartbeatTest, ::testing::Values(
  SentCase{"busy", {"busy"}, "busy"}, SentCase{"busy-20", {"busy", "20"}, "busy 20"},
  SentCase{"working", {"working"}, "working"}, SentCase{"heartbeat", {"heartbeat"}, "heartbeat"},
  SentCase{"busybody", {"busybody"}, "busybody"}));

class RequestTest : public MessagingTest, public ::testing::WithParamInterface<SentCase> {};

TEST_P(RequestTest, CommandTextArrivesOnceAndTheReplyIsPrinted) {
  startStandin({"--text", "ok"});
  auto r = tarnelctl(GetParam().args);
  EXPECT_EQ(r.out, "ok\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(received(1), Args{GetParam().text});
}

INSTANTIATE_TEST_SUITE_P(Requests, RequestTest, ::testing::Values(
  SentCase{"2h", {"2h"}, "extend 120"}, SentCase{"extend-30", {"extend", "30"}, "extend 30"},
  SentCase{"on", {"on"}, "on"}, SentCase{"Busy-is-a-request", {"Busy"}, "Busy"},
  SentCase{"non-ascii", {"tiếng", "Việt ✓"}, "tiếng Việt ✓"}));

TEST_F(MessagingTest, UsageWithoutCommandTextPostsNothing) {
  startStandin({});
  for (const Args& args : {Args{}, Args{"--help"}}) {
    auto r = tarnelctl(args);
    EXPECT_EQ(r.out, usage + "\n") << testing::PrintToString(args);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 2);
  }
  // The first text the application sees is the one sent after them.
  EXPECT_EQ(tarnelctl({"status"}).status, 0);
  EXPECT_EQ(received(1), Args{"status"});
}

// --- A bus that is missing or does not answer ------------------------------

class NoBusTest : public ::testing::TestWithParam<ts::EnvChanges> {};

TEST_P(NoBusTest, HeartbeatSucceedsSilentlyAndRequestGetsNoReply) {
  ts::EnvChanges env = GetParam();
  expectSilentSuccess(ts::run({TARNELCTL_PATH, "busy"}, env));
  expectNoReply(ts::run({TARNELCTL_PATH, "status"}, env));
}

INSTANTIATE_TEST_SUITE_P(Environments, NoBusTest, ::testing::Values(
  ts::EnvChanges{{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tarnel-test/bus"},
                 {"XDG_RUNTIME_DIR", std::nullopt}},
  ts::EnvChanges{{"DBUS_SESSION_BUS_ADDRESS", std::nullopt}, {"XDG_RUNTIME_DIR", std::nullopt}},
  ts::EnvChanges{{"DBUS_SESSION_BUS_ADDRESS", std::nullopt}, {"XDG_RUNTIME_DIR", "/nonexistent/tarnel-test"}}));

TEST_F(MessagingTest, StoppedBusNeitherStallsAHeartbeatNorARequest) {
  bus_.pause();
  expectSilentSuccess(tarnelctl({"busy"}));
  auto r = tarnelctl({"status"});
  expectNoReply(r);
  EXPECT_LT(r.elapsed, 3s);
}

// --- Clients we did not write ----------------------------------------------

/// One message as dbus-monitor prints it: its header line and its argument lines.
struct Monitored {
  std::string header;
  Args arguments;
};

TEST_F(MessagingTest, DbusMonitorSeesPathInterfaceMemberAndOneStringArgument) {
  startStandin({});
  int out = -1;
  start({"dbus-monitor", "--session", "type='signal',interface='dev.tarnel'"}, &out);
  // dbus-monitor has become a monitor when it loses its own name.
  while (auto line = ts::readLine(out, 10s))
    if (line->ends_with("member=NameLost")) break;

  expectSilentSuccess(tarnelctl({"busy", "20"}));
  EXPECT_EQ(tarnelctl({"on"}).status, 0);

  // Read until the second request is followed by another message (the
  // stand-in's reply to it), so that its argument lines are complete.
  const std::string request = "path=/dev/tarnel; interface=dev.tarnel; member=command";
  std::vector<Monitored> seen;
  auto requests = [&] {
    std::vector<Monitored> result;
    for (const auto& message : seen)
      if (message.header.ends_with(request)) result.push_back(message);
    return result;
  };
  while (requests().size() < 2 || seen.back().header.ends_with(request)) {
    auto line = ts::readLine(out, 5s);
    if (!line) break;
    if (line->starts_with("   ") && !seen.empty())
      seen.back().arguments.push_back(line->substr(3));
    else
      seen.push_back({*line, {}});
  }
  close(out);
  auto sent = requests();
  ASSERT_EQ(sent.size(), 2u);
  for (const auto& message : sent) EXPECT_TRUE(message.header.starts_with("signal ")) << message.header;
  EXPECT_EQ(sent[0].arguments, Args{"string \"busy 20\""});
  EXPECT_EQ(sent[1].arguments, Args{"string \"on\""});
}

struct OutsideReplyCase {
  const char* name;
  Args signal;      ///< dbus-send's path, interface.member and arguments
  std::string out;  ///< what `tarnelctl status` prints; empty for no reply
};

class DbusSendReplyTest : public MessagingTest, public ::testing::WithParamInterface<OutsideReplyCase> {};

TEST_P(DbusSendReplyTest, RepliesFromAnySenderAndPathCount) {
  Args argv{"sh", "-c", "while :; do dbus-send --session --type=signal \"$@\"; sleep 0.05; done", "sh"};
  argv.insert(argv.end(), GetParam().signal.begin(), GetParam().signal.end());
  start(argv);
  auto r = tarnelctl({"status"});
  if (GetParam().out.empty()) {
    expectNoReply(r);
  } else {
    EXPECT_EQ(r.out, GetParam().out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Signals, DbusSendReplyTest, ::testing::Values(
  OutsideReplyCase{"reply", {"/dev/tarnel", "dev.tarnel.status", "string:Đang giữ — từ dbus-send"},
                   "Đang giữ — từ dbus-send\n"},
  OutsideReplyCase{"other-path", {"/some/where/else", "dev.tarnel.status", "string:any path"}, "any path\n"},
  OutsideReplyCase{"string-then-more", {"/dev/tarnel", "dev.tarnel.status", "string:first", "int32:2"}, "first\n"},
  OutsideReplyCase{"integer", {"/dev/tarnel", "dev.tarnel.status", "int32:7"}, ""},
  OutsideReplyCase{"request-member", {"/dev/tarnel", "dev.tarnel.command", "string:a request"}, ""},
  OutsideReplyCase{"other-interface", {"/dev/tarnel", "other.app.status", "string:another app"}, ""}));

}  // namespace
