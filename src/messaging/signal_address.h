// Where a notification travels on D-Bus: a notification named N is the signal
// with object path "/" + (N up to its last dot, dots turned into slashes),
// interface N up to its last dot and member N's last component, so that
// "dev.tarnel.command" is path /dev/tarnel, interface dev.tarnel, member command.
#pragma once

#include <string>
#include <string_view>

struct SignalAddress {
  std::string path;
  std::string interface;
  std::string member;
};

inline SignalAddress signalAddress(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {"/", "", std::string(name)};
  SignalAddress address{"/", std::string(name.substr(0, dot)), std::string(name.substr(dot + 1))};
  for (char c : address.interface) address.path += c == '.' ? '/' : c;
  return address;
}
