#include "messaging/app_messaging.h"

#include <memory>
#include <mutex>

#include "messaging/notification_center.h"

namespace {

/// Holds the application's reply between the observer that receives it and
/// `sendAndWait`, which reads it once the wait is over.
class ReplyBox {
public:
  std::mutex lock;                   ///< guards every read and write of `value`
  std::optional<std::string> value;  ///< the reply; a later one replaces an earlier one
};

// The objects of the one exchange a run makes, made by `sendAndWait` in this
// order and kept until the process ends.
std::unique_ptr<ReplyBox> box;
std::unique_ptr<NotificationCenter> center;
NotificationCenter::Observer observer;  ///< the reply callback as registered with `center`

/// The reply callback: keeps the reply and ends the wait.
void onReply(const std::string& object) {
  {
    std::lock_guard guard(box->lock);
    box->value = object;
  }
  center->stop();
}

}  // namespace

void postCommand(const std::string& text) { defaultCenter()->post(commandName, text); }

std::optional<std::string> sendAndWait(const std::string& text) {
  box = std::make_unique<ReplyBox>();
  center = defaultCenter();
  observer = onReply;
  // Observe before posting, so that an immediate reply is not lost.
  center->addObserver(statusName, observer);
  center->post(commandName, text);
  center->run(replyTimeout);
  center->removeObserver();
  std::lock_guard guard(box->lock);
  return box->value;
}
