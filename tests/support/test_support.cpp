#include "test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testing_support {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "tarnel-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a scratch directory");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests may leave read-only directories behind; open them up before removing.
  for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::recursive_directory_iterator();
       it.increment(ignored))
    if (it->is_directory(ignored) && !it->is_symlink(ignored))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

/// Starts `argv` (looked up on PATH) with standard input closed and standard
/// output and error on `out` and `err` (-1: /dev/null).
static pid_t start(std::vector<std::string> argv, const EnvChanges& changes, int out, int err) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry; ++entry)
    if (std::string item = *entry; !changes.contains(item.substr(0, item.find('=')))) env.push_back(item);
  for (const auto& [name, value] : changes)
    if (value) env.push_back(name + "=" + *value);
  auto pointers = [](std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& s : strings) result.push_back(s.data());
    result.push_back(nullptr);
    return result;
  };
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  for (int fd : {1, 2}) {
    int target = fd == 1 ? out : err;
    if (target < 0) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_WRONLY, 0);
    else posix_spawn_file_actions_adddup2(&actions, target, fd);
  }
  auto args = pointers(argv), envp = pointers(env);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  return pid;
}

Started start(const std::vector<std::string>& argv, const EnvChanges& env) {
  Started child{-1, tmpfile(), tmpfile(), Clock::now()};
  child.pid = start(argv, env, fileno(child.out), fileno(child.err));
  return child;
}

RunResult finish(const Started& child, std::chrono::seconds limit) {
  RunResult result;
  int raw = 0;
  while (waitpid(child.pid, &raw, WNOHANG) == 0) {
    if (Clock::now() - child.start > limit) kill(child.pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  result.elapsed = Clock::now() - child.start;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  for (auto [file, text] : {std::pair{child.out, &result.out}, std::pair{child.err, &result.err}}) {
    rewind(file);
    for (int c; (c = fgetc(file)) != EOF;) *text += static_cast<char>(c);
    fclose(file);
  }
  return result;
}

RunResult run(const std::vector<std::string>& argv, const EnvChanges& env, std::chrono::seconds limit) {
  return finish(start(argv, env), limit);
}

pid_t spawn(const std::vector<std::string>& argv, const EnvChanges& env, int* stdoutFd) {
  int pipes[2] = {-1, -1};
  if (stdoutFd && pipe(pipes) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = start(argv, env, pipes[1], -1);
  if (stdoutFd) {
    close(pipes[1]);
    *stdoutFd = pipes[0];
  }
  return pid;
}

std::optional<std::string> readLine(int fd, std::chrono::milliseconds limit) {
  auto deadline = Clock::now() + limit;
  std::string line;
  for (char c;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0 || read(fd, &c, 1) != 1) return std::nullopt;
    if (c == '\n') return line;
    line += c;
  }
}

void killAndReap(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGCONT);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void writeFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!(out << bytes).flush()) throw std::runtime_error("cannot write " + path.string());
}

/// Waits up to 10 s for a file named `name` anywhere under `dir`.
static bool appears(const fs::path& dir, const std::string& name) {
  for (auto deadline = Clock::now() + std::chrono::seconds(10); Clock::now() < deadline;) {
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(dir, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored))
      if (it->path().filename() == name) return true;
    usleep(5000);
  }
  return false;
}

PrivateCenter::PrivateCenter(CenterKind kind) {
  std::string dir = dir_.path().string();
  if (kind == CenterKind::dbus) {
    int out = -1;
    pid_ = spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--nosyslog",
                  "--address=unix:path=" + dir + "/bus", "--print-address"}, {}, &out);
    auto line = readLine(out, std::chrono::seconds(10));
    close(out);
    env_ = {{"DBUS_SESSION_BUS_ADDRESS", line.value_or("")}};
    if (line && !line->empty()) return;
  } else {
#ifdef __APPLE__
    return;
#endif
    // GNUstep keeps its defaults under HOME and its port names under TMP;
    // "GDNCServer" in base64 is the name gdnc registers once it serves.
    env_ = {{"TMP", dir}, {"HOME", dir}};
    pid_ = spawn({"gdnc", "--no-fork"}, env_);
    if (appears(dir_.path(), "R0ROQ1NlcnZlcg==")) return;
  }
  killAndReap(pid_);
  throw std::runtime_error("the notification center did not start");
}

PrivateCenter::~PrivateCenter() { killAndReap(pid_); }

void PrivateCenter::pause() { kill(pid_, SIGSTOP); }

}  // namespace testing_support
