#include "messaging/app_messaging.h"

#include <memory>

#include "messaging/notification_center.h"

namespace {

/// Holds the application's reply between the observer that receives it and
/// `sendAndWait`, which reads it once the wait is over. Both run on the one
/// thread that runs the center, so no lock guards it.
struct ReplyBox {
  std::optional<std::string> value;  ///< the reply; a later one replaces an earlier one
};

/// One UTF-8 sequence at the start of some bytes: how many bytes it takes and
/// whether it is whole and valid. An invalid one is its longest beginning that
/// could still have become valid, at least one byte.
struct Sequence {
  size_t length;
  bool valid;
};

Sequence firstSequence(std::string_view bytes) {
  auto at = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  unsigned char lead = at(0);
  if (lead < 0x80) return {1, true};
  // The range of the first continuation byte excludes overlong forms,
  // surrogates and code points beyond U+10FFFF.
  size_t continuations = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    continuations = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    continuations = 2;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    continuations = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {1, false};
  }
  for (size_t i = 1; i <= continuations; ++i) {
    if (i >= bytes.size() || at(i) < low || at(i) > high) return {i, false};
    low = 0x80;
    high = 0xBF;
  }
  return {continuations + 1, true};
}

}  // namespace

std::string validUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  while (!bytes.empty()) {
    auto sequence = firstSequence(bytes);
    text += sequence.valid ? bytes.substr(0, sequence.length) : std::string_view("\uFFFD");
    bytes.remove_prefix(sequence.length);
  }
  return text;
}

void postCommand(const std::string& text) { defaultCenter()->post(commandName, validUtf8(text)); }

Answer sendAndWait(const std::string& text) {
  ReplyBox box;
  auto center = defaultCenter();
  // The reply callback: keeps the reply and ends the wait.
  auto onReply = [&box, &center = *center](const std::string& reply) {
    box.value = reply;
    center.stop();
  };
  // Observe before posting, so that an immediate reply is not lost.
  center->addObserver(statusName, onReply);
  center->post(commandName, validUtf8(text));
  RunEnd end = center->run(replyTimeout);
  center->removeObserver();
  return {box.value, end.reached ? "" : end.missing};
}
