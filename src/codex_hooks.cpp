// placeholder, being written
#include "hook_installers.h"
#include <stdexcept>
std::string CodexHooks::install() { throw std::runtime_error("not yet"); }
std::string CodexHooks::uninstall() { throw std::runtime_error("not yet"); }
