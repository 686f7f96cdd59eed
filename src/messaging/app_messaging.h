// The request and reply exchange with the Tarnel application over the user's
// notification center.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#ifndef TARNEL_TEST_NOTIFICATIONS
/// Notification that carries a command text to the application.
inline constexpr std::string_view commandName = "dev.tarnel.command";
/// Notification that carries the application's reply text back.
inline constexpr std::string_view statusName = "dev.tarnel.status";
#else
// The builds for the tests of the Foundation back end, and their stand-in
// application, speak among themselves: a Mac has one distributed notification
// center per user, and no test may reach the user's own Tarnel application.
inline constexpr std::string_view commandName = "dev.tarnel.test.command";
inline constexpr std::string_view statusName = "dev.tarnel.test.status";
#endif
/// How long `sendAndWait` waits for a reply.
inline constexpr std::chrono::duration<double> replyTimeout{2.0};
/// What the user sees on standard error when no reply came; ends in its own newline.
inline constexpr std::string_view noReplyMessage = "Tarnel không phản hồi — app đang chạy chứ?\n";
/// What a reply holds when the application runs but cannot do its job, then
/// ": " and why (tarneld: "awake — manual; cannot keep the machine awake: no system bus").
inline constexpr std::string_view cannotHold = "cannot keep the machine awake";

/// What came of a request.
struct Answer {
  std::optional<std::string> reply;  ///< the application's reply; nothing when none came
  std::string noCenter;              ///< when no notification center could be reached: what is missing and what to do
};

/// `bytes` with each invalid UTF-8 sequence replaced by U+FFFD, one for each
/// longest beginning of a sequence that could have been valid, as the
/// platforms' own string conversions do. Arguments need not be UTF-8, but a
/// notification carries a string, and a bus refuses one that is not.
std::string validUtf8(std::string_view bytes);

/// Posts `text` (made valid UTF-8) as a request and returns at once. Never fails visibly.
void postCommand(const std::string& text);

/// Posts `text` (made valid UTF-8) as a request and waits up to `replyTimeout` for the reply;
/// without a notification center, not at all.
Answer sendAndWait(const std::string& text);
