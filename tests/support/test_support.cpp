#include "test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
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

Started start(const std::vector<std::string>& argv, const EnvChanges& changes) {
  std::vector<std::string> args = argv, env;
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
  Started child{-1, tmpfile(), tmpfile(), Clock::now()};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fileno(child.out), 1);
  posix_spawn_file_actions_adddup2(&actions, fileno(child.err), 2);
  auto argp = pointers(args), envp = pointers(env);
  int rc = posix_spawnp(&child.pid, argp[0], &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  return child;
}

static std::string contents(FILE* file) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = pread(fileno(file), buffer, sizeof buffer, static_cast<off_t>(text.size()))) > 0;)
    text.append(buffer, static_cast<size_t>(n));
  return text;
}

RunResult finish(const Started& child, std::chrono::seconds limit) {
  int raw = 0;
  while (waitpid(child.pid, &raw, WNOHANG) == 0) {
    if (Clock::now() - child.start > limit) kill(child.pid, SIGKILL);
    std::this_thread::sleep_for(1ms);
  }
  RunResult result{contents(child.out), contents(child.err), WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw),
                   Clock::now() - child.start};
  fclose(child.out);
  fclose(child.err);
  return result;
}

RunResult stop(const Started& child) {
  kill(child.pid, SIGCONT);
  kill(child.pid, SIGKILL);
  return finish(child);
}

std::string output(const Started& child, const std::string& text, std::chrono::milliseconds limit) {
  for (auto deadline = Clock::now() + limit;; std::this_thread::sleep_for(2ms))
    if (std::string out = contents(child.out); out.find(text) != std::string::npos || Clock::now() > deadline) return out;
}

RunResult run(const std::vector<std::string>& argv, const EnvChanges& env, std::chrono::seconds limit) {
  return finish(start(argv, env), limit);
}

bool onPath(const std::string& program) { return run({"/bin/sh", "-c", "command -v " + program}).status == 0; }

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return {std::istreambuf_iterator<char>(in), {}};
}

void writeFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!(out << bytes).flush()) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace testing_support
