// placeholder, being written
#include "hook_installers.h"
#include <stdexcept>
std::string GeminiHooks::install() { throw std::runtime_error("not yet"); }
std::string GeminiHooks::uninstall() { throw std::runtime_error("not yet"); }
