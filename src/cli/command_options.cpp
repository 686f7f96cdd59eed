#include "cli/command_options.h"

#include <algorithm>

#include "cli/command_text.h"

CommandOptions commandOptions(std::span<const std::string_view> words, bool dryRunAllowed) {
  CommandOptions options;
  for (std::string_view word : words) {
    if (std::find(helpWords.begin(), helpWords.end(), word) != helpWords.end()) options.help = true;
    else if (dryRunAllowed && (word == "--dry-run" || word == "-n")) options.dryRun = true;
    else if (!options.unexpected) options.unexpected = word;
  }
  return options;
}
