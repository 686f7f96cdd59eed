// placeholder, being written
#include "hook_installers.h"
#include <stdexcept>
std::string ClaudeHooks::install() { throw std::runtime_error("not yet"); }
std::string ClaudeHooks::uninstall() { throw std::runtime_error("not yet"); }
