#import "messaging/foundation_center_calls.h"

void tarnelQuietFoundation(void) {
#ifdef GNUSTEP
  NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
  @try {
    [[NSProcessInfo processInfo] setLogFile:@"/dev/null"];
  } @catch (NSException* exception) {
    // its diagnostics keep going to standard error
  }
  [pool release];
#endif
}

BOOL tarnelPostDistributed(NSString* name, NSString* object) {
  @try {
    [[NSDistributedNotificationCenter defaultCenter] postNotificationName:name
                                                                   object:object
                                                                 userInfo:nil
                                                       deliverImmediately:YES];
    return YES;
  } @catch (NSException* exception) {
    return NO;
  }
}

BOOL tarnelObserveDistributed(id observer, SEL selector, NSString* name) {
  @try {
    // No object filter: replies count from any sender.
    [[NSDistributedNotificationCenter defaultCenter] addObserver:observer
                                                        selector:selector
                                                            name:name
                                                          object:nil
                                              suspensionBehavior:NSNotificationSuspensionBehaviorDeliverImmediately];
    return YES;
  } @catch (NSException* exception) {
    return NO;
  }
}

void tarnelStopObservingDistributed(id observer) {
  @try {
    [[NSDistributedNotificationCenter defaultCenter] removeObserver:observer];
  } @catch (NSException* exception) {
    // nothing was registered that could still call it
  }
}
