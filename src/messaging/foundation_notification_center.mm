// The user's notification center through Foundation: the distributed
// notification center, which the Tarnel application observes and posts to.
// One source for Apple's Foundation (distnoted) and GNUstep Base (gdnc) on
// Linux. GNUstep builds with gcc's Objective-C runtime, which has no ARC, no
// blocks and no @autoreleasepool: memory is managed by hand, every call that
// makes autoreleased objects runs inside an NSAutoreleasePool, and the observer
// is a small object with a selector.
#import <Foundation/Foundation.h>

#include <exception>
#include <string>
#include <utility>

#include "messaging/foundation_center_calls.h"
#include "messaging/notification_center.h"

/// Receives the notifications that one FoundationNotificationCenter observes.
@interface TarnelNotificationObserver : NSObject {
@public
  // The FoundationNotificationCenter, untyped: gcc cannot encode a C++ class
  // with a virtual table into the Objective-C type of an instance variable.
  void* center;
}
- (void)deliver:(NSNotification*)notification;
@end

namespace {

/// A new autoreleased NSString holding the UTF-8 `text`; nil when it is not UTF-8.
NSString* makeString(std::string_view text) {
  return [[[NSString alloc] initWithBytes:text.data() length:text.size() encoding:NSUTF8StringEncoding]
      autorelease];
}

/// Drains the autorelease pool it made when it goes.
class PoolScope {
public:
  PoolScope() : pool_([[NSAutoreleasePool alloc] init]) {}
  ~PoolScope() { [pool_ release]; }
  PoolScope(const PoolScope&) = delete;
  PoolScope& operator=(const PoolScope&) = delete;

private:
  NSAutoreleasePool* pool_;
};

/// What is missing when no distributed notification center answers, and what to do.
#ifdef GNUSTEP
constexpr const char* missingCenter = "no distributed notification center: GNUstep's gdnc does not answer — start it: gdnc";
#else
constexpr const char* missingCenter =
    "no distributed notification center: distnoted does not answer — run this in your login session on the Mac";
#endif

class FoundationNotificationCenter final : public NotificationCenter {
public:
  FoundationNotificationCenter() : observer_([[TarnelNotificationObserver alloc] init]) { observer_->center = this; }

  ~FoundationNotificationCenter() override {
    removeObserver();
    [observer_ release];
  }

  void post(std::string_view name, const std::string& object) override {
    PoolScope pool;
    NSString* nsName = makeString(name);
    NSString* nsObject = makeString(object);
    // Nothing to report when it fails: a post nobody hears has no result either.
    if (nsName && nsObject) (void)tarnelPostDistributed(nsName, nsObject);
  }

  void addObserver(std::string_view name, Observer observer) override {
    removeObserver();
    PoolScope pool;
    NSString* nsName = makeString(name);
    if (!nsName || !tarnelObserveDistributed(observer_, @selector(deliver:), nsName)) return;
    observing_ = true;
    callback_ = std::move(observer);
  }

  void removeObserver() override {
    if (observing_) {
      PoolScope pool;
      tarnelStopObservingDistributed(observer_);
    }
    observing_ = false;
    callback_ = nullptr;
  }

  RunEnd run(std::chrono::duration<double> timeout) override {
    stopped_ = false;
    if (!observing_) return {false, missingCenter};  // nothing can arrive
    PoolScope pool;
    NSDate* deadline = [NSDate dateWithTimeIntervalSinceNow:timeout.count()];
    NSRunLoop* loop = [NSRunLoop currentRunLoop];
    while (!stopped_ && [deadline timeIntervalSinceNow] > 0) {
      PoolScope turn;
      // NO: the loop has no input source left, so no reply can come.
      if (![loop runMode:NSDefaultRunLoopMode beforeDate:deadline]) return {false, missingCenter};
    }
    // After `stop`, what has already arrived is still handled, as the D-Bus
    // back end finishes the batch it is in; only then does the run end.
    for (unsigned seen = ~delivered_; stopped_ && seen != delivered_;) {
      PoolScope turn;
      seen = delivered_;
      [loop runMode:NSDefaultRunLoopMode beforeDate:[NSDate distantPast]];
    }
    return {};
  }

  void stop() override { stopped_ = true; }

  /// Hands a notification's object to the observer when it is a string.
  void deliver(NSNotification* notification) {
    ++delivered_;
    id object = [notification object];
    if (!callback_ || ![object isKindOfClass:[NSString class]]) return;
    const char* bytes = [object UTF8String];
    if (!bytes) return;
    try {
      callback_(std::string(bytes, [object lengthOfBytesUsingEncoding:NSUTF8StringEncoding]));
    } catch (const std::exception&) {
      // no exception may cross the run loop; the reply is lost like one never sent
    }
  }

private:
  TarnelNotificationObserver* observer_;  ///< owned; registered while `observing_`
  Observer callback_;
  bool observing_ = false;
  bool stopped_ = false;
  unsigned delivered_ = 0;  ///< notifications handed to `deliver`, to tell when a batch is done
};

}  // namespace

@implementation TarnelNotificationObserver
- (void)deliver:(NSNotification*)notification {
  if (center) static_cast<FoundationNotificationCenter*>(center)->deliver(notification);
}
@end

std::unique_ptr<NotificationCenter> defaultCenter() {
  tarnelQuietFoundation();
  return std::make_unique<FoundationNotificationCenter>();
}
