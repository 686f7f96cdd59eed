// The words that may follow one of our own command words: a help word, and
// for the hook commands a dry run. Any other word is refused, so that nothing
// runs that the user did not ask for.
#pragma once

#include <optional>
#include <span>
#include <string_view>

/// What the words after a command word ask for.
struct CommandOptions {
  bool help = false;                          ///< a help word: show the usage instead
  bool dryRun = false;                        ///< show what would change, change nothing
  std::optional<std::string_view> unexpected;  ///< the first word that is none of these
};

/// Reads `words`; a help word anywhere wins. `--dry-run` and `-n` count only where `dryRunAllowed`.
CommandOptions commandOptions(std::span<const std::string_view> words, bool dryRunAllowed);
