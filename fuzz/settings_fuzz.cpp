// One agent's install and uninstall over arbitrary settings file bytes (the
// agent is chosen at build time: AGENT is its namespace). For every input:
// - a refused install writes nothing: the file keeps its bytes, no backup, no stray file;
// - an accepted install leaves a JSON object with our hook in every event, every
//   member of the input still there with its value and in its order, a backup of
//   the input, and a second install that changes nothing;
// - install then uninstall gives back the input's object exactly, member order
//   included, whenever the input holds nothing that uninstall would also take out.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "hooks/settings_store.h"

namespace fs = std::filesystem;
using tarnel::json;

namespace {

const tarnel::AgentFile& agent = AGENT::agent;
const std::string alreadyInstalled = "Tarnel hooks already installed — nothing to do.";

void check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "broken: %s\n", what);
    abort();
  }
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

const fs::path& home() {
  static const fs::path dir = [] {
    std::string base = fs::exists("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string();
    std::string pattern = base + "/tarnel-fuzz-XXXXXX";
    check(mkdtemp(pattern.data()) != nullptr, "scratch home");
    setenv("HOME", pattern.c_str(), 1);
    atexit([] { fs::remove_all(getenv("HOME")); });
    return fs::path(pattern);
  }();
  return dir;
}

bool isOurEvent(const std::string& name) {
  for (auto event : agent.events)
    if (event == name) return true;
  return false;
}

/// Whether uninstall would take out anything of the input beyond what install adds:
/// an entry of ours, an empty group or event list under our events, an empty "hooks",
/// or (Cursor) the "version" that install supplies.
bool uninstallTouchesMoreThanInstall(const json& root) {
  if (agent.onInstall && !tarnel::member(root, "version")) return true;
  const json* hooks = tarnel::member(root, "hooks");
  if (!hooks) return false;
  if (hooks->empty()) return true;
  for (auto event : agent.events) {
    const json* list = tarnel::member(*hooks, event);
    if (!list || !tarnel::isListOfObjects(*list)) continue;
    if (list->empty()) return true;
    for (const auto& element : *list) {
      if (tarnel::hasOurs(agent, element)) return true;
      const json* handlers = tarnel::member(element, "hooks");
      if (agent.layout == tarnel::Layout::hookGroups && handlers && handlers->is_array() && handlers->empty())
        return true;
    }
  }
  return false;
}

/// Every member of `before` is in `after` with the same value and in the same
/// order; our events' lists may have grown by elements at their end.
void checkKept(const json& before, const json& after, bool inHooks) {
  auto at = after.begin();
  for (auto it = before.begin(); it != before.end(); ++it) {
    while (at != after.end() && at.key() != it.key()) ++at;
    check(at != after.end(), "a member is missing or out of order");
    if (!inHooks && it.key() == "hooks") {
      checkKept(it.value(), at.value(), true);
    } else if (inHooks && isOurEvent(it.key())) {
      check(at.value().size() >= it.value().size(), "an event list lost elements");
      check(std::equal(it.value().begin(), it.value().end(), at.value().begin()), "an event list changed");
    } else {
      check(at.value() == it.value(), "a value changed");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const fs::path file = home() / agent.relativePath;
  const fs::path backup = file.string() + ".tarnel-backup";
  fs::remove_all(home());
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << input;

  std::string message;
  try {
    message = tarnel::install(agent);
  } catch (const std::exception&) {
    check(slurp(file) == input, "a refused install changed the file");
    check(std::distance(fs::directory_iterator(file.parent_path()), {}) == 1, "a refused install left a file");
    return 0;
  }

  const json before = input.empty() ? json::object() : tarnel::parseJson(input);
  const std::string written = slurp(file);
  const json after = tarnel::parseJson(written);
  check(after.is_object(), "install wrote no object");
  if (message == alreadyInstalled) {
    check(written == input && !fs::exists(backup), "an install with nothing to do wrote");
  } else {
    check(slurp(backup) == input, "the backup is not the file as it was");
  }
  for (auto event : agent.events) {
    const json* list = tarnel::member(*tarnel::member(after, "hooks"), event);
    check(list && tarnel::isListOfObjects(*list), "an event list is missing");
    check(std::any_of(list->begin(), list->end(), [](const json& e) { return tarnel::hasOurs(agent, e); }),
          "an event lacks our hook");
  }
  checkKept(before, after, false);

  check(tarnel::install(agent) == alreadyInstalled && slurp(file) == written, "a second install changed something");

  if (!uninstallTouchesMoreThanInstall(before)) {
    tarnel::uninstall(agent);
    check(tarnel::parseJson(slurp(file)) == before, "install then uninstall did not give back the input");
  }
  return 0;
}
