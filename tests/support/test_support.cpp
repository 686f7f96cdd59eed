#include "test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace testing_support {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

TempDir::TempDir() {
  std::random_device random;
  for (int attempt = 0;; ++attempt) {
    path_ = fs::temp_directory_path() / ("tarnel-test-" + std::to_string(random()));
    if (fs::create_directory(path_)) break;
    if (attempt > 100) throw std::runtime_error("cannot make a scratch directory");
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests may leave read-only directories behind; open them up before removing.
  for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::recursive_directory_iterator();
       it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ignored);
}

static std::vector<std::string> childEnvironment(const EnvChanges& changes) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry; ++entry) {
    std::string item = *entry;
    if (!changes.contains(item.substr(0, item.find('=')))) env.push_back(item);
  }
  for (const auto& [name, value] : changes)
    if (value) env.push_back(name + "=" + *value);
  return env;
}

static std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (auto& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

/// Starts `argv` with standard input closed. Standard output and standard error
/// are pipes whose read ends go to `outFd` and `errFd`; a stream nobody reads
/// goes to /dev/null, so that the child neither blocks nor dies of SIGPIPE.
static pid_t spawnWithPipes(std::vector<std::string> argv, const EnvChanges& changes, int* outFd, int* errFd) {
  std::vector<std::string> env = childEnvironment(changes);
  int pipes[2][2] = {{-1, -1}, {-1, -1}};
  int* readEnds[2] = {outFd, errFd};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  for (int i = 0; i < 2; ++i) {
    if (!readEnds[i]) {
      posix_spawn_file_actions_addopen(&actions, i + 1, "/dev/null", O_WRONLY, 0);
      continue;
    }
    if (pipe(pipes[i]) != 0) throw std::runtime_error("pipe failed");
    for (int end : pipes[i]) fcntl(end, F_SETFD, FD_CLOEXEC);
    posix_spawn_file_actions_adddup2(&actions, pipes[i][1], i + 1);
  }
  auto args = pointers(argv);
  auto envp = pointers(env);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  for (int i = 0; i < 2; ++i) {
    if (!readEnds[i]) continue;
    close(pipes[i][1]);
    if (rc == 0)
      *readEnds[i] = pipes[i][0];
    else
      close(pipes[i][0]);
  }
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  return pid;
}

static int decodeStatus(int raw) {
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

RunResult run(const std::vector<std::string>& argv, const EnvChanges& env, std::chrono::seconds limit) {
  int out = -1, err = -1;
  pid_t pid = spawnWithPipes(argv, env, &out, &err);
  return finish(pid, out, err, limit);
}

RunResult finish(pid_t pid, int outFd, int errFd, std::chrono::seconds limit) {
  RunResult result;
  auto start = Clock::now();
  int fds[2] = {outFd, errFd};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = (outFd >= 0) + (errFd >= 0);
  while (open > 0) {
    pollfd polls[2];
    for (int i = 0; i < 2; ++i) polls[i] = {fds[i], POLLIN, 0};
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(start + limit - Clock::now()).count();
    if (left <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    if (poll(polls, 2, static_cast<int>(left)) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i] < 0 || !(polls[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[4096];
      ssize_t n = read(fds[i], buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i]);
        fds[i] = -1;
        --open;
      }
    }
  }
  for (int fd : fds)
    if (fd >= 0) close(fd);
  int raw = 0;
  waitpid(pid, &raw, 0);
  result.status = decodeStatus(raw);
  result.elapsed = Clock::now() - start;
  return result;
}

pid_t spawn(const std::vector<std::string>& argv, const EnvChanges& env, int* stdoutFd) {
  return spawnWithPipes(argv, env, stdoutFd, nullptr);
}

std::optional<std::string> readLine(int fd, std::chrono::milliseconds limit) {
  auto deadline = Clock::now() + limit;
  std::string line;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return std::nullopt;
    char c;
    if (read(fd, &c, 1) != 1) return std::nullopt;
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
  out << bytes;
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
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
