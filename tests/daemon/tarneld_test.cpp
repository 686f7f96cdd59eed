// tarneld end to end: the real daemon and tarnelctl on a private session bus,
// with python3-dbusmock's logind on a private system bus; the test moves the
// daemon's clock through its test-only notification.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "test_support.h"

namespace {

namespace ts = testing_support;
using namespace std::chrono_literals;
using Args = std::vector<std::string>;

const std::string none = "nothing holds — the machine may sleep\n", released = "a(ssssuu) 0\n";

/// A scratch session: its buses, a mock logind when asked for, and tarneld with `settings` in its file.
struct Session {
  explicit Session(bool logind, const std::string& settings = "") {
    env_ = {{"DBUS_SESSION_BUS_ADDRESS", startBus("session")}, {"XDG_CONFIG_HOME", dir_.path().string()},
            {"DBUS_SYSTEM_BUS_ADDRESS", logind ? startBus("system") : "unix:path=/nonexistent/bus"}};
    if (logind) {
      children_.push_back(ts::start({PYTHON3_DBUSMOCK, "-m", "dbusmock", "--system", "--template", "logind", "-l", log_}, env_));
      inhibitors(released);
    }
    std::filesystem::create_directory(dir_.path() / "tarnel");
    ts::writeFile(settings_, settings);
    daemon_ = ts::start({TARNELD_PATH, "--test-clock"}, env_);
    EXPECT_NE(ts::output(*daemon_, "ready\n").find("ready\n"), std::string::npos);
  }
  ~Session() { std::for_each(children_.rbegin(), children_.rend(), [](auto& child) { ts::stop(child); }); }
  std::string startBus(const std::string& name) {
    children_.push_back(ts::start({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--nosyslog",
                                   "--address=unix:path=" + (dir_.path() / name).string(), "--print-address"}));
    std::string address = ts::output(children_.back(), "\n");
    return address.substr(0, address.find('\n'));
  }
  /// What `argv` prints. A request of tarnelctl's waits 2.0 s for tarneld, which answers at once
  /// after at most one call to the mock logind: milliseconds, a fraction of a second on a loaded machine.
  std::string run(Args argv) { return ts::run(argv, env_).out; }
  /// What logind lists, once it is `expected` (logind sees a closed lock a little later) or after
  /// 5 s and as many calls of busctl. A change reaches it within a fraction of a second on a
  /// loaded machine: through tarneld, whose heartbeats and requests are in the bus's hands when
  /// tarnelctl ends, and the mock logind.
  std::string inhibitors(const std::string& expected) {
    std::string now;
    for (int i = 0; i < 250 && now != expected; ++i, std::this_thread::sleep_for(20ms))
      now = run({"busctl", "--system", "call", "org.freedesktop.login1", "/org/freedesktop/login1",
                 "org.freedesktop.login1.Manager", "ListInhibitors"});
    return now;
  }

  ts::TempDir dir_;
  std::string log_ = (dir_.path() / "logind.log").string(), settings_ = (dir_.path() / "tarnel" / "tarneld.conf").string();
  ts::EnvChanges env_;
  std::vector<ts::Started> children_;
  std::optional<ts::Started> daemon_;
};

TEST(TarneldTest, HoldsOneInhibitorExactlyWhileSomethingHolds) {
  if (!PYTHON3_HAS_DBUSMOCK) GTEST_SKIP() << "needs a mock logind: no python3 here imports dbusmock and gi (python3-dbusmock)";
  if (!ts::onPath("busctl")) GTEST_SKIP() << "needs busctl (systemd) to ask the mock logind for its locks";
  Session session(true);
  auto held = [](std::string why) { return "a(ssssuu) 1 \"sleep:idle\" \"Tarnel\" \"" + why + "\" \"block\" 1000 123456\n"; };
  // What runs (just "clock": a minute passes), what it prints, what logind lists, the Inhibit calls so far.
  const std::tuple<Args, std::string, std::string, size_t> steps[] = {
    {{TARNELCTL_PATH, "status"}, none, released, 0},
    {{TARNELCTL_PATH, "on"}, "awake — manual\n", held("manual"), 1},
    {{TARNELCTL_PATH, "busy"}, "", held("manual"), 1},
    {{TARNELCTL_PATH, "off"}, none, released, 1},
    {{TARNELCTL_PATH, "busy", "1"}, "", held("agent at work"), 2},
    {{TARNELCTL_PATH, "busy", "1"}, "", held("agent at work"), 2},
    {{"clock"}, "", released, 2},
    {{TARNELCTL_PATH, "on"}, "awake — manual\n", held("manual"), 3},
  };
  for (const auto& [argv, out, list, calls] : steps) {
    SCOPED_TRACE(testing::PrintToString(argv));
    EXPECT_EQ(session.run(argv[0] != "clock" ? argv : Args{"dbus-send", "--type=signal", "/dev/tarnel", "dev.tarnel.clock", "string:1"}), out);
    EXPECT_EQ(session.inhibitors(list), list);
    std::string log = ts::readFile(session.log_), call = " Inhibit \"sleep:idle\" \"Tarnel\" \"";
    size_t seen = 0;
    for (size_t at = log.find(call); at != std::string::npos; at = log.find(call, at + 1)) ++seen;
    EXPECT_EQ(seen, calls);
  }
  EXPECT_EQ(ts::run({TARNELD_PATH}, session.env_).err, "tarneld: another tarneld already runs in this session\n");
  kill(session.daemon_->pid, SIGTERM);
  EXPECT_EQ(ts::finish(*session.daemon_, 5s).status, 0);  // killed after 5 s: an exit that never comes
  EXPECT_EQ(session.inhibitors(released), released);
}

// Each request says why; the journal says it once.
TEST(TarneldTest, WithoutLogindAndWithBadSettingsItAnswersAndSaysWhy) {
  Session session(false, "agent-minutes = soon\n");
  const std::string noBus = "cannot keep the machine awake: no system bus (No such file or directory)",
                    settings = session.settings_ + ", line 1: agent-minutes must be a whole number of minutes from 1 to 1440; using the defaults";
  for (std::string command : {"on", "off", "on"})
    EXPECT_EQ(session.run({TARNELCTL_PATH, command}), (command == "on" ? "awake — manual; " : none.substr(0, none.size() - 1) + "; ") +
              noBus + "; settings: " + settings + "\n");
  EXPECT_EQ(session.run({TARNELCTL_PATH, "frob", "x"}), "unknown command: frob x\n");
  kill(session.daemon_->pid, SIGTERM);
  EXPECT_EQ(ts::finish(*session.daemon_, 5s).err, "settings: " + settings + "\n" + noBus + "\n");
}

}  // namespace
