// Turning the program's arguments into the one line of command text that the
// Tarnel application understands.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>

/// The words that make a command text a heartbeat when it begins with one of
/// them: it is posted without waiting for a reply.
inline constexpr std::array<std::string_view, 3> heartbeatPrefixes{"busy", "working", "heartbeat"};

/// The words that, first, ask for the usage instead of a command.
inline constexpr std::array<std::string_view, 3> helpWords{"-h", "--help", "help"};

/// The command text for `args` (the arguments without the program's name), or
/// nothing when there is none: no arguments, a help word first, or an hour
/// count whose minutes do not fit in 64 bits. A single timer argument ("2h",
/// "45m", "45", "45ʼ") becomes "extend <minutes>"; anything else is the
/// arguments joined by single spaces.
std::optional<std::string> commandText(std::span<const std::string_view> args);

/// Whether `text` begins with one of `heartbeatPrefixes` (a plain prefix test).
bool isHeartbeat(std::string_view text);
