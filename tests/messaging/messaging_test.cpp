// End to end: the real tarnelctl against a private notification center, with
// our stand-in application on the other side, over every back end built here:
// D-Bus, and Foundation (gdnc through GNUstep on Linux, distnoted on macOS).
// Then what only D-Bus can show: other clients on the bus. And, in process, the
// conversion of arguments that are not UTF-8.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <thread>

#include "messaging/app_messaging.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
namespace ts = testing_support;
using namespace std::chrono_literals;
using Args = std::vector<std::string>;

const std::string noReply = "Tarnel không phản hồi — app đang chạy chứ?\n";
const std::string usage = ts::readFile(fs::path(SOURCE_DIR) / "tests" / "fixtures" / "usage.txt");

/// One back end: the tarnelctl and stand-in built with it, and the environments
/// in which no center can be reached.
struct Backend {
  std::string name;
  std::string tarnelctl;
  std::string standin;
  ts::CenterKind kind;
  std::vector<ts::EnvChanges> unreachable;
};

std::vector<Backend> backends() {
  std::vector<Backend> all;
#ifdef DBUS_STANDIN_PATH
  all.push_back({"dbus", DBUS_TARNELCTL_PATH, DBUS_STANDIN_PATH, ts::CenterKind::dbus,
                 {{{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tarnel-test/bus"}, {"XDG_RUNTIME_DIR", {}}},
                  {{"DBUS_SESSION_BUS_ADDRESS", {}}, {"XDG_RUNTIME_DIR", {}}},
                  {{"DBUS_SESSION_BUS_ADDRESS", {}}, {"XDG_RUNTIME_DIR", "/nonexistent/tarnel-test"}}}});
#endif
#ifdef FOUNDATION_STANDIN_PATH
  std::vector<ts::EnvChanges> unreachable{{{"TMP", "/nonexistent/tarnel-test"}, {"HOME", "/nonexistent/tarnel-test"}}};
#ifdef __APPLE__
  unreachable.clear();  // distnoted is always there
#endif
  all.push_back({"foundation", FOUNDATION_TARNELCTL_PATH, FOUNDATION_STANDIN_PATH, ts::CenterKind::foundation,
                 unreachable});
#endif
  return all;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

/// A private center of one back end, the processes started on it, and the
/// stand-in's log of the command texts that reached it.
class Session {
public:
  explicit Session(const Backend& backend) : backend_(backend), center_(backend.kind) {}
  ~Session() {
    for (pid_t pid : children_) ts::killAndReap(pid);
  }

  /// Starts the stand-in application with `options` and waits until it observes requests.
  void startStandin(const Args& options) {
    Args argv{backend_.standin, "--log", (dir_.path() / "commands.log").string()};
    argv.insert(argv.end(), options.begin(), options.end());
    int out = -1;
    children_.push_back(ts::spawn(argv, center_.env(), &out));
    auto line = ts::readLine(out, 10s);
    close(out);
    if (line != "ready") throw std::runtime_error("the stand-in did not start");
  }

  Args argv(const Args& args) const {
    Args argv{backend_.tarnelctl};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }
  ts::RunResult tarnelctl(const Args& args) { return ts::run(argv(args), center_.env()); }

  /// The command texts that reached the stand-in, once `count` have (or after 5 s).
  Args received(size_t count) {
    for (auto deadline = std::chrono::steady_clock::now() + 5s;; std::this_thread::sleep_for(10ms)) {
      auto texts = lines(ts::readFile(dir_.path() / "commands.log"));
      if (texts.size() >= count || std::chrono::steady_clock::now() > deadline) return texts;
    }
  }

  ts::PrivateCenter& center() { return center_; }

private:
  Backend backend_;
  ts::TempDir dir_;
  ts::PrivateCenter center_;
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

std::string backendName(const ::testing::TestParamInfo<Backend>& info) { return info.param.name; }

// --- One exchange, over every back end ---------------------------------------

struct ExchangeCase {
  const char* name;
  Args standin;      ///< the stand-in's options
  Args args;         ///< tarnelctl's arguments
  std::string sent;  ///< the command text that reaches the application
  std::string out;   ///< what tarnelctl prints; for status 1, nothing but the no-reply message
  int status = 0;
  bool dbusOnly = false;  ///< Foundation cannot send such a reply, GNUstep cannot start with such arguments
};

const ExchangeCase exchanges[] = {
  // A reply that comes at once ends the wait at once; see the elapsed time below.
  {"status", {}, {"status"}, "status", "Không giữ máy thức\n"},
  {"multi_line", {"--text", "Đang giữ — ✓\nline 2"}, {"status"}, "status", "Đang giữ — ✓\nline 2\n"},
  {"trailing_newline", {"--text", "ends in a newline\n"}, {"status"}, "status", "ends in a newline\n\n"},
  {"empty", {"--empty"}, {"status"}, "status", "\n"},
  {"late", {"--delay-ms", "500", "--text", "late but in time"}, {"status"}, "status", "late but in time\n"},
  {"utf8_both_ways", {}, {"tiếng", "Việt ✓"}, "tiếng Việt ✓", "Lệnh không rõ: tiếng Việt ✓ — Không giữ máy thức\n"},
  {"2h", {"--text", "ok"}, {"2h"}, "extend 120", "ok\n"},
  {"Busy_is_a_request", {"--text", "ok"}, {"Busy"}, "Busy", "ok\n"},
  {"silent", {"--silent"}, {"status"}, "status", "", 1},
  {"too_late", {"--delay-ms", "2600", "--text", "too late"}, {"status"}, "status", "", 1},
  {"non_string", {"--non-string"}, {"status"}, "status", "", 1, true},
  {"no_argument", {"--no-arg"}, {"status"}, "status", "", 1, true},
  {"not_utf8", {"--text", "ok"}, {"caf\xE9"}, "caf\uFFFD", "ok\n", 0, true},
  // Heartbeats: posted, never waited for.
  {"busy", {}, {"busy"}, "busy", ""},
  {"busy_20", {}, {"busy", "20"}, "busy 20", ""},
  {"working", {}, {"working"}, "working", ""},
  {"busybody", {}, {"busybody"}, "busybody", ""},
  {"busy_not_utf8", {}, {"busy", "\xFF"}, "busy \uFFFD", "", 0, true},
};

using ExchangeParam = std::pair<Backend, ExchangeCase>;
void PrintTo(const ExchangeParam& p, std::ostream* os) { *os << p.first.name << " " << p.second.name; }
void PrintTo(const Backend& b, std::ostream* os) { *os << b.name; }
class ExchangeTest : public ::testing::TestWithParam<ExchangeParam> {};

TEST_P(ExchangeTest, TextArrivesOnceAndTheReplyIsPrinted) {
  const auto& [backend, c] = GetParam();
  Session session(backend);
  session.startStandin(c.standin);
  auto r = session.tarnelctl(c.args);
  if (c.status == 1) {
    expectNoReply(r);
    EXPECT_GE(r.elapsed, 1.9s);
    EXPECT_LE(r.elapsed, 3s);
  } else {
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, c.status);
    EXPECT_LT(r.elapsed, 1s);
  }
  EXPECT_EQ(session.received(1), Args{c.sent});
}

std::vector<ExchangeParam> exchangesOverBackends() {
  std::vector<ExchangeParam> all;
  for (const auto& backend : backends())
    for (const auto& c : exchanges)
      if (backend.kind == ts::CenterKind::dbus || !c.dbusOnly) all.emplace_back(backend, c);
  return all;
}

INSTANTIATE_TEST_SUITE_P(Exchanges, ExchangeTest, ::testing::ValuesIn(exchangesOverBackends()),
                         [](const auto& info) { return info.param.first.name + "_" + info.param.second.name; });

// --- More of one back end ----------------------------------------------------

class BackendTest : public ::testing::TestWithParam<Backend> {};

TEST_P(BackendTest, LastOfSeveralHandledRepliesWins) {
  Session session(GetParam());
  session.startStandin({"--text", "reply", "--replies", "3", "--delay-ms", "300"});
  int out = -1;
  pid_t pid = ts::spawn(session.argv({"status"}), session.center().env(), &out);
  // Freeze tarnelctl while the three replies arrive, so that all of them are
  // waiting for it when it handles the first.
  session.received(1);
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

TEST_P(BackendTest, HeartbeatsPostedJustBeforeExitAllArrive) {
  Session session(GetParam());
  session.startStandin({"--silent"});
  Args sent;
  for (int i = 0; i < 20; ++i) {
    sent.push_back("busy " + std::to_string(i));
    expectSilentSuccess(session.tarnelctl({"busy", std::to_string(i)}));
  }
  EXPECT_EQ(session.received(sent.size()), sent);
}

TEST_P(BackendTest, UsageWithoutCommandTextPostsNothing) {
  Session session(GetParam());
  session.startStandin({});
  for (const Args& args : {Args{}, Args{"--help"}}) {
    auto r = session.tarnelctl(args);
    EXPECT_EQ(r.out, usage + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 2);
  }
  EXPECT_EQ(session.tarnelctl({"on"}).status, 0);
  EXPECT_EQ(session.received(1), Args{"on"});
}

TEST_P(BackendTest, WithoutCenterHeartbeatIsSilentAndRequestFailsQuickly) {
  if (GetParam().unreachable.empty()) GTEST_SKIP() << "this platform's center cannot be made unreachable";
  for (const auto& env : GetParam().unreachable) {
    expectSilentSuccess(ts::run({GetParam().tarnelctl, "busy"}, env));
    auto r = ts::run({GetParam().tarnelctl, "status"}, env);
    expectNoReply(r);
    EXPECT_LT(r.elapsed, 1s);
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, BackendTest, ::testing::ValuesIn(backends()), backendName);

// --- What only the D-Bus back end shows --------------------------------------
#ifdef DBUS_STANDIN_PATH

const Backend dbus = backends().front();

// A frozen gdnc stalls GNUstep's client without limit; distnoted is the
// system's own. A frozen dbus-daemon is one more user-run process.
TEST(DbusTest, StoppedBusNeitherStallsAHeartbeatNorARequest) {
  Session session(dbus);
  session.center().pause();
  expectSilentSuccess(session.tarnelctl({"busy"}));
  auto r = session.tarnelctl({"status"});
  expectNoReply(r);
  EXPECT_LT(r.elapsed, 3s);
  session.center().resume();
}

TEST(DbusTest, DbusMonitorSeesPathInterfaceMemberAndOneStringArgument) {
  Session session(dbus);
  int out = -1;
  pid_t monitor = ts::spawn({"dbus-monitor", "--session", "type='signal',interface='dev.tarnel',member='command'"},
                            session.center().env(), &out);
  // dbus-monitor has become a monitor when it loses its own name.
  while (auto line = ts::readLine(out, 10s))
    if (line->ends_with("member=NameLost")) break;
  ts::readLine(out, 5s);  // its argument
  expectSilentSuccess(session.tarnelctl({"busy", "20"}));
  auto header = ts::readLine(out, 5s);
  auto argument = ts::readLine(out, 5s);
  auto more = ts::readLine(out, 300ms);
  ts::killAndReap(monitor);
  close(out);
  ASSERT_TRUE(header && argument);
  EXPECT_TRUE(header->starts_with("signal ")) << *header;
  EXPECT_TRUE(header->ends_with(" path=/dev/tarnel; interface=dev.tarnel; member=command")) << *header;
  EXPECT_EQ(*argument, "   string \"busy 20\"");
  EXPECT_EQ(more, std::nullopt) << "a second argument or message";
}

using Signal = std::pair<Args, std::string>;  ///< dbus-send's arguments, what `status` prints
class DbusSendReplyTest : public ::testing::TestWithParam<Signal> {};

TEST_P(DbusSendReplyTest, RepliesFromAnySenderAndPathCount) {
  Session session(dbus);
  Args argv{"sh", "-c", "while :; do dbus-send --session --type=signal \"$@\"; sleep 0.05; done", "sh"};
  argv.insert(argv.end(), GetParam().first.begin(), GetParam().first.end());
  pid_t sender = ts::spawn(argv, session.center().env());
  auto r = session.tarnelctl({"status"});
  ts::killAndReap(sender);
  if (GetParam().second.empty()) return expectNoReply(r);
  EXPECT_EQ(r.out, GetParam().second);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, DbusSendReplyTest, ::testing::Values(
  Signal{{"/dev/tarnel", "dev.tarnel.status", "string:Đang giữ — dbus-send"}, "Đang giữ — dbus-send\n"},
  Signal{{"/some/where/else", "dev.tarnel.status", "string:any path"}, "any path\n"},
  Signal{{"/dev/tarnel", "dev.tarnel.status", "string:first", "int32:2"}, "first\n"},
  Signal{{"/dev/tarnel", "dev.tarnel.status", "int32:7"}, ""},
  Signal{{"/dev/tarnel", "dev.tarnel.command", "string:a request"}, ""},
  Signal{{"/dev/tarnel", "other.app.status", "string:another app"}, ""}));

#endif

// --- Arguments that are not UTF-8, in process --------------------------------

TEST(ValidUtf8Test, EachInvalidSequenceBecomesOneReplacementCharacter) {
  const std::pair<std::string, std::string> cases[] = {
    {"", ""}, {"tiếng Việt ✓ 😀", "tiếng Việt ✓ 😀"},
    {"caf\xE9", "caf\uFFFD"}, {"\xFF\xFE", "\uFFFD\uFFFD"}, {"\x80x", "\uFFFDx"},
    {"\xE2\x9C", "\uFFFD"}, {"\xE2\x9Cx\xE2", "\uFFFDx\uFFFD"},          // cut short: one each
    {"\xF0\x9F\x98", "\uFFFD"}, {"\xC0\xAF", "\uFFFD\uFFFD"},           // overlong
    {"\xE0\x80\xAF", "\uFFFD\uFFFD\uFFFD"}, {"\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},  // overlong, surrogate
    {"\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"}, {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},  // U+10FFFF is the last
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(validUtf8(bytes), text) << testing::PrintToString(bytes);
}

}  // namespace
