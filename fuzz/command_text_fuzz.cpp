// commandText over arbitrary argument lists: the input's bytes split at NUL
// bytes into arguments. Its result is always nothing (no arguments, a help
// word first, an hour count whose minutes do not fit), "extend " with a
// canonical decimal for a single timer argument, or the arguments joined by
// single spaces.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/command_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size), rest = input;
  std::vector<std::string_view> args;
  for (size_t end = 0; !input.empty() && end != std::string_view::npos; rest.remove_prefix(end + 1)) {
    end = rest.find('\0');
    args.push_back(rest.substr(0, end));
  }
  std::string joined;
  for (size_t i = 0; i < args.size(); ++i) joined += (i ? " " : "") + std::string(args[i]);
  auto text = commandText(args);
  bool help = !args.empty() && std::find(helpWords.begin(), helpWords.end(), args[0]) != helpWords.end();
  std::string_view minutes = text && text->starts_with("extend ") ? std::string_view(*text).substr(7) : "";
  bool canonical = !minutes.empty() && minutes.size() <= 19 && (minutes == "0" || minutes[0] != '0') &&
                   minutes.find_first_not_of("0123456789") == std::string_view::npos;
  if (args.empty() || help ? text.has_value()
      : !text ? !(args.size() == 1 && args[0].ends_with("h"))  // only hours too many for minutes give nothing
              : *text != joined && !(args.size() == 1 && canonical))
    abort();
  return 0;
}
