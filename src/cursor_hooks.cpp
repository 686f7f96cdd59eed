// placeholder, being written
#include "hook_installers.h"
#include <stdexcept>
std::string CursorHooks::install() { throw std::runtime_error("not yet"); }
std::string CursorHooks::uninstall() { throw std::runtime_error("not yet"); }
