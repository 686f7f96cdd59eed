// Foundation as far as this project uses it, declared as Apple's reference
// documentation declares each class, method and constant: the SDK's headers
// that scripts/check-macos.sh typechecks against lack Foundation (they bring
// the Objective-C runtime's, objc/NSObject.h, on which this builds). A call
// that is not declared here fails the check; add it as Apple documents it.
// GNUstep's own additions (NSProcessInfo's setLogFile:) are left out on purpose.
#pragma once

#import <objc/NSObject.h>

typedef double NSTimeInterval;
typedef NSUInteger NSStringEncoding;
enum { NSUTF8StringEncoding = 4 };

@class NSDate;

@interface NSString : NSObject
- (instancetype)initWithBytes:(const void*)bytes length:(NSUInteger)len encoding:(NSStringEncoding)encoding;
- (NSUInteger)lengthOfBytesUsingEncoding:(NSStringEncoding)enc;
@property(readonly) const char* UTF8String;
@end

@interface NSArray<__covariant ObjectType> : NSObject
+ (instancetype)array;
- (ObjectType)objectAtIndex:(NSUInteger)index;
@property(readonly) NSUInteger count;
@end

@interface NSMutableArray<ObjectType> : NSArray<ObjectType>
- (void)addObject:(ObjectType)anObject;
@end

@interface NSDictionary<KeyType, ObjectType> : NSObject
@end

@interface NSException : NSObject
@property(readonly, copy) NSString* reason;
@end

@interface NSAutoreleasePool : NSObject
@end

@interface NSDate : NSObject
+ (instancetype)dateWithTimeIntervalSinceNow:(NSTimeInterval)secs;
@property(class, readonly, copy) NSDate* distantFuture;
@property(class, readonly, copy) NSDate* distantPast;
@property(readonly) NSTimeInterval timeIntervalSinceNow;
@end

typedef NSString* NSRunLoopMode;
extern NSRunLoopMode const NSDefaultRunLoopMode;

@interface NSRunLoop : NSObject
@property(class, readonly, strong) NSRunLoop* currentRunLoop;
- (BOOL)runMode:(NSRunLoopMode)mode beforeDate:(NSDate*)limitDate;
@end

@interface NSObject (NSDelayedPerforming)
- (void)performSelector:(SEL)aSelector withObject:(id)anArgument afterDelay:(NSTimeInterval)delay;
@end

typedef NSString* NSNotificationName;

@interface NSNotification : NSObject
@property(readonly, copy) NSNotificationName name;
@property(readonly, retain) id object;
@end

@interface NSNotificationCenter : NSObject
- (void)removeObserver:(id)observer;
@end

typedef enum : NSUInteger {
  NSNotificationSuspensionBehaviorDrop = 1,
  NSNotificationSuspensionBehaviorCoalesce = 2,
  NSNotificationSuspensionBehaviorHold = 3,
  NSNotificationSuspensionBehaviorDeliverImmediately = 4,
} NSNotificationSuspensionBehavior;

// Distributed notifications carry a string as their object, or none.
@interface NSDistributedNotificationCenter : NSNotificationCenter
+ (NSDistributedNotificationCenter*)defaultCenter;
- (void)addObserver:(id)observer
           selector:(SEL)selector
               name:(NSNotificationName)name
             object:(NSString*)object
 suspensionBehavior:(NSNotificationSuspensionBehavior)suspensionBehavior;
- (void)postNotificationName:(NSNotificationName)name
                      object:(NSString*)object
                    userInfo:(NSDictionary*)userInfo
          deliverImmediately:(BOOL)deliverImmediately;
@end
