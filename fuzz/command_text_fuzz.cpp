// commandText over arbitrary argument lists: the input's bytes split at NUL
// bytes into arguments. It never crashes, and its result is always one of
// three things: nothing (no arguments, a help word first, an hour count whose
// minutes do not fit), "extend " with a canonical decimal for a single timer
// argument, or the arguments joined by single spaces.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_text.h"

static void check(bool ok) {
  if (!ok) abort();
}

static bool isCanonicalDecimal(std::string_view s) {
  if (s.empty() || s.size() > 19) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return s == "0" || s[0] != '0';
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> args;
  if (!input.empty()) {
    for (size_t start = 0;;) {
      size_t end = input.find('\0', start);
      args.push_back(input.substr(start, end - start));
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
  }

  auto text = commandText(args);
  bool help = !args.empty() && std::find(helpWords.begin(), helpWords.end(), args[0]) != helpWords.end();
  if (args.empty() || help) {
    check(!text);
    return 0;
  }

  std::string joined;
  for (size_t i = 0; i < args.size(); ++i) joined += (i ? " " : "") + std::string(args[i]);
  if (!text) {
    // Only an hour count too large for minutes has no command text.
    check(args.size() == 1 && args[0].ends_with("h"));
  } else if (*text != joined) {
    check(args.size() == 1);
    check(text->starts_with("extend ") && isCanonicalDecimal(std::string_view(*text).substr(7)));
  }
  return 0;
}
