// The user's notification center on macOS: CoreFoundation's distributed
// notification center, which the Tarnel application observes and posts to.
#include <CoreFoundation/CoreFoundation.h>

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

#include "messaging/notification_center.h"

namespace {

struct Releaser {
  void operator()(CFTypeRef object) const {
    if (object) CFRelease(object);
  }
};
/// Owns one CoreFoundation object that we created.
using StringPtr = std::unique_ptr<std::remove_pointer_t<CFStringRef>, Releaser>;

/// A new CFString holding the UTF-8 `text`; null when `text` is not UTF-8.
StringPtr makeString(std::string_view text) {
  return StringPtr(CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
                                           static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false));
}

/// The UTF-8 text of `object` when it is a CFString, otherwise nothing.
std::optional<std::string> utf8Text(const void* object) {
  if (!object || CFGetTypeID(object) != CFStringGetTypeID()) return std::nullopt;
  auto string = static_cast<CFStringRef>(object);
  CFRange all = CFRangeMake(0, CFStringGetLength(string));
  CFIndex size = 0;
  CFStringGetBytes(string, all, kCFStringEncodingUTF8, 0, false, nullptr, 0, &size);
  std::string text(static_cast<size_t>(size), '\0');
  CFStringGetBytes(string, all, kCFStringEncodingUTF8, 0, false, reinterpret_cast<UInt8*>(text.data()), size,
                   nullptr);
  return text;
}

class DistributedNotificationCenter final : public NotificationCenter {
public:
  ~DistributedNotificationCenter() override { removeObserver(); }

  void post(std::string_view name, const std::string& object) override {
    auto cfName = makeString(name);
    auto cfObject = makeString(object);
    if (!cfName || !cfObject) return;
    CFNotificationCenterPostNotification(CFNotificationCenterGetDistributedCenter(), cfName.get(), cfObject.get(),
                                         nullptr, true);
  }

  void addObserver(std::string_view name, Observer observer) override {
    removeObserver();
    auto cfName = makeString(name);
    if (!cfName) return;
    observer_ = std::move(observer);
    // No object filter: replies count from any sender.
    CFNotificationCenterAddObserver(CFNotificationCenterGetDistributedCenter(), this,
                                    &DistributedNotificationCenter::deliver, cfName.get(), nullptr,
                                    CFNotificationSuspensionBehaviorDeliverImmediately);
    observing_ = true;
  }

  void removeObserver() override {
    if (observing_)
      CFNotificationCenterRemoveObserver(CFNotificationCenterGetDistributedCenter(), this, nullptr, nullptr);
    observing_ = false;
    observer_ = nullptr;
  }

  void run(std::chrono::duration<double> timeout) override {
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, timeout.count(), false);
  }

  void stop() override { CFRunLoopStop(CFRunLoopGetMain()); }

private:
  static void deliver(CFNotificationCenterRef, void* self, CFStringRef, const void* object,
                      CFDictionaryRef) {
    auto* center = static_cast<DistributedNotificationCenter*>(self);
    auto text = utf8Text(object);
    if (!text || !center->observer_) return;
    try {
      center->observer_(*text);
    } catch (const std::exception&) {
      // no exception may cross CoreFoundation; the reply is lost like one never sent
    }
  }

  Observer observer_;
  bool observing_ = false;
};

}  // namespace

std::unique_ptr<NotificationCenter> defaultCenter() { return std::make_unique<DistributedNotificationCenter>(); }
