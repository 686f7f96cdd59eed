// tarneld's settings: one small file, $XDG_CONFIG_HOME/tarnel/tarneld.conf,
// of "name = value" lines and "#" comments. A missing file means the
// defaults; a bad one means the defaults too, and `status` says what is wrong.
#pragma once

#include <string>
#include <string_view>

#include "daemon/keep_awake.h"

namespace tarneld {

struct LoadedSettings {
  Settings settings;
  std::string problem;  ///< what is wrong with the file, naming it; empty when nothing is
};

/// The settings in `text`; with a problem ("line 2: …"), the defaults.
LoadedSettings parseSettings(std::string_view text);

/// Where the file lies: under $XDG_CONFIG_HOME when that is an absolute path, else under ~/.config.
std::string settingsPath();

/// The settings in the file at `path`; problems name the file.
LoadedSettings loadSettings(const std::string& path);

}  // namespace tarneld
