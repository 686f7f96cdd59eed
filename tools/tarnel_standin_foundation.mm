// tarnel-standin-foundation: the Foundation twin of tarnel-standin, for the
// tests of the Foundation back end. It observes the command notification of
// the test builds ("dev.tarnel.test.command", app_messaging.h) on the
// distributed notification center (gdnc through GNUstep on Linux, distnoted on
// macOS) and answers with their status notification, carrying the same state
// and taking the same options, apart from the replies that only D-Bus can carry
// (--non-string, --no-arg). Written against Foundation directly, apart from
// the program's own notification center.
#import <Foundation/Foundation.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "messaging/app_messaging.h"
#include "messaging/foundation_center_calls.h"
#include "standin_app.h"

/// A new autoreleased NSString holding the UTF-8 `text`.
static NSString* nsString(std::string_view text) {
  return [[[NSString alloc] initWithBytes:text.data() length:text.size() encoding:NSUTF8StringEncoding] autorelease];
}

@interface TarnelStandin : NSObject {
@public
  standin::App* app;
}
- (void)command:(NSNotification*)notification;
- (void)sendReplies:(NSArray*)texts;
@end

@implementation TarnelStandin
- (void)command:(NSNotification*)notification {
  id object = [notification object];
  if (![object isKindOfClass:[NSString class]] || ![object UTF8String]) return;  // not a command
  std::string command([object UTF8String], [object lengthOfBytesUsingEncoding:NSUTF8StringEncoding]);
  NSMutableArray* replies = [NSMutableArray array];
  for (const auto& text : app->handle(command))
    [replies addObject:nsString(text)];
  if ([replies count] == 0) return;
  if (app->options().delayMs == 0)
    [self sendReplies:replies];
  else
    [self performSelector:@selector(sendReplies:) withObject:replies afterDelay:app->options().delayMs / 1000.0];
}

- (void)sendReplies:(NSArray*)texts {
  for (NSUInteger i = 0; i < [texts count]; ++i)
    if (!tarnelPostDistributed(nsString(statusName), [texts objectAtIndex:i]))
      fputs("tarnel-standin-foundation: cannot send a reply\n", stderr);
}
@end

int main(int argc, char** argv) {
  [[NSAutoreleasePool alloc] init];  // for the set-up; lives as long as the process
  auto options = standin::parseOptions(argc, argv);
  if (!options) return 2;
  standin::App app(*options);
  if (!app.ok()) {
    fprintf(stderr, "tarnel-standin-foundation: cannot open the log: %s\n", strerror(errno));
    return 1;
  }
  TarnelStandin* standin = [[TarnelStandin alloc] init];
  standin->app = &app;
  // Returns once the center has the registration: the tests may post.
  if (!tarnelObserveDistributed(standin, @selector(command:), nsString(commandName))) {
    fputs("tarnel-standin-foundation: no distributed notification center\n", stderr);
    return 1;
  }
  fputs("ready\n", stdout);
  fflush(stdout);
  // Runs until a signal ends the process.
  for (NSRunLoop* loop = [NSRunLoop currentRunLoop];;) {
    NSAutoreleasePool* turn = [[NSAutoreleasePool alloc] init];
    [loop runMode:NSDefaultRunLoopMode beforeDate:[NSDate distantFuture]];
    [turn release];
  }
}
