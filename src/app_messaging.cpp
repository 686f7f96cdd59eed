// placeholder, being written
#include "app_messaging.h"
void postCommand(const std::string&) {}
std::optional<std::string> sendAndWait(const std::string&) { return std::nullopt; }
