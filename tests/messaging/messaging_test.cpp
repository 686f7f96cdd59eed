// End to end: the real tarnelctl against a notification center of the test's
// own, with our stand-in application on the other side, over every back end
// built here: D-Bus, and Foundation (gdnc through GNUstep on Linux, distnoted
// on macOS). Then what only D-Bus can show: other clients on the bus. And, in
// process, the conversion of arguments that are not UTF-8.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <thread>

#include "messaging/app_messaging.h"
#include "messaging/notification_center.h"
#include "test_support.h"

namespace {

namespace ts = testing_support;
using namespace std::chrono_literals;
using Args = std::vector<std::string>;

const std::string noReply = "Tarnel không phản hồi — app đang chạy chứ?\n";
const std::string usage = ts::readFile(std::filesystem::path(SOURCE_DIR) / "tests" / "fixtures" / "usage.txt");

/// One back end: the tarnelctl and stand-in built with it, and an environment in which no center can be reached.
struct Backend {
  std::string name, tarnelctl, standin;
  std::optional<ts::EnvChanges> unreachable;
};
void PrintTo(const Backend& b, std::ostream* os) { *os << b.name; }

std::vector<Backend> backends() {
  std::vector<Backend> all;
#ifdef DBUS_STANDIN_PATH
  all.push_back({"dbus", DBUS_TARNELCTL_PATH, DBUS_STANDIN_PATH,
                 ts::EnvChanges{{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"}, {"XDG_RUNTIME_DIR", {}}}});
#endif
#ifdef FOUNDATION_STANDIN_PATH
  all.push_back({"foundation", FOUNDATION_TARNELCTL_PATH, FOUNDATION_STANDIN_PATH, std::nullopt});
#ifndef __APPLE__  // distnoted is always there
  all.back().unreachable = ts::EnvChanges{{"TMP", "/nonexistent"}, {"HOME", "/nonexistent"}};
#endif
#endif
  return all;
}

/// A notification center of the back end's own (macOS has one distnoted per
/// user: that one), the processes started on it, and the stand-in's log of the
/// command texts that reached it.
struct Session {
  explicit Session(const Backend& backend) : backend_(backend) {
    std::string dir = dir_.path().string();
    if (backend.name == "dbus") {
      center_ = ts::start({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--nosyslog",
                           "--address=unix:path=" + dir + "/bus", "--print-address"});
      std::string address = ts::output(*center_, "\n");
      env_ = {{"DBUS_SESSION_BUS_ADDRESS", address.substr(0, address.find('\n'))}};
    }
#ifndef __APPLE__
    if (backend.name == "foundation") {
      // GNUstep keeps its defaults under HOME and its port names under TMP (a
      // private folder, so right there), where gdnc registers "GDNCServer" (in
      // base64) once it serves: some 50 ms after it starts, well within the
      // 10 s given on a loaded machine.
      env_ = {{"TMP", dir}, {"HOME", dir}};
      center_ = ts::start({"gdnc", "--no-fork"}, env_);
      for (int i = 0; i < 2000 && !std::filesystem::exists(dir + "/NSMessagePort/names/R0ROQ1NlcnZlcg=="); ++i)
        std::this_thread::sleep_for(5ms);
    }
#endif
  }
  ~Session() {
    for (const auto& child : children_) ts::stop(child);
    if (center_) ts::stop(*center_);
  }

  /// Starts the stand-in application with `options` and waits until it observes requests
  /// (up to 10 s, for a start that takes milliseconds).
  void startStandin(const Args& options) {
    Args argv{backend_.standin, "--log", (dir_.path() / "commands.log").string()};
    argv.insert(argv.end(), options.begin(), options.end());
    children_.push_back(ts::start(argv, env_));
    if (ts::output(children_.back(), "ready\n").find("ready\n") == std::string::npos)
      throw std::runtime_error("the stand-in did not start");
  }

  ts::RunResult tarnelctl(const Args& args) {
    Args argv{backend_.tarnelctl};
    argv.insert(argv.end(), args.begin(), args.end());
    return ts::run(argv, env_);
  }

  /// The command texts that reached the stand-in, once `count` have (or after 5 s). Once
  /// tarnelctl has ended, what it posted is in the center's hands: 5 s is for the center and
  /// the stand-in to be given the processor, a fraction of a second on a loaded machine.
  Args received(size_t count) {
    for (auto deadline = std::chrono::steady_clock::now() + 5s;; std::this_thread::sleep_for(10ms)) {
      Args texts;
      std::istringstream log(ts::readFile(dir_.path() / "commands.log"));
      for (std::string line; std::getline(log, line);) texts.push_back(line);
      if (texts.size() >= count || std::chrono::steady_clock::now() > deadline) return texts;
    }
  }

  Backend backend_;
  ts::TempDir dir_;
  std::optional<ts::Started> center_;
  ts::EnvChanges env_;
  std::vector<ts::Started> children_;
};

/// A run that printed `out` and ended with `status`: 1 is the no-reply message.
/// Its time: a run that printed a reply or posted a heartbeat ended before the reply
/// timeout could end it; one without a reply waited for that timeout, not for ever.
/// Starting tarnelctl and handing its post over take milliseconds, at worst a third of a
/// second on a loaded machine (see handOverLimit); 1 s beyond the timeout leaves room for that.
void expectRun(const ts::RunResult& r, const std::string& out, int status) {
  EXPECT_EQ(r.out, out);
  EXPECT_EQ(r.err, status == 1 ? noReply : "");
  EXPECT_EQ(r.status, status);
  EXPECT_LT(r.elapsed, status == 1 ? replyTimeout + 1s : replyTimeout);
}

/// The stand-in's options, tarnelctl's arguments, the command texts that reach the application, and what
/// tarnelctl prints on standard output (with status 1, the no-reply message follows on standard error).
/// Foundation cannot send some replies, and GNUstep cannot start with arguments that are not UTF-8: D-Bus only.
struct ExchangeCase {
  const char* name;
  Args standin, args, sent;
  std::string out;
  int status = 0;
  bool dbusOnly = false;
};

const ExchangeCase exchanges[] = {
  // A reply that comes at once ends the wait at once; see the elapsed time below.
  {"status", {}, {"status"}, {"status"}, "Không giữ máy thức\n"},
  {"multi_line", {"--text", "Đang giữ — ✓\nline 2\n"}, {"status"}, {"status"}, "Đang giữ — ✓\nline 2\n\n"},
  {"empty", {"--empty"}, {"status"}, {"status"}, "\n"},
  {"late", {"--delay-ms", "500", "--text", "late but in time"}, {"status"}, {"status"}, "late but in time\n"},
  {"utf8_both_ways", {}, {"tiếng", "Việt ✓"}, {"tiếng Việt ✓"}, "Lệnh không rõ: tiếng Việt ✓ — Không giữ máy thức\n"},
  {"2h", {"--text", "ok"}, {"2h"}, {"extend 120"}, "ok\n"},
  {"silent", {"--silent"}, {"status"}, {"status"}, "", 1},
  {"too_late", {"--delay-ms", "2600", "--text", "too late"}, {"status"}, {"status"}, "", 1},
  {"non_string", {"--non-string"}, {"status"}, {"status"}, "", 1, true},
  {"no_argument", {"--no-arg"}, {"status"}, {"status"}, "", 1, true},
  {"not_utf8", {"--text", "ok"}, {"caf\xE9"}, {"caf\uFFFD"}, "ok\n", 0, true},
  // Without command text: the usage, and nothing posted.
  {"usage", {}, {}, {}, usage + "\n", 2},
  {"help", {}, {"--help"}, {}, usage + "\n", 2},
  // Heartbeats: posted, never waited for.
  {"busy", {}, {"busy"}, {"busy"}, ""},
  {"busy_20", {}, {"busy", "20"}, {"busy 20"}, ""},
  {"busy_not_utf8", {}, {"busy", "\xFF"}, {"busy \uFFFD"}, "", 0, true},
};

class BackendTest : public ::testing::TestWithParam<Backend> {};

TEST_P(BackendTest, EachExchangeArrivesOnceAndItsReplyIsPrinted) {
  for (ExchangeCase c : exchanges) {
    if (c.dbusOnly && GetParam().name != "dbus") continue;
    SCOPED_TRACE(c.name);
    Session session(GetParam());
    session.startStandin(c.standin);
    auto r = session.tarnelctl(c.args);
    expectRun(r, c.out, c.status);
    EXPECT_GE(r.elapsed, c.status == 1 ? replyTimeout : 0s);  // without a reply, the whole timeout
    // Whatever this run posted has arrived before a later run's heartbeat.
    c.sent.push_back("busy 1");
    EXPECT_EQ(session.tarnelctl({"busy", "1"}).status, 0);
    EXPECT_EQ(session.received(c.sent.size()), c.sent);
  }
}

TEST_P(BackendTest, LastOfSeveralHandledRepliesWins) {
  Session session(GetParam());
  session.startStandin({"--text", "reply", "--replies", "3", "--delay-ms", "600"});
  auto child = ts::start({GetParam().tarnelctl, "status"}, session.env_);
  // Freeze tarnelctl while the three replies arrive, so that all of them are
  // waiting for it when it handles the first. Three waits on the scheduler share
  // tarnelctl's 2.0 s, each given 0.6 s or more: this test sees the request (then
  // the stand-in waits 0.6 s), the center passes the replies on (0.6 s from their
  // sending to SIGCONT), tarnelctl wakes before its timeout (0.8 s).
  session.received(1);
  kill(child.pid, SIGSTOP);
  std::this_thread::sleep_for(1200ms);
  kill(child.pid, SIGCONT);
  auto r = ts::finish(child);
  EXPECT_EQ(r.out, "reply #3\n");
  EXPECT_EQ(r.status, 0);
}

// Each heartbeat exits right after posting: it must hand its post over first,
// however long the handshake takes within `handOverLimit`.
TEST_P(BackendTest, HeartbeatsPostedJustBeforeExitAllArrive) {
  Session session(GetParam());
  session.startStandin({"--silent"});
  Args sent;
  for (int i = 0; i < 20; ++i) expectRun(session.tarnelctl({"busy", sent.emplace_back(std::to_string(i))}), "", 0);
  for (auto& text : sent) text.insert(0, "busy ");
  EXPECT_EQ(session.received(sent.size()), sent);
}

TEST_P(BackendTest, WithoutCenterHeartbeatIsSilentAndRequestSaysWhatIsMissing) {
  auto env = GetParam().unreachable;
  if (!env) GTEST_SKIP() << "this platform's center cannot be made unreachable";
  expectRun(ts::run({GetParam().tarnelctl, "busy"}, *env), "", 0);
  auto r = ts::run({GetParam().tarnelctl, "doctor"}, *env);  // says so at once, and what is missing
  const std::string line = "\nTarnel:\n  ✗ status                ";
  EXPECT_NE(r.out.find(line + (GetParam().name == "dbus" ? "no session bus: DBUS_SESSION_BUS_ADDRESS is "
                       "unix:path=/nonexistent/bus: No such file or directory — run this in your login session, and start "
                       "Tarnel there: systemctl --user start tarneld\n" : "no distributed notification center: ")), std::string::npos) << r.out;
  EXPECT_EQ(r.status, 1);
  EXPECT_LT(r.elapsed, replyTimeout);  // no wait for a reply that cannot come
  std::string missing = r.out.substr(r.out.find(line) + line.size());
  r = ts::run({GetParam().tarnelctl, "status"}, *env);  // a request says the same on standard error
  EXPECT_EQ(std::tuple(r.out, r.err, r.status), std::tuple("", "tarnelctl: " + missing, 1));
  EXPECT_LT(r.elapsed, replyTimeout);  // no wait for a reply that cannot come
  if (GetParam().name != "dbus") return;
  r = ts::run({GetParam().tarnelctl, "status"}, {{"DBUS_SESSION_BUS_ADDRESS", "garbage"}});
  EXPECT_EQ(r.err, "tarnelctl: no session bus: DBUS_SESSION_BUS_ADDRESS is \"garbage\", which is not a valid bus address — "
            "set it to one, such as unix:path=/run/user/" + std::to_string(getuid()) + "/bus, or unset it\n");
}

// doctor's last line: the application's status, marked as working only when the application can keep the machine awake.
TEST_P(BackendTest, DoctorShowsWhetherTheApplicationCanHold) {
  const std::tuple<Args, std::string, int> cases[] = {
      {{"--text", "awake — manual"}, "✓ status                awake — manual", 0},
      {{"--text", "awake — manual; cannot keep the machine awake: no system bus"},
       "✗ status                awake — manual; cannot keep the machine awake: no system bus", 1},
      {{"--silent"}, "✗ status                no answer within 2.0 s — is the app running?", 1}};
  for (const auto& [options, line, status] : cases) {
    Session session(GetParam());
    session.startStandin(options);
    auto env = session.env_;
    env["HOME"] = session.dir_.path().string();  // no agent's settings
    auto r = ts::run({GetParam().tarnelctl, "doctor"}, env);
    EXPECT_TRUE(r.out.ends_with("\nTarnel:\n  " + line + "\n")) << r.out;
    EXPECT_EQ(r.status, status);
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, BackendTest, ::testing::ValuesIn(backends()),
                         [](const auto& info) { return info.param.name; });

// --- What only the D-Bus back end shows --------------------------------------
#ifdef DBUS_STANDIN_PATH

const Backend dbus = backends().front();

// A frozen gdnc stalls GNUstep's client without limit; distnoted is the
// system's own. A frozen dbus-daemon is one more user-run process.
// The heartbeat gives its post the whole `handOverLimit`, and no more than that
// (1 s more for starting and ending on a loaded machine).
TEST(DbusTest, StoppedBusNeitherStallsAHeartbeatNorARequest) {
  Session session(dbus);
  kill(session.center_->pid, SIGSTOP);
  auto r = session.tarnelctl({"busy"});
  expectRun(r, "", 0);
  EXPECT_GE(r.elapsed, handOverLimit);
  EXPECT_LT(r.elapsed, handOverLimit + 1s);
  expectRun(session.tarnelctl({"status"}), "", 1);
}

// A bus of the test's own that shakes hands and then reads all, answering
// nothing. The heartbeat has written its signal, but written is not handed
// over (dbus-daemon may still drop it when the client leaves): it waits for the
// bus's answer, here the whole `handOverLimit`.
TEST(DbusTest, HeartbeatWaitsForTheBusToAnswerNotJustToRead) {
  ts::TempDir dir;
  sockaddr_un address{AF_UNIX, {}};
  (dir.path() / "bus").string().copy(address.sun_path, sizeof address.sun_path - 1);
  int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  std::string written;
  std::thread bus([&] {
    int client = accept(listener, nullptr, nullptr);
    char buffer[4096];
    for (ssize_t n; client >= 0 && (n = read(client, buffer, sizeof buffer)) > 0;) {
      bool begun = written.find("BEGIN\r\n") != std::string::npos;
      written.append(buffer, static_cast<size_t>(n));
      if (begun || written.find("BEGIN\r\n") == std::string::npos) continue;
      std::string ok = std::string(written.find("\r\nDATA\r\n") != std::string::npos ? "DATA\r\n" : "") +
                       "OK 0123456789abcdef0123456789abcdef\r\n" +
                       (written.find("NEGOTIATE_UNIX_FD") != std::string::npos ? "AGREE_UNIX_FD\r\n" : "");
      EXPECT_EQ(write(client, ok.data(), ok.size()), static_cast<ssize_t>(ok.size()));
    }
    if (client >= 0) close(client);
  });
  auto r = ts::run({dbus.tarnelctl, "busy", "7"}, {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + std::string(address.sun_path)}});
  shutdown(listener, SHUT_RDWR);  // no connection came: ends the wait for one
  bus.join();
  close(listener);
  expectRun(r, "", 0);
  EXPECT_NE(written.find("busy 7"), std::string::npos);
  EXPECT_GE(r.elapsed, handOverLimit);
}

TEST(DbusTest, DbusMonitorSeesPathInterfaceMemberAndOneStringArgument) {
  Session session(dbus);
  auto monitor = ts::start({"dbus-monitor", "--session", "type='signal',interface='dev.tarnel',member='command'"},
                           session.env_);
  ts::output(monitor, "member=NameLost");  // it has become a monitor when it loses its own name
  expectRun(session.tarnelctl({"busy", "20"}), "", 0);
  ts::output(monitor, "string \"busy 20\"");
  std::this_thread::sleep_for(300ms);  // time for anything more to come
  std::istringstream seen(ts::stop(monitor).out);
  Args lines;
  for (std::string line; std::getline(seen, line);)
    if (!lines.empty() || line.ends_with("member=NameLost")) lines.push_back(line);
  lines.erase(lines.begin(), std::find_if(lines.begin() + 1, lines.end(), [](auto& l) { return !l.starts_with("   "); }));
  ASSERT_EQ(lines.size(), 2u) << testing::PrintToString(lines);  // one message, one argument
  EXPECT_TRUE(lines[0].starts_with("signal ")) << lines[0];
  EXPECT_TRUE(lines[0].ends_with(" path=/dev/tarnel; interface=dev.tarnel; member=command")) << lines[0];
  EXPECT_EQ(lines[1], "   string \"busy 20\"");
}

#endif

// --- Arguments that are not UTF-8, in process --------------------------------

TEST(ValidUtf8Test, EachInvalidSequenceBecomesOneReplacementCharacter) {
  const std::pair<std::string, std::string> cases[] = {
    {"tiếng Việt ✓ 😀", "tiếng Việt ✓ 😀"}, {"caf\xE9", "caf\uFFFD"}, {"\xFF\xFE", "\uFFFD\uFFFD"},
    {"\xE2\x9Cx\xE2", "\uFFFDx\uFFFD"}, {"\xF0\x9F\x98", "\uFFFD"},                         // cut short: one each
    {"\xC0\xAF", "\uFFFD\uFFFD"}, {"\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},                  // overlong, surrogate
    {"\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"}, {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},  // U+10FFFF is the last
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(validUtf8(bytes), text) << testing::PrintToString(bytes);
}

}  // namespace
